#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "service/clsVersionTest.h"

namespace qel {
namespace {

// What the parser publishes, compared as a whole.
struct Published {
  int32_t lMajor;
  int32_t lMinor;
  int32_t lBuild;
  std::u16string strUpdateURL;
  std::u16string strVersionHistory;

  bool operator==(const Published&) const = default;
};

void PrintTo(const Published& values, std::ostream* os) {
  *os << values.lMajor << '.' << values.lMinor << '.' << values.lBuild << " update \""
      << TextToUtf8(values.strUpdateURL) << "\" history \"" << TextToUtf8(values.strVersionHistory)
      << '"';
}

Published ReadPublished(const clsVersionTest& test) {
  return {test.Major(), test.Minor(), test.Build(), test.UpdateURL(), test.VersionHistory()};
}

enum class Outcome { kTrue, kFalse, kOverflow };
using enum Outcome;

// Runs ExtractData and says how it ended, the overflow error included.
Outcome Extract(clsVersionTest& test, const std::u16string& strFilename,
                const std::u16string& strFileData) {
  try {
    return test.ExtractData(strFilename, strFileData) ? kTrue : kFalse;
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), kErrOverflow);
    return kOverflow;
  }
}

const std::u16string kName = u"http://127.0.0.1/app/version.txt";

// The lines of a text, each followed by CR LF, and then the history.
std::u16string Lines(std::initializer_list<std::u16string> lines, const std::u16string& strRest) {
  std::u16string strText;
  for (const std::u16string& strLine : lines) strText += strLine + u"\r\n";
  return strText + strRest;
}

// The fields of a well-formed file; a case changes the ones it is about.
struct Fields {
  std::u16string strFile = kName;
  std::u16string strMajor = u"2";
  std::u16string strMinor = u"3";
  std::u16string strBuild = u"15";
  std::u16string strUpdate = u"new-url";
  std::u16string strHistory = u"line one\r\nline two\r\n";
};

std::u16string File(const Fields& fields) {
  return Lines({u"file=" + fields.strFile, u"major=" + fields.strMajor, u"minor=" + fields.strMinor,
                u"build=" + fields.strBuild, u"update=" + fields.strUpdate},
               fields.strHistory);
}

// What an object holds after an earlier successful parse, and what the file
// of Fields publishes, so that old and new values can be told apart.
const Published kOld{7, 8, 9, u"old-url", u"old history\r\n"};
const Published kNew{2, 3, 15, u"new-url", u"line one\r\nline two\r\n"};

clsVersionTest ObjectWithOldValues() {
  clsVersionTest test;
  const bool bAccepted = test.ExtractData(kName, File({.strMajor = u"7",
                                                       .strMinor = u"8",
                                                       .strBuild = u"9",
                                                       .strUpdate = u"old-url",
                                                       .strHistory = u"old history\r\n"}));
  EXPECT_TRUE(bAccepted);
  EXPECT_EQ(ReadPublished(test), kOld);
  return test;
}

struct ParseCase {
  const char* szWhat;
  std::u16string strFileData;
  Outcome outcome;
  Published expected;
};

void PrintTo(const ParseCase& row, std::ostream* os) { *os << row.szWhat; }

// Each step at which a parse can end.
std::vector<ParseCase> FailureCases() {
  return {
      {"file value differs", File({.strFile = u"other.txt"}), kFalse, kOld},
      {"major value empty", File({.strMajor = u""}), kFalse, kOld},
      {"major reads as 0", File({.strMajor = u"0"}), kFalse, kOld},
      {"major overflows", File({.strMajor = u"2147483648"}), kOverflow, kOld},
      {"minor value empty", File({.strMinor = u""}), kFalse, kOld},
      {"minor overflows", File({.strMinor = u"-2147483649"}), kOverflow, kOld},
      {"build value empty", File({.strBuild = u""}), kFalse, kOld},
      {"build overflows", File({.strBuild = u"2147483648"}), kOverflow, kOld},
      {"update value empty", File({.strUpdate = u""}), kFalse, kOld},
      {"version history empty", File({.strHistory = u""}), kFalse, kOld},
      {"success", File({}), kTrue, kNew},
  };
}

// The well-formed file with the first `strFrom` in it replaced by `strTo`.
std::u16string Edited(const std::u16string& strFrom, const std::u16string& strTo) {
  std::u16string strText = File({});
  return strText.replace(strText.find(strFrom), strFrom.size(), strTo);
}

