#include "tools/system_message.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <utility>

#include "common/text.h"
#include "common/unique_resource.h"
#include "service/UpdateCheck.h"

namespace qel::tool {
namespace {

// The system's and WinINet's own texts, for a system that cannot format them
// (the Linux build: every number its WinINet stand-in reports) and as a
// fallback where wininet.dll has none.
constexpr std::pair<int32_t, const char*> kKnownMessages[] = {
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {87, "The parameter is incorrect."},
    {122, "The data area passed to a system call is too small."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {12001, "No more Internet handles can be allocated"},
    {12002, "The operation timed out"},
    {12003, "The server returned extended information"},
    {12004, "An internal error occurred in the Microsoft Internet extensions"},
    {12005, "The URL is invalid"},
    {12006, "The URL does not use a recognized protocol"},
    {12007, "The server name or address could not be resolved"},
    {12017, "The operation has been canceled"},
    {12018, "The supplied handle is the wrong type for the requested operation"},
    {12029, "A connection with the server could not be established"},
    {12030, "The connection with the server was terminated abnormally"},
    {12031, "The connection with the server was reset"},
    {12037, "The date in the certificate is invalid or has expired"},
    {12038, "The host name in the certificate is invalid or does not match"},
    {12040, "A redirect request will change a secure to a non-secure connection"},
    {12044, "A certificate is required to complete client authentication"},
    {12045, "The certificate authority is invalid or incorrect"},
    {12057,
     "It was not possible to connect to the revocation server or a definitive response could "
     "not be obtained."},
    {12150, "The requested header was not found"},
    {12152, "The server returned an invalid or unrecognized response"},
    {12156, "The HTTP redirect request failed"},
    {12157, "An error occurred in the secure channel support"},
    {12175, "A security error occurred"},
};

// What the component means by the numbers it reports itself. These come
// before any system text: 6, say, is an overflow here, not a bad handle.
constexpr std::pair<int32_t, const char*> kComponentMessages[] = {
    {kErrOverflow, "a number in the version file is beyond the signed 32-bit range (Overflow)"},
    {kErrOutOfMemory, "the update checker ran out of memory (Out of memory)"},
    {kErrInternal, "the update checker failed inside (Internal error)"},
    {223, "the version file is larger than 16 MiB; the download was stopped"},
    {12002, "the server did not answer in time"},
    {12005,
     "the URL is invalid, or cannot be sent exactly as written: percent-encode every character "
     "that the system's ANSI code page lacks; nothing was sent"},
    {12040, "the https check was redirected to a URL that is not https; nothing was published"},
    {uceBusy, "the object is already processing a request; the new one was rejected"},
    {uceAsync, "the update checker could not start the request"},
    {uceInvalidFile,
     "the downloaded text is not a valid version file for this URL (updatecheck lint tells why)"},
};

std::string Lookup(const auto& table, int32_t number) {
  for (const auto& [n, text] : table) {
    if (n == number) return text;
  }
  return {};
}

}  // namespace

std::string SystemMessage(int32_t number) {
#ifdef _WIN32
  using LocalText = UniqueResource<wchar_t*, &LocalFree>;
  using Module = UniqueResource<HMODULE, &FreeLibrary>;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  wchar_t* buffer = nullptr;
  DWORD length = 0;
  if (number >= 12000 && number < 13000) {
    const Module wininet(LoadLibraryExW(L"wininet.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (wininet) {
      length = FormatMessageW(flags | FORMAT_MESSAGE_FROM_HMODULE, wininet.Get(),
                              static_cast<DWORD>(number), 0, reinterpret_cast<LPWSTR>(&buffer), 0,
                              nullptr);
    }
  }
  if (length == 0 && number > 0) {
    length = FormatMessageW(flags, nullptr, static_cast<DWORD>(number), 0,
                            reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  }
  const LocalText owned(buffer);
  std::string message;
  if (length > 0 && owned) {
    std::u16string text(reinterpret_cast<const char16_t*>(owned.Get()), length);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' '))
      text.pop_back();
    message = TextToUtf8(text);
  }
  if (!message.empty()) return message;
#endif
  return Lookup(kKnownMessages, number);
}

std::string ComponentMessage(int32_t number) { return Lookup(kComponentMessages, number); }

std::string CheckErrorMessage(int32_t number) {
  std::string message = ComponentMessage(number);
  return message.empty() ? SystemMessage(number) : message;
}

}  // namespace qel::tool
