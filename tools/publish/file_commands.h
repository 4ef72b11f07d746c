// updatecheck lint FILE --url URL
// updatecheck make --url URL --version MAJOR.MINOR.BUILD --update TEXT
//                  [--history FILE] [-o FILE]
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/command_output.h"

namespace qel::tool {

// Nothing when args name no file command (then they are a check).
std::optional<CommandOutput> RunFileCommand(const std::vector<std::string>& args);

std::string FileCommandsUsage();

}  // namespace qel::tool
