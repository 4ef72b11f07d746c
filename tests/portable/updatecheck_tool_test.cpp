// The host tool's command line, its JSON, its exit status and its texts.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/loopback_server.h"
#include "tools/check_options.h"
#include "tools/check_report.h"
#include "tools/refusal_explanation.h"
#include "tools/system_message.h"

#ifndef _WIN32
#include "platform/curl_error_map.h"
#endif

namespace qel::tool {
namespace {

struct OptionsCase {
  std::vector<std::string> args;
  bool ok;
  bool json;
  double timeout;
  bool withVersion;
};

TEST(UpdateCheckToolTest, CommandLine) {
  const std::vector<OptionsCase> cases = {
      {{"http://127.0.0.1/v.txt"}, true, false, 90, false},
      {{"--json", "http://h/v"}, true, true, 90, false},
      {{"--timeout", "2.5", "http://h/v", "1", "2", "3"}, true, false, 2.5, true},
      {{"http://h/v", "-1", "+2", "2147483647"}, true, false, 90, true},
      {{"http://h/v", "1", "2"}, false, false, 0, false},
      {{"http://h/v", "1", "2", "x"}, false, false, 0, false},
      {{"http://h/v", "1", "2", "2147483648"}, false, false, 0, false},
      {{"--timeout", "0", "http://h/v"}, false, false, 0, false},
      {{"--timeout", "-3", "http://h/v"}, false, false, 0, false},
      {{"--timeout"}, false, false, 0, false},
      {{"--verbose", "http://h/v"}, false, false, 0, false},
      {{}, false, false, 0, false},
      {{"a", "b"}, false, false, 0, false},
  };
  for (const auto& c : cases) {
    const ParsedOptions parsed = ParseCheckOptions(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    ASSERT_EQ(parsed.options.has_value(), c.ok) << joined << parsed.error;
    if (!c.ok) {
      EXPECT_FALSE(parsed.error.empty()) << joined;
      continue;
    }
    EXPECT_EQ(parsed.options->json, c.json) << joined;
    EXPECT_DOUBLE_EQ(parsed.options->timeoutSeconds, c.timeout) << joined;
    EXPECT_EQ(parsed.options->version.has_value(), c.withVersion) << joined;
  }
  const auto parsed = ParseCheckOptions({"http://h/v", "-1", "+2", "2147483647"});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->url, "http://h/v");
  EXPECT_EQ((*parsed.options->version)[0], -1);
  EXPECT_EQ((*parsed.options->version)[1], 2);
  EXPECT_EQ((*parsed.options->version)[2], 2147483647);
}

CheckReport Completed(int32_t error, std::optional<bool> upgrade,
                      std::optional<std::array<int32_t, 3>> host = std::nullopt) {
  CheckReport r;
  r.hostVersion = host;
  r.stage = CheckStage::kCompleted;
  r.error = error;
  r.description = error == 0 ? u"" : u"A error \u00e9";
  r.values = PublishedValues{2, 0, 15, u"http://x/new", u"line 1\r\nline \"2\"\r\n"};
  r.upgradeAvailable = upgrade;
  return r;
}

TEST(UpdateCheckToolTest, JsonHasExactlyTheDocumentedKeys) {
  const auto json = nlohmann::json::parse(ReportJson(Completed(0, std::nullopt)));
  EXPECT_EQ(json.size(), 9u);
  EXPECT_EQ(json["error"], 0);
  EXPECT_EQ(json["description"], "");
  EXPECT_EQ(json["major"], 2);
  EXPECT_EQ(json["minor"], 0);
  EXPECT_EQ(json["build"], 15);
  EXPECT_EQ(json["updateURL"], "http://x/new");
  EXPECT_EQ(json["versionHistory"], "line 1\r\nline \"2\"\r\n");
  EXPECT_TRUE(json["upgradeAvailable"].is_null());
  EXPECT_TRUE(json["publishedIs"].is_null());

  const auto failed = nlohmann::json::parse(ReportJson(Completed(12029, true)));
  EXPECT_EQ(failed["error"], 12029);
  EXPECT_EQ(failed["description"], "A error \xc3\xa9");
  EXPECT_EQ(failed["upgradeAvailable"], true);

  CheckReport refused;
  refused.stage = CheckStage::kStartRefused;
  refused.error = -2147219003;
  refused.description = u"This object is already processing a request. New request rejected.";
  const auto onlyError = nlohmann::json::parse(ReportJson(refused));
  EXPECT_EQ(onlyError.size(), 2u);
  EXPECT_EQ(onlyError["error"], -2147219003);
}

TEST(UpdateCheckToolTest, ExitStatusIsOneOnlyWhenThePublishedVersionIsNewer) {
  EXPECT_EQ(ExitStatus(Completed(0, std::nullopt)), 0);
  // Published 2.0.15; the object's answer (a difference) is passed on as it is.
  struct Case {
    std::array<int32_t, 3> host;
    const char* publishedIs;
    int status;
  };
  for (const Case& c : std::vector<Case>{{{2, 0, 14}, "newer", 1},
                                         {{1, 9, 99}, "newer", 1},
                                         {{-1, 0, 0}, "newer", 1},
                                         {{2, 0, 15}, "same", 0},
                                         {{2, 0, 16}, "older", 0},
                                         {{2, 1, 0}, "older", 0},
                                         {{3, -5, -5}, "older", 0}}) {
    const bool differs = c.host != std::array<int32_t, 3>{2, 0, 15};
    const CheckReport report = Completed(0, differs, c.host);
    EXPECT_EQ(ExitStatus(report), c.status) << c.publishedIs;
    const auto json = nlohmann::json::parse(ReportJson(report));
    EXPECT_EQ(json["publishedIs"], c.publishedIs);
    EXPECT_EQ(json["upgradeAvailable"], differs);
    EXPECT_NE(ReportText(report).find(std::string("Published version is ") +
                                      (c.status == 1 ? "newer than" : "")),
              std::string::npos);
  }
  EXPECT_EQ(ExitStatus(Completed(-2147219000, false)), 2);
  EXPECT_EQ(ExitStatus(Completed(12029, true)), 2);
  for (const CheckStage stage :
       {CheckStage::kNoObject, CheckStage::kStartRefused, CheckStage::kTimedOut}) {
    CheckReport r;
    r.stage = stage;
    r.error = 1;
    EXPECT_EQ(ExitStatus(r), 2);
    EXPECT_EQ(FailureLine(r).find('\n'), std::string::npos);
  }
}

TEST(UpdateCheckToolTest, ReadableOutputNamesTheSystemMessage) {
  const std::string text = ReportText(Completed(12029, std::nullopt));
  EXPECT_NE(text.find("12029"), std::string::npos);
  // The system's own wording differs between Windows versions and Wine.
  EXPECT_NE(text.find("System message: "), std::string::npos) << text;
  const std::string ok = ReportText(Completed(0, true));
  EXPECT_NE(ok.find("2.0.15"), std::string::npos);
  EXPECT_NE(ok.find("Upgrade available: yes"), std::string::npos);
}

TEST(UpdateCheckToolTest, TheComponentsOwnNumbersGetItsOwnTexts) {
  const std::vector<std::pair<int32_t, std::string>> own = {
      {6, "a number in the version file is beyond the signed 32-bit range (Overflow)"},
      {7, "the update checker ran out of memory (Out of memory)"},
      {51, "the update checker failed inside (Internal error)"},
      {223, "the version file is larger than 16 MiB; the download was stopped"},
      {12002, "the server did not answer in time"},
      {uceBusy, "the object is already processing a request; the new one was rejected"},
      {uceAsync, "the update checker could not start the request"},
      {uceInvalidFile,
       "the downloaded text is not a valid version file for this URL (updatecheck lint tells "
       "why)"},
  };
  for (const auto& [number, text] : own) {
    EXPECT_EQ(CheckErrorMessage(number), text) << number;
    const std::string report = ReportText(Completed(number, std::nullopt));
    EXPECT_NE(report.find("  Meaning: " + text + "\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("System message"), std::string::npos) << report;
    EXPECT_NE(FailureLine(Completed(number, std::nullopt)).find(text), std::string::npos);
  }
  // The TLS failures, whichever build reports them.
  for (const int32_t number : {12037, 12038, 12044, 12045, 12057, 12157, 12175}) {
    EXPECT_NE(CheckErrorMessage(number), "") << number;
    EXPECT_NE(ReportText(Completed(number, std::nullopt)).find("System message: "),
              std::string::npos);
  }
#ifndef _WIN32
  EXPECT_EQ(CheckErrorMessage(12037), "The date in the certificate is invalid or has expired");
  EXPECT_EQ(CheckErrorMessage(12038),
            "The host name in the certificate is invalid or does not match");
  EXPECT_EQ(CheckErrorMessage(12045), "The certificate authority is invalid or incorrect");
  EXPECT_EQ(CheckErrorMessage(12175), "A security error occurred");
  // Every number the WinINet stand-in can report has a text: its own
  // refusals, and each libcurl failure as it maps it.
  for (const int32_t number : {6, 8, 87, 122, 223, 12005, 12006, 12017, 12018, 12150}) {
    EXPECT_NE(SystemMessage(number), "") << number;
  }
  for (int code = 1; code < CURL_LAST; ++code) {
    const auto number =
        static_cast<int32_t>(platform::InternetErrorFromCurl(static_cast<CURLcode>(code)));
    EXPECT_NE(SystemMessage(number), "") << "curl " << code << " as " << number;
  }
#endif
}

// The second fetch that explains a refusal, against the loopback server.
TEST(UpdateCheckToolTest, ARefusedFileIsExplainedByASecondFetch) {
  test::LoopbackServer server;
  const std::string good = "/v.txt";
  server.Put(good, "file=" + server.Url("/elsewhere.txt") +
                       "\r\nmajor=2\r\nminor=0\r\nbuild=1\r\nupdate=u\r\nh\r\n");
  const auto lines = [&](const std::string& path) {
    const std::u16string url = server.UrlText(path);
    return ExplainRefusal(url, FetchAgain(url, 10));
  };
  const auto named = lines(good);
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].rfind("line 1: `file=` names " + server.Url("/elsewhere.txt"), 0), 0u)
      << named[0];

  for (const auto& [code, said] : std::vector<std::pair<int, std::string>>{
           {404, "the server answered 404 Not Found"},
           {407, "the server answered 407 Proxy Authentication Required"}}) {
    const auto explained = lines("/status/" + std::to_string(code));
    ASSERT_EQ(explained.size(), 2u) << code;
    EXPECT_EQ(explained[0], said);
    EXPECT_NE(explained[1].find("HTML page"), std::string::npos) << explained[1];
  }
  const Fetched refused = FetchAgain(
      Utf8ToText("http://127.0.0.1:" + std::to_string(server.RefusedPort()) + "/v.txt"), 10);
  EXPECT_EQ(refused.error, 12029);
  EXPECT_EQ(StatusLine(599, "Odd"), "599 Odd");
}

}  // namespace
}  // namespace qel::tool
