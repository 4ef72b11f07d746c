// updatecheck lint FILE --url URL
// updatecheck make --url URL --version MAJOR.MINOR.BUILD --update TEXT
//                  [--history FILE] [-o FILE]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qel::tool {

struct CommandOutput {
  int status = 0;   // 0 done (lint: accepted), 2 refused or failed
  std::string out;  // for stdout: the lint's report, or the file made without -o
  std::string err;  // for stderr
};

// Nothing when args name no file command (then they are a check).
std::optional<CommandOutput> RunFileCommand(const std::vector<std::string>& args);

std::string FileCommandsUsage();

}  // namespace qel::tool