// Texts that are not the version file asked for.
std::vector<ParseCase> RejectedCases() {
  std::u16string strLfOnly = File({});
  for (std::size_t lPos = strLfOnly.find(u"\r\n"); lPos != std::u16string::npos;
       lPos = strLfOnly.find(u"\r\n", lPos)) {
    strLfOnly.erase(lPos, 1);
  }
  const std::u16string strFileLine = u"file=" + kName;
  return {
      {"file value in another case", File({.strFile = u"HTTP://127.0.0.1/app/version.txt"}), kFalse,
       kOld},
      {"file value with a trailing space", File({.strFile = kName + u" "}), kFalse, kOld},
      {"file value naming another file", File({.strFile = u"http://127.0.0.1/app/other.txt"}),
       kFalse, kOld},
      {"file key in upper case", Edited(u"file=", u"FILE="), kFalse, kOld},
      {"space before the file key", Edited(u"file=", u" file="), kFalse, kOld},
      {"space before the = of file", Edited(u"file=", u"file ="), kFalse, kOld},
      {"byte-order mark before the file key", Edited(u"file=", u"\uFEFFfile="), kFalse, kOld},
      {"lines ending in LF alone", strLfOnly, kFalse, kOld},
      {"lines ending in CR alone", strFileLine + u"\rmajor=2\rminor=3\rbuild=15\rupdate=u\rh",
       kFalse, kOld},
      {"empty text", u"", kFalse, kOld},
      {"file line only", Lines({strFileLine}, u""), kFalse, kOld},
      {"blank line before major", Edited(u"major=", u"\r\nmajor="), kFalse, kOld},
      {"major key in upper case", Edited(u"major=", u"MAJOR="), kFalse, kOld},
      {"space before the major key", Edited(u"major=", u" major="), kFalse, kOld},
      {"space before the = of major", Edited(u"major=", u"major ="), kFalse, kOld},
      {"minor key in upper case", Edited(u"minor=", u"MINOR="), kFalse, kOld},
      {"space before the = of minor", Edited(u"minor=", u"minor ="), kFalse, kOld},
      {"space before the build key", Edited(u"build=", u" build="), kFalse, kOld},
      {"update key in mixed case", Edited(u"update=", u"Update="), kFalse, kOld},
      {"space before the = of update", Edited(u"update=", u"update ="), kFalse, kOld},
      {"ends after the update line with its CR LF", File({.strHistory = u""}), kFalse, kOld},
      {"ends after the update line without CR LF",
       strFileLine + u"\r\nmajor=2\r\nminor=3\r\nbuild=15\r\nupdate=new-url", kFalse, kOld},
      {"ends after the build line", Lines({strFileLine, u"major=2", u"minor=3", u"build=15"}, u""),
       kFalse, kOld},
  };
}

// Files that are accepted, and exactly what they publish.
std::vector<ParseCase> AcceptedCases() {
  const std::u16string strHistory = kNew.strVersionHistory;
  const std::u16string strSetup = u"http://127.0.0.1/app/setup.exe";
  const std::u16string strUrl = kNew.strUpdateURL;
  return {
      {"numbers 2, 0 and 15 with a two-line history",
       File({.strMinor = u"0", .strUpdate = strSetup}),
       kTrue,
       {2, 0, 15, strSetup, strHistory}},
      {"history of one CR LF", File({.strHistory = u"\r\n"}), kTrue, {2, 3, 15, strUrl, u"\r\n"}},
      {"minor and build of a space and a letter",
       File({.strMinor = u" ", .strBuild = u"x"}),
       kTrue,
       {2, 0, 0, strUrl, strHistory}},
      {"build at the top of the range",
       File({.strBuild = u"2147483647"}),
       kTrue,
       {2, 3, 2147483647, strUrl, strHistory}},
      {"build at the bottom of the range",
       File({.strBuild = u"-2147483648"}),
       kTrue,
       {2, 3, -2147483647 - 1, strUrl, strHistory}},
      {"update value untrimmed, lone CR and LF inside lines",
       File({.strMajor = u"1\r", .strMinor = u"2\n3", .strUpdate = u"  a\rb\nc  "}),
       kTrue,
       {1, 23, 15, u"  a\rb\nc  ", strHistory}},
      {"history unchanged, keyed lines and blank lines included",
       File({.strHistory = u"file=x\r\n\r\nmajor=9\r\n\r\n"}),
       kTrue,
       {2, 3, 15, strUrl, u"file=x\r\n\r\nmajor=9\r\n\r\n"}},
      {"characters beyond ASCII",
       File({.strUpdate = u"\u00E9\U0001F600", .strHistory = u"\u20AC"}),
       kTrue,
       {2, 3, 15, u"\u00E9\U0001F600", u"\u20AC"}},
  };
}

