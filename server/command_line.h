// The server's switches: what the process was started to do.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qel::com {

enum class ServerAction {
  Serve,  // -Embedding: started by COM to serve a host
  Register,
  Unregister,
  RegisterPerUser,
  UnregisterPerUser,
};

// One switch, "/" or "-" then its name in any case. Anything else, or nothing,
// is no action.
std::optional<ServerAction> ParseCommandLine(const std::vector<std::wstring>& arguments);

// The process's arguments, without the program name.
std::vector<std::wstring> ProcessArguments();

}  // namespace qel::com
