#include "retrieval/modInternetFunctions.h"

#include <windows.h>
#include <wininet.h>

#include <new>
#include <string>

#include "common/error.h"
#include "retrieval/clsErrorCache.h"
#include "retrieval/internet_handle.h"
#include "retrieval/received_bytes.h"

namespace qel::modInternetFunctions {
namespace {

constexpr DWORD kReadSize = 256;
constexpr char16_t kRuntimeSource[] = u"QELUpdateCheck1_0";

std::string TextToAnsi(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(size), '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide, length, ansi.data(), size, nullptr, nullptr);
  return ansi;
}

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

}  // namespace

int32_t DownloadURL(const std::u16string& strURL, int32_t lFlags, std::u16string& strData) {
  InternetHandle hRoot;
  InternetHandle hURL;
  try {
    int32_t result = 0;
    strData.clear();
    ReceivedBytes bytes;

    hRoot = InternetHandle(
        InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!hRoot) {
      result = LastError();
    } else {
      const std::string url = TextToAnsi(strURL);
      hURL = InternetHandle(
          InternetOpenUrlA(hRoot.Get(), url.c_str(), nullptr, 0, static_cast<DWORD>(lFlags), 0));
      if (!hURL) {
        result = LastError();
      } else {
        char buffer[kReadSize];
        DWORD bytesRead = 0;
        bool readOk = InternetReadFile(hURL.Get(), buffer, kReadSize, &bytesRead) != FALSE;
        if (!readOk) result = LastError();
        while (readOk && bytesRead > 0) {
          bytes.Append(buffer, bytesRead);
          if (bytes.Size() > kMaxResourceBytes) {
            result = ERROR_FILE_TOO_LARGE;
            break;
          }
          readOk = InternetReadFile(hURL.Get(), buffer, kReadSize, &bytesRead) != FALSE;
          if (!readOk) result = LastError();
        }
        hURL.Close();
      }
      hRoot.Close();
    }

    if (result == 0) strData = bytes.ToText();
    return result;
  } catch (const Error& error) {
    clsErrorCache cache;
    cache.Cache(error);
    hURL.Close();
    hRoot.Close();
    cache.Raise();
  } catch (const std::bad_alloc&) {
    clsErrorCache cache;
    cache.Cache(Error(kErrOutOfMemory, kRuntimeSource, u"Out of memory"));
    hURL.Close();
    hRoot.Close();
    cache.Raise();
  }
}

}  // namespace qel::modInternetFunctions