// Every case starts from an object that holds an earlier successful parse; a
// file that is not accepted leaves all five values as they were.
class VersionTestExtract : public testing::TestWithParam<ParseCase> {};

TEST_P(VersionTestExtract, PublishesOnlyAnAcceptedFile) {
  const ParseCase& row = GetParam();
  clsVersionTest test = ObjectWithOldValues();
  EXPECT_EQ(Extract(test, kName, row.strFileData), row.outcome);
  EXPECT_EQ(ReadPublished(test), row.expected);
}

INSTANTIATE_TEST_SUITE_P(ParseEndsAt, VersionTestExtract, testing::ValuesIn(FailureCases()));
INSTANTIATE_TEST_SUITE_P(Rejected, VersionTestExtract, testing::ValuesIn(RejectedCases()));
INSTANTIATE_TEST_SUITE_P(Accepted, VersionTestExtract, testing::ValuesIn(AcceptedCases()));

TEST(VersionTestParse, NewObjectHoldsZerosAndEmptyText) {
  const clsVersionTest test;
  EXPECT_EQ(ReadPublished(test), (Published{0, 0, 0, u"", u""}));
}

TEST(VersionTestParse, EmptyNameMatchesOnlyAnEmptyFileValue) {
  clsVersionTest test;
  EXPECT_TRUE(test.ExtractData(u"", File({.strFile = u""})));
  EXPECT_FALSE(test.ExtractData(u"", File({.strFile = u"x", .strMajor = u"4"})));
  EXPECT_EQ(ReadPublished(test), kNew);
}

TEST(VersionTestParse, LongHistoryIsKeptWhole) {
  std::u16string strHistory;
  for (int lLine = 0; lLine < 20000; ++lLine) {
    strHistory += u"change " + Utf8ToText(std::to_string(lLine)) + u"\r\n";
  }
  clsVersionTest test;
  ASSERT_TRUE(test.ExtractData(kName, File({.strHistory = strHistory})));
  EXPECT_EQ(test.VersionHistory(), strHistory);
}

struct UpgradeCase {
  int32_t lMajor;
  int32_t lMinor;
  int32_t lBuild;
  bool bAvailable;
};

TEST(VersionTestUpgrade, IsADifferenceNotAnOrder) {
  clsVersionTest test;
  ASSERT_TRUE(test.ExtractData(kName, File({.strMinor = u"0"})));
  const UpgradeCase cases[] = {
      {2, 0, 15, false}, {2, 0, 14, true}, {2, 0, 16, true}, {1, 9, 99, true},
      {3, 0, 0, true},   {2, 1, 15, true}, {0, 0, 0, true},  {-2, 0, 15, true},
  };
  for (const UpgradeCase& row : cases) {
    EXPECT_EQ(test.IsUpgradeAvailable(row.lMajor, row.lMinor, row.lBuild), row.bAvailable)
        << row.lMajor << '.' << row.lMinor << '.' << row.lBuild;
  }
}

TEST(VersionTestUpgrade, NewObjectComparesWithZeros) {
  const clsVersionTest test;
  EXPECT_FALSE(test.IsUpgradeAvailable(0, 0, 0));
  EXPECT_TRUE(test.IsUpgradeAvailable(1, 0, 0));
  EXPECT_TRUE(test.IsUpgradeAvailable(0, 1, 0));
  EXPECT_TRUE(test.IsUpgradeAvailable(0, 0, 1));
  EXPECT_TRUE(test.IsUpgradeAvailable(0, 0, -1));
}

TEST(VersionTestUpgrade, AFailedParseLeavesTheAnswer) {
  clsVersionTest test = ObjectWithOldValues();
  ASSERT_FALSE(test.ExtractData(kName, File({.strMinor = u""})));
  EXPECT_FALSE(test.IsUpgradeAvailable(7, 8, 9));
  EXPECT_TRUE(test.IsUpgradeAvailable(2, 8, 9));
}

}  // namespace
}  // namespace qel
