// The host tool's command line: updatecheck [--json] [--timeout SECONDS] URL
// [MAJOR MINOR BUILD].
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qel::tool {

struct CheckOptions {
  bool json = false;
  // Longer than a check's own limit, so that a check that times out reports
  // its own 12002 first.
  double timeoutSeconds = 90.0;
  std::string url;  // UTF-8
  std::optional<std::array<int32_t, 3>> version;
};

// The options, or an error message for the usage line.
struct ParsedOptions {
  std::optional<CheckOptions> options;
  std::string error;
  bool help = false;
};

ParsedOptions ParseCheckOptions(const std::vector<std::string>& args);
std::string UsageText();
// What a check does and its exit statuses, for --help.
std::string CheckHelpText();

}  // namespace qel::tool
