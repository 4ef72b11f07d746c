// The results a call to the object gets once the server process behind it
// has ended: its completion event will never come.
#pragma once

#include <cstdint>

namespace qel::tool {

// The result's name ("RPC_E_DISCONNECTED", ...), or null when the result does
// not mean that the server has ended.
const char* ServerEndedName(int32_t result);

inline bool MeansServerEnded(int32_t result) { return ServerEndedName(result) != nullptr; }

}  // namespace qel::tool
