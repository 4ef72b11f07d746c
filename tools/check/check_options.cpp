#include "tools/check/check_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace qel::tool {
namespace {

std::optional<int32_t> ParseLong(const std::string& text) {
  int32_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || first == last) return std::nullopt;
  return value;
}

std::optional<double> ParseSeconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value) || value <= 0 || value > 86400.0) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string UsageText() {
  return "usage: updatecheck [--json] [--timeout SECONDS] URL [MAJOR MINOR BUILD]";
}

std::string CheckHelpText() {
  return "A check asks the update checker for URL once and prints what was published;\n"
         "with MAJOR MINOR BUILD (your version), also whether the published version is\n"
         "newer, the same or older. --json prints one JSON object: read \"error\" first\n"
         "(0: the values are published; any other number: nothing was published, and\n"
         "the values are null or absent).\n"
         "--timeout gives up waiting after SECONDS (90 by default).\n"
         "Exit status: 0 the published version is not newer (or no version was given),\n"
         "1 it is newer, 2 the check failed (with one line on standard error).\n";
}

ParsedOptions ParseCheckOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  CheckOptions options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
      parsed.help = true;
      return parsed;
    } else if (!optionsEnded && arg == "--json") {
      options.json = true;
    } else if (!optionsEnded && arg == "--timeout") {
      if (i + 1 == args.size()) {
        parsed.error = "--timeout needs a number of seconds";
        return parsed;
      }
      const auto seconds = ParseSeconds(args[++i]);
      if (!seconds) {
        parsed.error = "--timeout wants a positive number of seconds, not '" + args[i] + "'";
        return parsed;
      }
      options.timeoutSeconds = *seconds;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-' &&
               !(arg[1] >= '0' && arg[1] <= '9')) {
      parsed.error = "unknown option '" + arg + "'";
      return parsed;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 1 && positional.size() != 4) {
    parsed.error = positional.empty() ? "a URL is required"
                                      : "give the URL alone, or the URL and MAJOR MINOR BUILD";
    return parsed;
  }
  options.url = positional[0];
  if (positional.size() == 4) {
    std::array<int32_t, 3> version{};
    for (size_t k = 0; k < 3; ++k) {
      const auto value = ParseLong(positional[k + 1]);
      if (!value) {
        parsed.error = "'" + positional[k + 1] + "' is not a 32-bit whole number";
        return parsed;
      }
      version[k] = *value;
    }
    options.version = version;
  }
  parsed.options = options;
  return parsed;
}

}  // namespace qel::tool
