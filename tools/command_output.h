// What a command of the host tool other than the check (lint, make, doctor)
// prints, and how it exits.
#pragma once

#include <string>

namespace qel::tool {

struct CommandOutput {
  int status = 0;   // 0 done (lint: accepted), 2 refused or failed
  std::string out;  // for stdout: the report, or the file made without -o
  std::string err;  // for stderr
};

}  // namespace qel::tool
