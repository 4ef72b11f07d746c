#include "tools/publish/file_commands.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "common/text.h"
#include "tools/publish/version_lint.h"
#include "tools/publish/version_maker.h"

namespace qel::tool {
namespace {

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::optional<std::string> ReadBytes(const std::string& name) {
  std::ifstream in(PathOf(name), std::ios::binary);
  if (!in) return std::nullopt;
  // In blocks: a version file may be as large as the download's cap and more.
  std::string bytes;
  std::vector<char> block(1 << 16);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    bytes.append(block.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  return bytes;
}

constexpr char kLintUsage[] =
    "usage: updatecheck lint FILE --url URL\n"
    "  Says whether a check of URL accepts FILE as its version file, as the update\n"
    "  checker decides it (the 16 MiB size cap included), the first rule a refused\n"
    "  file breaks, and warnings about values that are probably not meant.\n"
    "  Exit status: 0 accepted, 2 refused or failed.\n";
constexpr char kMakeUsage[] =
    "usage: updatecheck make --url URL --version MAJOR.MINOR.BUILD --update TEXT\n"
    "                        [--history FILE] [-o FILE]\n"
    "  Writes a version file for URL (CR LF line ends, Windows-1252), to FILE or to\n"
    "  standard output. The history comes from a UTF-8 file; without one it is the\n"
    "  line \"Version MAJOR.MINOR.BUILD\". What lint would refuse is refused; what it\n"
    "  would warn about is written with a warning on standard error.\n"
    "  Exit status: 0 written, 2 refused or failed.\n";

CommandOutput Usage(const std::string& error, const char* usage) {
  return {2, {}, "updatecheck: " + error + "\n" + usage};
}

// --name VALUE pairs and the positional arguments after the command.
struct Arguments {
  std::map<std::string, std::string> named;
  std::vector<std::string> positional;
  std::string error;
  bool help = false;  // --help or -h where an option may stand
};

Arguments Split(const std::vector<std::string>& args, const std::vector<std::string>& names) {
  Arguments parsed;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      return parsed;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (std::find(names.begin(), names.end(), arg) == names.end()) {
        parsed.error = "unknown option '" + arg + "'";
      } else if (i + 1 == args.size()) {
        parsed.error = arg + " needs a value";
      } else if (parsed.named.count(arg) != 0) {
        parsed.error = arg + " given twice";
      } else {
        parsed.named[arg] = args[++i];
        continue;
      }
      return parsed;
    }
    parsed.positional.push_back(arg);
  }
  return parsed;
}

void Print(std::ostringstream& out, const char* label, const std::string& message,
           const std::string& hint) {
  out << label << message << "\n";
  if (!hint.empty()) out << "  hint: " << hint << "\n";
}

CommandOutput Lint(const std::vector<std::string>& args) {
  const Arguments parsed = Split(args, {"--url"});
  if (parsed.help) return {0, kLintUsage, {}};
  if (!parsed.error.empty()) return Usage(parsed.error, kLintUsage);
  if (parsed.positional.size() != 1) return Usage("lint wants one FILE", kLintUsage);
  if (parsed.named.count("--url") == 0) return Usage("lint needs --url URL", kLintUsage);
  const std::string& name = parsed.positional[0];
  const std::string& url = parsed.named.at("--url");
  const auto bytes = ReadBytes(name);
  if (!bytes) return {2, {}, "updatecheck: cannot read " + name + "\n"};

  const LintResult result = LintVersionFile(*bytes, Utf8ToText(url));
  std::ostringstream out;
  if (result.accepted) {
    const PublishedValues& v = result.values;
    out << name << ": accepted for " << url << "\n"
        << "Published version: " << v.major << "." << v.minor << "." << v.build << "\n"
        << "Update URL: " << TextToUtf8(v.updateURL) << "\n"
        << "Version history: " << v.versionHistory.size() << " characters\n";
  } else {
    out << name << ": refused for " << url
        << (result.overflow   ? " (the check ends with error 6)"
            : result.tooLarge ? " (the check ends with error 223)"
                              : "")
        << "\n";
    if (result.error) Print(out, "error: ", result.error->message, result.error->hint);
  }
  for (const auto& warning : result.warnings) {
    Print(out, "warning: ", warning.message, warning.hint);
  }
  return {result.accepted ? 0 : 2, out.str(), {}};
}

CommandOutput Make(const std::vector<std::string>& args) {
  const Arguments parsed = Split(args, {"--url", "--version", "--update", "--history", "-o"});
  if (parsed.help) return {0, kMakeUsage, {}};
  if (!parsed.error.empty()) return Usage(parsed.error, kMakeUsage);
  if (!parsed.positional.empty()) {
    return Usage("make takes no '" + parsed.positional[0] + "'", kMakeUsage);
  }
  for (const char* required : {"--url", "--version", "--update"}) {
    if (parsed.named.count(required) == 0) {
      return Usage(std::string("make needs ") + required, kMakeUsage);
    }
  }
  std::string history;
  if (const auto found = parsed.named.find("--history"); found != parsed.named.end()) {
    const auto bytes = ReadBytes(found->second);
    if (!bytes) return {2, {}, "updatecheck: cannot read " + found->second + "\n"};
    history = *bytes;
  }
  const MadeVersionFile made = MakeVersionFile(
      parsed.named.at("--url"), parsed.named.at("--version"), parsed.named.at("--update"), history);
  if (!made.error.empty()) return {2, {}, "updatecheck: " + made.error + "\n"};
  std::string warnings;
  for (const std::string& warning : made.warnings) {
    warnings += "updatecheck: warning: " + warning + "\n";
  }
  const auto output = parsed.named.find("-o");
  if (output == parsed.named.end()) return {0, made.bytes, warnings};
  std::ofstream file(PathOf(output->second), std::ios::binary | std::ios::trunc);
  file.write(made.bytes.data(), static_cast<std::streamsize>(made.bytes.size()));
  file.close();
  if (!file) return {2, {}, "updatecheck: cannot write " + output->second + "\n"};
  return {0, {}, warnings};
}

}  // namespace

std::string FileCommandsUsage() {
  return "       updatecheck lint FILE --url URL\n"
         "       updatecheck make --url URL --version MAJOR.MINOR.BUILD --update TEXT "
         "[--history FILE] [-o FILE]\n"
         "       updatecheck doctor [--json]\n"
         "       updatecheck --version  print the product version\n"
         "       updatecheck COMMAND --help  a command's own usage";
}

std::optional<CommandOutput> RunFileCommand(const std::vector<std::string>& args) {
  if (args.empty()) return std::nullopt;
  if (args[0] == "lint") return Lint(args);
  if (args[0] == "make") return Make(args);
  return std::nullopt;
}

}  // namespace qel::tool
