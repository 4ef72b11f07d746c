// The host tool's command line, its JSON, its exit status and its texts.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/loopback_server.h"
#include "tools/check/check_options.h"
#include "tools/check/check_report.h"
#include "tools/check/run_check.h"
#include "tools/check/server_ended.h"
#include "tools/doctor/doctor.h"
#include "tools/publish/file_commands.h"
#include "tools/publish/refusal_explanation.h"
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
  r.description = error == 0 ? u"" : u"A error \u00e9\x1b[2J";
  // What a server sent, escapes and bidirectional controls included.
  r.values = PublishedValues{2, 0, 15, u"http://x/new\u202e\x1b]0;t\x07",
                             u"line 1\r\nline \"2\"\r\nlone\rCR\x7f\u0085\u2066\n"};
  r.upgradeAvailable = upgrade;
  return r;
}

// Published 2.0.15. The object's answer (a difference) is passed on as it is;
// after a failed check nothing was published, whatever the object holds.
TEST(UpdateCheckToolTest, WordingJsonAndExitStatusAfterEachOutcome) {
  struct Case {
    const char* name;
    int32_t error;
    std::optional<std::array<int32_t, 3>> host;
    int status;
    const char* publishedIs;  // null: JSON null
    std::vector<std::string> said;
    std::vector<std::string> unsaid;
  };
  const std::vector<Case> cases = {
      {"no version",
       0,
       std::nullopt,
       0,
       nullptr,
       {"Published version: 2.0.15\n", "Update URL: http://x/new\\u202e\\x1b]0;t\\x07\n",
        "  line \"2\"\n  lone\\x0dCR\\x7f\\x85\\u2066\n"},
       {"Upgrade available", "\x1b", "\r", "\x07", "\x7f", "\xc2\x85", "\xe2\x80\xae",
        "\xe2\x81\xa6"}},
      {"same",
       0,
       std::array<int32_t, 3>{2, 0, 15},
       0,
       "same",
       {"Upgrade available: no (the version is the same)\n",
        "Published version is the same as 2.0.15\n"},
       {"differs"}},
      {"older host",
       0,
       std::array<int32_t, 3>{2, 0, 14},
       1,
       "newer",
       {"Upgrade available: yes (the version differs)\n",
        "Published version is newer than 2.0.14\n"},
       {}},
      {"older major",
       0,
       std::array<int32_t, 3>{1, 9, 99},
       1,
       "newer",
       {"Published version is newer than 1.9.99\n"},
       {}},
      {"newer host",
       0,
       std::array<int32_t, 3>{2, 1, 0},
       0,
       "older",
       {"Upgrade available: yes (the version differs)\n",
        "Published version is older than 2.1.0\n"},
       {}},
      {"negative", 0, std::array<int32_t, 3>{3, -5, -5}, 0, "older", {}, {}},
      {"failed",
       12029,
       std::array<int32_t, 3>{1, 0, 0},
       2,
       nullptr,
       {"Check failed: error 12029", "  A error \xc3\xa9\\x1b[2J\n",
        "Nothing was published by this check.\n"},
       {"Upgrade available", "2.0.15", "Published version", "Update URL", "Values held"}},
      {"failed, same values",
       uceInvalidFile,
       std::array<int32_t, 3>{2, 0, 15},
       2,
       nullptr,
       {"Nothing was published by this check.\n"},
       {"Upgrade available", "2.0.15"}},
  };
  for (const Case& c : cases) {
    CheckReport report = Completed(c.error, std::nullopt, c.host);
    if (c.host) report.upgradeAvailable = *c.host != std::array<int32_t, 3>{2, 0, 15};
    EXPECT_EQ(ExitStatus(report), c.status) << c.name;
    const std::string text = ReportText(report);
    for (const std::string& part : c.said) {
      EXPECT_NE(text.find(part), std::string::npos) << c.name << ": " << text;
    }
    for (const std::string& part : c.unsaid) {
      EXPECT_EQ(text.find(part), std::string::npos) << c.name << ": " << text;
    }
    // Every field, always; the values are null after a failure, the
    // comparisons also without a version.
    const auto json = nlohmann::json::parse(ReportJson(report));
    EXPECT_EQ(json.size(), 9u) << c.name;
    EXPECT_EQ(json["error"], c.error) << c.name;
    if (c.error == 0) {
      EXPECT_EQ(json["major"], 2) << c.name;
      // Exact: JSON escapes what it must.
      EXPECT_EQ(json["updateURL"], "http://x/new\u202e\x1b]0;t\x07") << c.name;
      EXPECT_EQ(json["versionHistory"], "line 1\r\nline \"2\"\r\nlone\rCR\x7f\u0085\u2066\n")
          << c.name;
    } else {
      for (const char* key : {"major", "minor", "build", "updateURL", "versionHistory"}) {
        EXPECT_TRUE(json[key].is_null()) << c.name << ": " << key;
      }
    }
    if (c.publishedIs) {
      EXPECT_EQ(json["publishedIs"], c.publishedIs) << c.name;
      EXPECT_EQ(json["upgradeAvailable"], c.status != 0 || std::string(c.publishedIs) != "same")
          << c.name;
    } else {
      EXPECT_TRUE(json["publishedIs"].is_null()) << c.name;
      EXPECT_TRUE(json["upgradeAvailable"].is_null()) << c.name;
    }
  }
  EXPECT_EQ(nlohmann::json::parse(ReportJson(Completed(12029, true)))["description"],
            "A error \xc3\xa9\x1b[2J");
  // The explanation and the stderr line carry a server's reason phrase.
  CheckReport invalid = Completed(uceInvalidFile, std::nullopt);
  invalid.explanation = {"the server answered " + StatusLine(599, u"\u202eOdd\x1b[2J")};
  EXPECT_NE(ReportText(invalid).find("  Why: the server answered 599 \\u202eOdd\\x1b[2J\n"),
            std::string::npos)
      << ReportText(invalid);
  EXPECT_EQ(FailureLine(invalid).find('\x1b'), std::string::npos) << FailureLine(invalid);

  CheckReport refused;
  refused.stage = CheckStage::kStartRefused;
  refused.error = -2147219003;
  refused.description = u"This object is already processing a request. New request rejected.";
  const auto onlyError = nlohmann::json::parse(ReportJson(refused));
  EXPECT_EQ(onlyError.size(), 2u);
  EXPECT_EQ(onlyError["error"], -2147219003);
  for (const CheckStage stage : {CheckStage::kNoObject, CheckStage::kStartRefused,
                                 CheckStage::kTimedOut, CheckStage::kServerEnded}) {
    CheckReport r;
    r.stage = stage;
    r.error = 1;
    EXPECT_EQ(ExitStatus(r), 2);
    EXPECT_EQ(FailureLine(r).find('\n'), std::string::npos);
  }
}

