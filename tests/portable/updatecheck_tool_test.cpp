// The host tool's command line, its JSON and its exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/check_options.h"
#include "tools/check_report.h"

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

CheckReport Completed(int32_t error, std::optional<bool> upgrade) {
  CheckReport r;
  r.stage = CheckStage::kCompleted;
  r.error = error;
  r.description = error == 0 ? u"" : u"A error \u00e9";
  r.values = PublishedValues{2, 0, 15, u"http://x/new", u"line 1\r\nline \"2\"\r\n"};
  r.upgradeAvailable = upgrade;
  return r;
}

TEST(UpdateCheckToolTest, JsonHasExactlyTheDocumentedKeys) {
  const auto json = nlohmann::json::parse(ReportJson(Completed(0, std::nullopt)));
  EXPECT_EQ(json.size(), 8u);
  EXPECT_EQ(json["error"], 0);
  EXPECT_EQ(json["description"], "");
  EXPECT_EQ(json["major"], 2);
  EXPECT_EQ(json["minor"], 0);
  EXPECT_EQ(json["build"], 15);
  EXPECT_EQ(json["updateURL"], "http://x/new");
  EXPECT_EQ(json["versionHistory"], "line 1\r\nline \"2\"\r\n");
  EXPECT_TRUE(json["upgradeAvailable"].is_null());

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

TEST(UpdateCheckToolTest, ExitStatusFollowsDiff) {
  EXPECT_EQ(ExitStatus(Completed(0, std::nullopt)), 0);
  EXPECT_EQ(ExitStatus(Completed(0, false)), 0);
  EXPECT_EQ(ExitStatus(Completed(0, true)), 1);
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

}  // namespace
}  // namespace qel::tool
