#include "tools/system_message.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <utility>

#include "common/text.h"

namespace qel::tool {
namespace {

// WinINet's own texts, for a system that cannot format them (the Linux build)
// and as a fallback where wininet.dll has none.
constexpr std::pair<int32_t, const char*> kKnownMessages[] = {
    {6, "The handle is invalid."},
    {7, "Out of memory"},
    {8, "Not enough memory resources are available to process this command."},
    {87, "The parameter is incorrect."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {12001, "No more handles could be generated at this time."},
    {12002, "The operation timed out."},
    {12004, "An internal error occurred in the Microsoft Internet extensions."},
    {12005, "The URL is invalid."},
    {12006, "The URL does not use a recognized protocol."},
    {12007, "The server name or address could not be resolved."},
    {12017,
     "The operation was canceled, usually because the handle on which the request was "
     "operating was closed before the operation completed."},
    {12018, "The type of handle supplied is incorrect for this operation."},
    {12029, "A connection with the server could not be established."},
    {12030, "The connection with the server was terminated abnormally."},
    {12031, "The connection with the server was reset."},
    {12038, "The server certificate's common name is incorrect."},
    {12045, "The certificate authority is invalid or incorrect."},
    {12152, "The server returned an invalid or unrecognized response."},
    {12156,
     "The redirection failed because either the scheme changed or all attempts made to "
     "redirect failed."},
    {12157, "An error occurred in the secure channel support."},
};

std::string KnownMessage(int32_t number) {
  for (const auto& [n, text] : kKnownMessages) {
    if (n == number) return text;
  }
  return {};
}

}  // namespace

std::string SystemMessage(int32_t number) {
#ifdef _WIN32
  wchar_t* buffer = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  HMODULE wininet = nullptr;
  DWORD length = 0;
  if (number >= 12000 && number < 13000) {
    wininet = LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (wininet) {
      length =
          FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, wininet, static_cast<DWORD>(number),
                         0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    }
  }
  if (length == 0 && number > 0) {
    length = FormatMessageW(flags, nullptr, static_cast<DWORD>(number), 0,
                            reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  }
  std::string message;
  if (length > 0 && buffer) {
    std::u16string text(reinterpret_cast<const char16_t*>(buffer), length);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' '))
      text.pop_back();
    message = TextToUtf8(text);
  }
  if (buffer) LocalFree(buffer);
  if (wininet) FreeLibrary(wininet);
  if (!message.empty()) return message;
#endif
  return KnownMessage(number);
}

}  // namespace qel::tool