// Only what a call gets once the object's server has gone ends the wait, and
// is told by number and name.
TEST(UpdateCheckToolTest, AServerThatEndedIsToldByItsNumber) {
  const std::pair<uint32_t, std::string> ended[] = {
      {0x80010108, "RPC_E_DISCONNECTED"},       {0x80010007, "RPC_E_SERVER_DIED"},
      {0x80010012, "RPC_E_SERVER_DIED_DNE"},    {0x800401FD, "CO_E_OBJNOTCONNECTED"},
      {0x800706BA, "RPC_S_SERVER_UNAVAILABLE"}, {0x800706BE, "RPC_S_CALL_FAILED"}};
  for (const auto& [result, name] : ended) {
    const CheckReport report = ServerEndedReport(static_cast<int32_t>(result));
    EXPECT_TRUE(MeansServerEnded(report.error)) << name;
    const std::string line = FailureLine(report);
    EXPECT_NE(
        line.find("server ended during the check: error " + std::to_string(report.error) + " (0x"),
        std::string::npos);
    EXPECT_NE(line.find(", " + name + ")"), std::string::npos) << line;
    EXPECT_NE(ReportText(report).find("server ended during the check (error 0x"),
              std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(ReportJson(report))["error"], report.error) << name;
  }
  for (const int32_t other : {0, 1722, 12002, -2147467259, uceBusy}) {
    EXPECT_FALSE(MeansServerEnded(other)) << other;
  }
}

TEST(UpdateCheckToolTest, ReadableOutputNamesTheSystemMessage) {
  const std::string text = ReportText(Completed(12029, std::nullopt));
  EXPECT_NE(text.find("12029"), std::string::npos);
  // The system's own wording differs between Windows versions and Wine.
  EXPECT_NE(text.find("System message: "), std::string::npos) << text;
}

