#include "server/command_line.h"

#include "common/unique_resource.h"

#include <windows.h>

#include <shellapi.h>

#include <memory>

namespace qel::com {

std::optional<ServerAction> ParseCommandLine(const std::vector<std::wstring>& arguments) {
  if (arguments.size() != 1) return std::nullopt;
  const std::wstring& argument = arguments.front();
  if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) return std::nullopt;
  const wchar_t* name = argument.c_str() + 1;
  const struct {
    const wchar_t* name;
    ServerAction action;
  } switches[] = {
      {L"Embedding", ServerAction::Serve},
      {L"RegServer", ServerAction::Register},
      {L"UnregServer", ServerAction::Unregister},
      {L"RegServerPerUser", ServerAction::RegisterPerUser},
      {L"UnregServerPerUser", ServerAction::UnregisterPerUser},
  };
  for (const auto& entry : switches) {
    if (CompareStringOrdinal(name, -1, entry.name, -1, TRUE) == CSTR_EQUAL) return entry.action;
  }
  return std::nullopt;
}

std::vector<std::wstring> ProcessArguments() {
  int count = 0;
  const UniqueResource<LPWSTR*, &LocalFree> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::wstring> arguments;
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv.Get()[i]);
  return arguments;
}

}  // namespace qel::com
