// updatecheck: runs one update check and prints what it found; or lints or
// makes a version file, or examines the server's registration.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tools/check/check_options.h"
#include "tools/check/check_report.h"
#include "tools/check/run_check.h"
#include "tools/doctor/doctor.h"
#include "tools/publish/file_commands.h"
#include "tools/publish/refusal_explanation.h"
#include "tools/version_command.h"
#include "trigger/modTimer.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

int Run(const std::vector<std::string>& args) {
  using namespace qel::tool;
  if (const auto version = VersionCommand(args)) {
    std::fputs(version->c_str(), stdout);
    return 0;
  }
  std::optional<CommandOutput> command = RunFileCommand(args);
  if (!command && !args.empty() && args[0] == "doctor") command = RunDoctor(args, Diagnose);
  if (command) {
    std::fwrite(command->out.data(), 1, command->out.size(), stdout);
    std::fflush(stdout);
    std::fputs(command->err.c_str(), stderr);
    return command->status;
  }
  const ParsedOptions parsed = ParseCheckOptions(args);
  if (parsed.help) {
    std::printf("%s\n%s\n\n%s", UsageText().c_str(), FileCommandsUsage().c_str(),
                CheckHelpText().c_str());
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "updatecheck: %s\n%s\n%s\n", parsed.error.c_str(), UsageText().c_str(),
                 FileCommandsUsage().c_str());
    return 2;
  }
  const CheckOptions& options = *parsed.options;
  // --timeout bounds the whole run, the check and its explanation alike.
  const Deadline deadline = RunDeadline(options);
  CheckReport report = RunCheck(options, deadline);
  report.hostVersion = options.version;
  if (report.stage == CheckStage::kCompleted && report.error == qel::uceInvalidFile) {
    // The object's outcome stands; a fetch of our own only says why.
    const std::u16string url = qel::Utf8ToText(options.url);
    report.explanation = ExplainRefusal(url, FetchAgain(url, deadline));
#ifdef _WIN32
    // Joins the download thread that is done; one given up at the deadline
    // is left to end with the process.
    qel::modTimer::EndThread();
#endif
  }
  const std::string out = options.json ? ReportJson(report) + "\n" : ReportText(report);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  const int status = ExitStatus(report);
  if (status == 2) std::fprintf(stderr, "%s\n", FailureLine(report).c_str());
  return status;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  // The text goes out as UTF-8 bytes, unchanged by the C runtime.
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(qel::TextToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