TEST(UpdateCheckToolTest, TheComponentsOwnNumbersGetItsOwnTexts) {
  const std::vector<std::pair<int32_t, std::string>> own = {
      {6, "a number in the version file is beyond the signed 32-bit range (Overflow)"},
      {7, "the update checker ran out of memory (Out of memory)"},
      {51, "the update checker failed inside (Internal error)"},
      {223, "the version file is larger than 16 MiB; the download was stopped"},
      {12002, "the server did not answer in time"},
      {12005,
       "the URL is invalid, or cannot be sent exactly as written: percent-encode every character "
       "that the system's ANSI code page lacks; nothing was sent"},
      {12040, "the https check was redirected to a URL that is not https; nothing was published"},
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
  for (const int32_t number : {6, 8, 87, 122, 223, 12005, 12006, 12017, 12018, 12040, 12150}) {
    EXPECT_NE(SystemMessage(number), "") << number;
  }
  for (int code = 1; code < CURL_LAST; ++code) {
    const auto number =
        static_cast<int32_t>(platform::InternetErrorFromCurl(static_cast<CURLcode>(code)));
    EXPECT_NE(SystemMessage(number), "") << "curl " << code << " as " << number;
  }
#endif
}

// Every command answers --help and -h with its usage on stdout and 0.
TEST(UpdateCheckToolTest, HelpForEachCommand) {
  const auto noDiagnosis = []() -> DoctorFindings {
    ADD_FAILURE() << "help ran the diagnosis";
    return {};
  };
  struct Case {
    std::vector<std::string> args;
    const char* usage;
  };
  for (const Case& c : std::vector<Case>{
           {{"lint", "--help"}, "usage: updatecheck lint FILE --url URL\n"},
           {{"lint", "f.txt", "-h"}, "usage: updatecheck lint FILE --url URL\n"},
           {{"make", "--url", "u", "-h"}, "usage: updatecheck make --url URL"},
           {{"make", "--help"}, "usage: updatecheck make --url URL"},
           {{"doctor", "--help"}, "usage: updatecheck doctor [--json]\n"},
           {{"doctor", "--json", "-h"}, "usage: updatecheck doctor [--json]\n"},
       }) {
    const CommandOutput output =
        c.args[0] == "doctor" ? RunDoctor(c.args, noDiagnosis) : *RunFileCommand(c.args);
    EXPECT_EQ(output.status, 0) << c.args[0];
    EXPECT_EQ(output.out.rfind(c.usage, 0), 0u) << output.out;
    EXPECT_EQ(output.err, "") << c.args[0];
  }
  // A value that looks like help is a value; unknown options are usage errors.
  const auto made =
      RunFileCommand({"make", "--url", "http://h/v", "--version", "2.0.1", "--update", "-h"});
  EXPECT_EQ(made->status, 0);
  EXPECT_NE(made->out.find("update=-h\r\n"), std::string::npos) << made->out;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"lint", "--bogus"}, {"make", "--json"}}) {
    const auto output = RunFileCommand(args);
    EXPECT_EQ(output->status, 2) << args[1];
    EXPECT_NE(output->err.find("unknown option '" + args[1] + "'"), std::string::npos);
    EXPECT_NE(output->err.find("usage: updatecheck " + args[0]), std::string::npos);
  }
  EXPECT_EQ(RunDoctor({"doctor", "--bogus"}, noDiagnosis).status, 2);
  for (const char* help : {"--help", "-h"}) EXPECT_TRUE(ParseCheckOptions({help}).help);
}

