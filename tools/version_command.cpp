#include "tools/version_command.h"

#include "qel_version.h"

namespace qel::tool {

std::optional<std::string> VersionCommand(const std::vector<std::string>& args) {
  if (args.size() != 1 || args.front() != "--version") return std::nullopt;
  return std::string("updatecheck " QEL_VERSION_TEXT "\n");
}

}  // namespace qel::tool
