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
  Help,  // /? -? /help: the usage, for a person
};

// One switch, "/" or "-" then its name in any case. Anything else, or nothing,
// is no action.
std::optional<ServerAction> ParseCommandLine(const std::vector<std::wstring>& arguments);

// Why the arguments are no action, then the switches, one a line.
std::wstring UsageText(const std::vector<std::wstring>& arguments);

// The process's arguments, without the program name.
std::vector<std::wstring> ProcessArguments();

}  // namespace qel::com
