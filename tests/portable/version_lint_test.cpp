// updatecheck lint and make: the first broken rule of each refused file, the
// warnings about accepted ones, and files made to be accepted.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "tools/publish/version_lint.h"
#include "tools/publish/version_maker.h"

namespace qel::tool {
namespace {

constexpr char kUrl[] = "https://a/x.txt";

std::string File(const std::string& first, const std::string& rest =
                                               "major=2\r\nminor=1\r\n"
                                               "build=40\r\nupdate=u\r\nh\r\n") {
  return first + rest;
}

struct BrokenCase {
  const char* name;
  std::string bytes;
  LintRule rule;
  size_t line;
  const char* says;  // part of the message
};

TEST(VersionLintTest, EachBrokenFileNamesItsFirstRuleAndLine) {
  const std::string good = File("file=https://a/x.txt\r\n");
  const std::vector<BrokenCase> cases = {
      {"empty", "", LintRule::kEmptyFile, 1, "empty"},
      {"UTF-8 BOM", "\xEF\xBB\xBF" + good, LintRule::kByteOrderMark, 0, "byte 0: UTF-8"},
      {"UTF-16 BOM", "\xFF\xFE" + good, LintRule::kByteOrderMark, 0, "byte 0: UTF-16"},
      {"gzip", "\x1F\x8B\x08" + good, LintRule::kCompressed, 0, "byte 0: gzip"},
      {"LF only", "file=https://a/x.txt\nmajor=2\nminor=1\nbuild=40\nupdate=u\nh\n",
       LintRule::kLineFeedOnly, 1, "LF only"},
      {"one LF", "file=https://a/x.txt\r\nmajor=2\r\nminor=1\nbuild=40\r\nupdate=u\r\nh\r\n",
       LintRule::kLineFeedOnly, 3, "LF only"},
      {"CR only", "file=https://a/x.txt\rmajor=2\rminor=1\rbuild=40\rupdate=u\rh\r",
       LintRule::kCarriageReturnOnly, 1, "CR only"},
      {"404 page", "<html><body>Not Found</body></html>", LintRule::kHtmlPage, 1, "HTML"},
      {"blank line", "file=https://a/x.txt\r\n\r\nmajor=2\r\n", LintRule::kBlankLine, 2,
       "blank line"},
      {"upper-case key", File("file=https://a/x.txt\r\n", "MAJOR=2\r\n"), LintRule::kKeyCase, 2,
       "`MAJOR=`"},
      {"space before key", File("file=https://a/x.txt\r\n", " major=2\r\n"),
       LintRule::kSpaceBeforeKey, 2, "space before `major=`"},
      {"space before =", File("file=https://a/x.txt\r\n", "major =2\r\n"),
       LintRule::kSpaceBeforeEquals, 2, "space before the ="},
      {"keys out of order", File("file=https://a/x.txt\r\n", "minor=1\r\nmajor=2\r\n"),
       LintRule::kKeyOutOfOrder, 2, "`minor=` found where `major=`"},
      {"key missing", File("file=https://a/x.txt\r\n", "version=2\r\n"), LintRule::kKeyMissing, 2,
       "expected `major=`"},
      {"file ends early", "file=https://a/x.txt\r\nmajor=2\r\n", LintRule::kKeyMissing, 3,
       "ends where `minor=`"},
      {"http for https", File("file=http://a/x.txt\r\n"), LintRule::kFileNameDiffers, 1,
       "`file=` names http://a/x.txt but the URL is https://a/x.txt"},
      {"empty value", File("file=https://a/x.txt\r\n", "major=2\r\nminor=\r\n"),
       LintRule::kEmptyValue, 3, "`minor=` has no value"},
      {"major 0", File("file=https://a/x.txt\r\n", "major=0.4\r\n"), LintRule::kMajorZero, 2,
       "reads as 0"},
      {"overflow", File("file=https://a/x.txt\r\n", "major=2\r\nminor=1\r\nbuild=2147483648\r\n"),
       LintRule::kOverflow, 4, "beyond the signed 32-bit range"},
      {"no history", "file=https://a/x.txt\r\nmajor=2\r\nminor=1\r\nbuild=4\r\nupdate=u\r\n",
       LintRule::kNoHistory, 6, "nothing follows"},
      // A good file, but one byte more than a check downloads.
      {"over 16 MiB", good + std::string(kMaxVersionFileBytes + 1 - good.size(), 'h'),
       LintRule::kTooLarge, 0, "the file is 16777217 bytes, larger than 16 MiB (16777216 bytes)"},
  };
  std::set<std::string> messages;
  for (const BrokenCase& c : cases) {
    const LintResult result = LintVersionFile(c.bytes, Utf8ToText(kUrl));
    EXPECT_FALSE(result.accepted) << c.name;
    EXPECT_EQ(result.overflow, c.rule == LintRule::kOverflow) << c.name;
    EXPECT_EQ(result.tooLarge, c.rule == LintRule::kTooLarge) << c.name;
    ASSERT_TRUE(result.error) << c.name;
    EXPECT_EQ(result.error->kind, c.rule) << c.name << ": " << result.error->message;
    EXPECT_EQ(result.error->line, c.line) << c.name << ": " << result.error->message;
    EXPECT_NE(result.error->message.find(c.says), std::string::npos)
        << c.name << ": " << result.error->message;
    EXPECT_FALSE(result.error->hint.empty()) << c.name;
    EXPECT_EQ(result.error->message.find('\n'), std::string::npos) << c.name;
    EXPECT_TRUE(messages.insert(result.error->message).second) << c.name << " repeats a message";
  }
}

struct WarnedCase {
  const char* name;
  std::string rest;
  LintWarning warning;  // the first
  size_t line;
  size_t count = 1;
};

TEST(VersionLintTest, AcceptedFilesWarnAboutValuesProbablyNotMeant) {
  const std::vector<WarnedCase> cases = {
      {"fraction", "major=2.6\r\nminor=1\r\nbuild=40\r\nupdate=u\r\nh\r\n",
       LintWarning::kRoundedFraction, 2},
      {"trailing text", "major=2\r\nminor=1\r\nbuild=40b\r\nupdate=u\r\nh\r\n",
       LintWarning::kTrailingText, 4},
      {"not a number", "major=2\r\nminor=one\r\nbuild=40\r\nupdate=u\r\nh\r\n",
       LintWarning::kNotANumber, 3},
      {"hexadecimal", "major=&H2\r\nminor=1\r\nbuild=40\r\nupdate=u\r\nh\r\n",
       LintWarning::kRadixNumber, 2},
      {"update spaces", "major=2\r\nminor=1\r\nbuild=40\r\nupdate=u \r\nh\r\n",
       LintWarning::kUpdateSpaces, 5},
      {"UTF-8 history", "major=2\r\nminor=1\r\nbuild=40\r\nupdate=u\r\nh\r\nCaf\xC3\xA9\r\n",
       LintWarning::kUtf8InHistory, 7},
      {"beyond ASCII", "major=2\r\nminor=1\r\nbuild=40\r\nupdate=u\r\nh\r\nCaf\xE9\r\n",
       LintWarning::kBeyondAscii, 7},
      {"no final CR LF", "major=2\r\nminor=1\r\nbuild=40\r\nupdate=u\r\nh",
       LintWarning::kHistoryWithoutCrLf, 6},
      {"last line LF only", "major=2\r\nminor=1\r\nbuild=40\r\nupdate=u\r\nh\nx\r\ny\n",
       LintWarning::kHistoryWithoutCrLf, 8},
      {"negative", "major=2\r\nminor=-1\r\nbuild=40\r\nupdate=u\r\nh\r\n",
       LintWarning::kNegativeNumber, 3},
      // &HFFFF reads as -1: hexadecimal, and negative too.
      {"16-bit hexadecimal", "major=2\r\nminor=1\r\nbuild=&HFFFF\r\nupdate=u\r\nh\r\n",
       LintWarning::kRadixNumber, 4, 2},
      {"zero-padded", "major=2\r\nminor=1\r\nbuild=040\r\nupdate=u\r\nh\r\n",
       LintWarning::kZeroPadded, 4},
  };
  for (const WarnedCase& c : cases) {
    const LintResult result =
        LintVersionFile(File("file=https://a/x.txt\r\n", c.rest), Utf8ToText(kUrl));
    EXPECT_TRUE(result.accepted) << c.name;
    ASSERT_EQ(result.warnings.size(), c.count) << c.name;
    EXPECT_EQ(result.warnings[0].kind, c.warning) << c.name << ": " << result.warnings[0].message;
    EXPECT_EQ(result.warnings[0].line, c.line) << c.name << ": " << result.warnings[0].message;
  }
  const LintResult clean = LintVersionFile(File("file=https://a/x.txt\r\n"), Utf8ToText(kUrl));
  EXPECT_TRUE(clean.accepted);
  EXPECT_TRUE(clean.warnings.empty());
  EXPECT_EQ(clean.values.build, 40);
  EXPECT_EQ(clean.values.versionHistory, u"h\r\n");
}

TEST(VersionMakerTest, WritesCrLfAndWindows1252ThatTheParserAccepts) {
  const MadeVersionFile made =
      MakeVersionFile(kUrl, "2.1.40", "https://a/setup.exe",
                      "\xEF\xBB\xBFNew:\n - Caf\xC3\xA9 \xE2\x80\x93 fast\n");
  ASSERT_EQ(made.error, "");
  EXPECT_EQ(
      made.bytes,
      "file=https://a/x.txt\r\nmajor=2\r\nminor=1\r\nbuild=40\r\nupdate=https://a/setup.exe\r\n"
      "New:\r\n - Caf\xE9 \x96 fast\r\n");
  ASSERT_EQ(made.warnings.size(), 1u);
  EXPECT_EQ(made.warnings[0].rfind("line 7: `\xC3\xA9` (U+00E9) is beyond ASCII", 0), 0u)
      << made.warnings[0];
  EXPECT_EQ(LintVersionFile(made.bytes, Utf8ToText(kUrl)).values.versionHistory,
            u"New:\r\n - Caf\u00e9 \u2013 fast\r\n");
  EXPECT_EQ(MakeVersionFile(kUrl, "-3.00.7", "u", "").bytes,
            "file=https://a/x.txt\r\nmajor=-3\r\nminor=0\r\nbuild=7\r\nupdate=u\r\nVersion "
            "-3.0.7\r\n");
}

// make refuses what lint would refuse, and warns as it writes about what lint
// would warn about: what it writes lints with exactly the warnings it gave.
TEST(VersionMakerTest, RoundTripsThroughLint) {
  struct Case {
    std::string url;
    const char* version;
    std::string update;
    std::string history;
    const char* refused;  // part of the error; null when written
    std::vector<LintWarning> linted;
    size_t ownWarnings;  // make's own, about numbers it wrote otherwise than given
  };
  const std::string url = kUrl;
  const std::vector<Case> cases = {
      {url, "2.1.40", "u", "", nullptr, {}, 0},
      {url, "2.0.0", "u", "one\r\ntwo", nullptr, {}, 0},
      {url, "2147483647.-2147483648.0", "u", "h", nullptr, {LintWarning::kNegativeNumber}, 0},
      {url, "-3.0.7", "u", "", nullptr, {LintWarning::kNegativeNumber}, 0},
      {url, "2.01.-007", "u", "", nullptr, {LintWarning::kNegativeNumber}, 2},
      {url, "2.1.4", "u \t", "", nullptr, {LintWarning::kUpdateSpaces}, 0},
      {url, "2.1.4", " u", "", nullptr, {LintWarning::kUpdateSpaces}, 0},
      {url, "2.1.4", "u", "Caf\xC3\xA9\n", nullptr, {LintWarning::kBeyondAscii}, 0},
      {url + " ", "2.1.4", "u", "", "--url begins or ends with a space", {}, 0},
      {" " + url, "2.1.4", "u", "", "--url begins or ends with a space", {}, 0},
      {url + "\t", "2.1.4", "u", "", "--url begins or ends with a space or tab", {}, 0},
      {"https://a/\xE4\xB8\xAD.txt", "2.1.4", "u", "", "cannot repeat the URL", {}, 0},
      {"https://a/x\r.txt", "2.1.4", "u", "", "--url must be one line", {}, 0},
      {"", "2.1.4", "u", "", "--url is empty", {}, 0},
      {url, "0.1.2", "u", "", "major is 0", {}, 0},
      {url, "2.1", "u", "", "MAJOR.MINOR.BUILD", {}, 0},
      {url, "2.1.2147483648", "u", "", "MAJOR.MINOR.BUILD", {}, 0},
      {url, "2.1.4", "", "", "--update is empty", {}, 0},
      {url, "2.1.4", "a\r\nb", "", "one line", {}, 0},
      {url, "2.1.4", std::string("a\0b", 3), "", "NUL", {}, 0},
      {url,
       "2.1.4",
       "u",
       "ok\n\xE4\xB8\xAD\n",
       "the history, line 2: `\xE4\xB8\xAD` (U+4E2D)",
       {},
       0},
      {url, "2.1.4", "\xF0\x9F\x98\x80", "", "(U+1F600) cannot be written in Windows-1252", {}, 0},
      {url, "2.1.4", "u", "\xC3", "not UTF-8", {}, 0},
      // Against a cap of 1 KiB, as lint's cap is tested against the real one.
      {url, "2.1.4", "u", std::string(1024 - 61, 'h'), nullptr, {}, 0},
      {url,
       "2.1.4",
       "u",
       std::string(1024 - 60, 'h'),
       "would be 1025 bytes, larger than 1024 bytes: a check of it ends with error 223",
       {},
       0},
  };
  for (const Case& c : cases) {
    const std::string name = c.url + " " + c.version + " " + c.update;
    const MadeVersionFile made = MakeVersionFile(c.url, c.version, c.update, c.history, 1024);
    if (c.refused) {
      EXPECT_TRUE(made.bytes.empty()) << name;
      EXPECT_NE(made.error.find(c.refused), std::string::npos) << name << ": " << made.error;
      continue;
    }
    ASSERT_EQ(made.error, "") << name;
    const LintResult lint = LintVersionFile(made.bytes, Utf8ToText(c.url), 1024);
    EXPECT_TRUE(lint.accepted) << name;
    EXPECT_FALSE(lint.error) << name;
    std::vector<LintWarning> kinds;
    for (const auto& warning : lint.warnings) {
      kinds.push_back(warning.kind);
      EXPECT_NE(std::find(made.warnings.begin(), made.warnings.end(), warning.message),
                made.warnings.end())
          << name << ": make did not say " << warning.message;
    }
    EXPECT_EQ(kinds, c.linted) << name;
    EXPECT_EQ(made.warnings.size(), c.linted.size() + c.ownWarnings) << name;
  }
}

}  // namespace
}  // namespace qel::tool
