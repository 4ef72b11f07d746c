#include "server/registration/command_line.h"

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
      {L"?", ServerAction::Help},
      {L"help", ServerAction::Help},
  };
  for (const auto& entry : switches) {
    if (CompareStringOrdinal(name, -1, entry.name, -1, TRUE) == CSTR_EQUAL) return entry.action;
  }
  return std::nullopt;
}

std::wstring UsageText(const std::vector<std::wstring>& arguments) {
  std::wstring why;
  if (arguments.empty()) {
    why = L"QELUpdateCheck1_1: no switch given (COM starts the server itself, with -Embedding)\n";
  } else if (arguments.size() > 1) {
    why = L"QELUpdateCheck1_1: one switch at a time\n";
  } else if (!ParseCommandLine(arguments)) {
    why = L"QELUpdateCheck1_1: unknown switch '" + arguments.front() + L"'\n";
  }
  return why +
         L"usage: QELUpdateCheck1_1.exe /RegServer | /UnregServer | /RegServerPerUser | "
         L"/UnregServerPerUser | /?\n"
         L"  /RegServer           register the update checker for the whole machine "
         L"(as an administrator)\n"
         L"  /UnregServer         remove the machine-wide registration, if it names this file\n"
         L"  /RegServerPerUser    register it for the current user only\n"
         L"  /UnregServerPerUser  remove the current user's registration, if it names this file\n"
         L"  /? or /help          show this text\n"
         L"Switches are read in any case, after / or -. Exit status: 0 done, 1 failed, 2 usage.\n";
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
