// The operating system's message for an error number (WinINet's own range
// included), for the readable output of the host tool.
#pragma once

#include <cstdint>
#include <string>

namespace qel::tool {

// Empty when the number is not a known system or WinINet error.
std::string SystemMessage(int32_t number);

}  // namespace qel::tool