// The doctor's verdicts, from what it found, in text and JSON.
TEST(UpdateCheckToolTest, DoctorSaysWhatAHostWillFind) {
  const std::string path = "C:\\A\\QELUpdateCheck1_1.exe";
  const ClassEntry working{true, "\"" + path + "\"", path, true, "1.1.0.7"};
  const ClassEntry moved{true, "\"" + path + "\"", path, false, ""};
  const std::vector<TypeLibraryEntry> libraries = {{"win64", "machine-wide", path, true},
                                                   {"win32", "machine-wide", path + "\\2", true}};
  const std::vector<ProgIdEntry> ids = {{"QELUpdateCheck1_1.UpdateCheck.1", "{E9}", true},
                                        {"QELUpdateCheck1_1.UpdateCheck", "", false}};
  struct Case {
    const char* name;
    DoctorFindings findings;
    int status;
    const char* registered;
    std::vector<std::string> said;
  };
  const int32_t notRegistered = static_cast<int32_t>(0x80040154);
  const std::vector<Case> cases = {
      {"nothing",
       {false, false, {}, {}, {{"win64", "", "", false}}, {}, notRegistered, "not registered"},
       2,
       "none",
       {"Class UpdateCheck registered: none\n", "  win64: not registered\n",
        "no, a host cannot create it (0x80040154: not registered)\n", "Register the server"}},
      {"moved",
       {false, false, moved, {}, libraries, ids, notRegistered, ""},
       2,
       "machine-wide",
       {"file: " + path + " (MISSING: the file is not there)", "names a file that is not there"}},
      {"working",
       {false, false, working, {}, libraries, ids, 0, "ok"},
       0,
       "machine-wide",
       {"  machine-wide: LocalServer32 \"" + path + "\"\n", "(exists, version 1.1.0.7)",
        "  win32: " + path + "\\2 (machine-wide, exists)\n",
        "  QELUpdateCheck1_1.UpdateCheck: not registered\n", "yes, a host can create it"}},
      {"both",
       {false, false, working, moved, libraries, ids, notRegistered, ""},
       2,
       "both",
       {"both; the per-user registration wins for this user\n", "names a file that is not there"}},
      {"per-user under Wine",
       {false, true, {}, working, libraries, ids, notRegistered, ""},
       2,
       "per-user",
       {"Wine does not activate classes registered per user"}},
  };
  for (const Case& c : cases) {
    const CommandOutput text = RunDoctor({"doctor"}, [&] { return c.findings; });
    EXPECT_EQ(text.status, c.status) << c.name;
    for (const std::string& part : c.said) {
      EXPECT_NE(text.out.find(part), std::string::npos) << c.name << ": " << text.out;
    }
    const auto json =
        nlohmann::json::parse(RunDoctor({"doctor", "--json"}, [&] { return c.findings; }).out);
    EXPECT_EQ(json["creatable"], c.status == 0) << c.name;
    EXPECT_EQ(json["createResult"], c.findings.createResult) << c.name;
    EXPECT_EQ(json["registered"], c.registered) << c.name;
    EXPECT_EQ(json["machine"]["serverExists"], c.findings.machine.serverExists) << c.name;
    EXPECT_EQ(json["typeLibrary"].contains("win64"), true) << c.name;
  }
}

// The second fetch that explains a refusal, against the loopback server.
TEST(UpdateCheckToolTest, ARefusedFileIsExplainedByASecondFetch) {
  using Clock = std::chrono::steady_clock;
  test::LoopbackServer server;
  const std::string good = "/v.txt";
  server.Put(good, "file=" + server.Url("/elsewhere.txt") +
                       "\r\nmajor=2\r\nminor=0\r\nbuild=1\r\nupdate=u\r\nh\r\n");
  const auto in10s = [] { return Clock::now() + std::chrono::seconds(10); };
  const auto lines = [&](const std::string& path) {
    const std::u16string url = server.UrlText(path);
    return ExplainRefusal(url, FetchAgain(url, in10s()));
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
  // The check's own download: its errors, its URL rule, and the run's
  // deadline, which ends a trickle and leaves no time for a fetch at its end.
  const size_t requests = server.RequestLines().size();
  struct Refused {
    std::u16string url;
    Clock::duration left;
    int32_t error;
    bool skipped;
  };
  for (const Refused& r : std::vector<Refused>{
           {Utf8ToText("http://127.0.0.1:" + std::to_string(server.RefusedPort()) + "/v.txt"),
            std::chrono::seconds(10), 12029, false},
           {server.UrlText("/a") + u"\uFF0Fv.txt", std::chrono::seconds(10), 12005, false},
           {server.UrlText(good), std::chrono::milliseconds(900), 0, true},
           {server.UrlText("/trickle?ms=50"), std::chrono::milliseconds(1500), 12002, false}}) {
    SCOPED_TRACE(TextToUtf8(r.url));
    const auto start = Clock::now();
    const Fetched fetched = FetchAgain(r.url, start + r.left);
    EXPECT_EQ(fetched.error, r.error);
    EXPECT_EQ(fetched.skipped, r.skipped);
    EXPECT_LT(Clock::now() - start, r.left + std::chrono::milliseconds(500));
  }
  const auto sent = server.RequestLines();
  ASSERT_EQ(sent.size(), requests + 1) << "only the trickle was asked for";
  EXPECT_EQ(sent.back().rfind("GET /trickle", 0), 0u) << sent.back();
  EXPECT_EQ(StatusLine(599, u"Odd"), "599 Odd");
}

}  // namespace
}  // namespace qel::tool
