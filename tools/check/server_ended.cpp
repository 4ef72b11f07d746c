#include "tools/check/server_ended.h"

namespace qel::tool {
namespace {

struct ServerEndedResult {
  uint32_t result;
  const char* name;
};

// COM's and the RPC runtime's answers for a server process that has gone,
// as Windows and Wine give them.
constexpr ServerEndedResult kServerEnded[] = {
    {0x80010108, "RPC_E_DISCONNECTED"},       {0x80010007, "RPC_E_SERVER_DIED"},
    {0x80010012, "RPC_E_SERVER_DIED_DNE"},    {0x800401FD, "CO_E_OBJNOTCONNECTED"},
    {0x800706BA, "RPC_S_SERVER_UNAVAILABLE"}, {0x800706BE, "RPC_S_CALL_FAILED"},
};

}  // namespace

const char* ServerEndedName(int32_t result) {
  for (const auto& [number, name] : kServerEnded) {
    if (number == static_cast<uint32_t>(result)) return name;
  }
  return nullptr;
}

}  // namespace qel::tool
