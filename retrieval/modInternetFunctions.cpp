#include "retrieval/modInternetFunctions.h"

#include <windows.h>
#include <wininet.h>

#include <charconv>
#include <new>
#include <string>

#include "common/error.h"
#include "retrieval/clsErrorCache.h"
#include "retrieval/download_gate.h"
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

// Without them WinINet may wait for a silent server for good.
void SetTimeouts(HINTERNET root, std::chrono::milliseconds wait) {
  DWORD ms = static_cast<DWORD>(wait.count());
  for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    // A refusal leaves WinINet's own; the check's whole limit still holds.
    InternetSetOptionA(root, option, &ms, sizeof ms);
  }
}

// True when the response declared a Content-Length and fewer bytes came:
// a connection closed early is a failed download, not the end of the file.
bool ShortOfDeclaredLength(HINTERNET request, size_t received) {
  char text[32];
  DWORD size = sizeof text;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  uint64_t declared = 0;
  const auto [end, error] = std::from_chars(text, text + size, declared);
  return error == std::errc() && end == text + size && received < declared;
}

// Closes a download's handles, URL first; where closing would read out the
// rest of a body that was not read to its end, lets go of them instead.
void CloseHandles(InternetHandle& root, InternetHandle& url, bool readToTheEnd) {
  if (!readToTheEnd && CloseReadsOutTheBody()) {
    url.Forget();
    root.Forget();
    return;
  }
  url.Close();
  root.Close();
}

// A blocking call through the control's gate. False when the download has
// been given up, before the call or under it (the handles are then no longer
// ours, and are forgotten).
template <typename Call>
bool GatedCall(const DownloadControl& control, InternetHandle& root, InternetHandle& url,
               Call call) {
  if (control.gate == nullptr) {
    call();
    return true;
  }
  if (!control.gate->Enter(root.Get(), url.Get())) return false;
  call();
  if (!control.gate->Leave()) return true;
  url.Forget();
  root.Forget();
  return false;
}

}  // namespace

int32_t DownloadURL(const std::u16string& strURL, int32_t lFlags, std::u16string& strData,
                    const DownloadControl& control) {
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
      SetTimeouts(hRoot.Get(), control.wait);
      const std::string url = TextToAnsi(strURL);
      constexpr auto kGivenUp = static_cast<int32_t>(ERROR_INTERNET_OPERATION_CANCELLED);
      bool ours = GatedCall(control, hRoot, hURL, [&] {
        hURL = InternetHandle(
            InternetOpenUrlA(hRoot.Get(), url.c_str(), nullptr, 0, static_cast<DWORD>(lFlags), 0));
        if (!hURL) result = LastError();
      });
      if (!ours) {
        // A URL handle opened meanwhile went with its root.
        result = kGivenUp;
      } else if (hURL) {
        char buffer[kReadSize];
        DWORD bytesRead = 0;
        bool readOk = false;
        const auto read = [&] {
          readOk = InternetReadFile(hURL.Get(), buffer, kReadSize, &bytesRead) != FALSE;
          if (!readOk) result = LastError();
        };
        ours = GatedCall(control, hRoot, hURL, read);
        while (ours && readOk && bytesRead > 0) {
          bytes.Append(buffer, bytesRead);
          if (bytes.Size() > kMaxResourceBytes) {
            result = ERROR_FILE_TOO_LARGE;
            break;
          }
          ours = GatedCall(control, hRoot, hURL, read);
        }
        if (!ours) result = kGivenUp;
        // A failed read has lost the connection; an empty one is the end.
        const bool ended = ours && (!readOk || bytesRead == 0);
        if (ended && readOk && ShortOfDeclaredLength(hURL.Get(), bytes.Size())) {
          result = ERROR_INTERNET_CONNECTION_ABORTED;
        }
        CloseHandles(hRoot, hURL, ended);
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
