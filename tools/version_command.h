// updatecheck --version
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qel::tool {

// The line to print when args ask for the version; nothing otherwise.
std::optional<std::string> VersionCommand(const std::vector<std::string>& args);

}  // namespace qel::tool
