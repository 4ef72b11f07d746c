#include "retrieval/modInternetFunctions.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <charconv>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "common/error.h"
#include "retrieval/clsErrorCache.h"
#include "retrieval/download_gate.h"
#include "retrieval/exact_ansi.h"
#include "retrieval/internet_handle.h"
#include "retrieval/received_bytes.h"

namespace qel::modInternetFunctions {
namespace {

constexpr DWORD kReadSize = 256;

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

ResponseStatus StatusOf(HINTERNET request) {
  ResponseStatus status;
  DWORD code = 0;
  DWORD size = sizeof code;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size,
                      nullptr)) {
    return status;
  }
  status.code = code;
  char text[256];
  DWORD textSize = sizeof text;
  if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_TEXT, text, &textSize, nullptr)) {
    ReceivedBytes reason;
    reason.Append(text, std::min<size_t>(textSize, sizeof text));
    status.reason = reason.ToText();
  }
  return status;
}

// True for a URL whose scheme is https, in any case (leading blanks skipped,
// as a URL parser skips them).
bool IsHttps(std::string_view url) {
  while (!url.empty() && static_cast<unsigned char>(url.front()) <= ' ') url.remove_prefix(1);
  constexpr std::string_view kScheme = "https:";
  if (url.size() < kScheme.size()) return false;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    const char c = url[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kScheme[i]) return false;
  }
  return true;
}

// The URL the request ended on, after its redirects; empty when WinINet
// cannot tell. Asked with no room first, WinINet answers with the size it
// needs, NUL included; on success the size is the length without the NUL.
std::string FinalUrl(HINTERNET request) {
  std::string url;
  DWORD size = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (InternetQueryOptionA(request, INTERNET_OPTION_URL, url.empty() ? nullptr : url.data(),
                             &size)) {
      url.resize(std::min<size_t>(size, url.size()));
      return url;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= url.size()) return {};
    url.resize(size);
  }
  return {};
}

// Where closing a request reads out its body, a download that stops before
// the end lets go of its handles instead.
void LetGoIfClosingReadsOut(InternetHandle& hURL, InternetHandle& hRoot) {
  if (!CloseReadsOutTheBody()) return;
  hURL.Release();
  hRoot.Release();
}

constexpr auto kGivenUp = static_cast<int32_t>(ERROR_INTERNET_OPERATION_CANCELLED);

// The download itself. Its handles close themselves, URL first, however it
// ends, and errors raised in it leave it that way too.
int32_t Download(const std::u16string& strURL, int32_t lFlags, std::u16string& strData,
                 const DownloadControl& control) {
  strData.clear();
  // A URL that would not be sent as it is written is refused before
  // anything is opened: a character the code page lacks would go as '?' or
  // a look-alike, naming another path or host, and a NUL would end it.
  const std::optional<std::string> ansiURL =
      strURL.find(u'\0') == std::u16string::npos ? ExactAnsi(strURL) : std::nullopt;
  if (!ansiURL) return static_cast<int32_t>(ERROR_INTERNET_INVALID_URL);
  const std::string& url = *ansiURL;
  InternetHandle hRoot(
      InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!hRoot) return LastError();
  SetTimeouts(hRoot.Get(), control.wait);

  InternetHandle hURL;
  int32_t result = 0;
  const bool opened = GatedCall(control.gate, hRoot, hURL, [&] {
    hURL.Reset(
        InternetOpenUrlA(hRoot.Get(), url.c_str(), nullptr, 0, static_cast<DWORD>(lFlags), 0));
    if (!hURL) result = LastError();
  });
  if (!opened) return kGivenUp;
  if (!hURL) return result;
  // An https check that a redirect took off https (or whose end WinINet
  // cannot name) is refused before a byte of that response is read: anyone
  // on the plain leg could choose the published values.
  if (IsHttps(url) && !IsHttps(FinalUrl(hURL.Get()))) {
    LetGoIfClosingReadsOut(hURL, hRoot);
    return static_cast<int32_t>(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  }

  ReceivedBytes bytes;
  char buffer[kReadSize];
  DWORD bytesRead = 0;
  bool readOk = false;
  const auto read = [&] {
    readOk = InternetReadFile(hURL.Get(), buffer, kReadSize, &bytesRead) != FALSE;
    if (!readOk) result = LastError();
  };
  bool ours = GatedCall(control.gate, hRoot, hURL, read);
  while (ours && readOk && bytesRead > 0) {
    bytes.Append(buffer, bytesRead);
    if (bytes.Size() > kMaxResourceBytes) {
      result = ERROR_FILE_TOO_LARGE;
      break;
    }
    ours = GatedCall(control.gate, hRoot, hURL, read);
  }
  if (!ours) result = kGivenUp;
  // A failed read has lost the connection; an empty one is the end.
  const bool ended = ours && (!readOk || bytesRead == 0);
  if (ended && readOk && ShortOfDeclaredLength(hURL.Get(), bytes.Size())) {
    result = ERROR_INTERNET_CONNECTION_ABORTED;
  }
  if (!ended) LetGoIfClosingReadsOut(hURL, hRoot);
  if (result == 0) {
    strData = bytes.ToText();
    if (control.status != nullptr) *control.status = StatusOf(hURL.Get());
  }
  return result;
}

}  // namespace

int32_t DownloadURL(const std::u16string& strURL, int32_t lFlags, std::u16string& strData,
                    const DownloadControl& control) {
  // An error raised during the download is snapshotted and raised again
  // unchanged once the handles are closed.
  try {
    return Download(strURL, lFlags, strData, control);
  } catch (const Error& error) {
    clsErrorCache cache;
    cache.Cache(error);
    cache.Raise();
  } catch (const std::bad_alloc&) {
    clsErrorCache cache;
    cache.Cache(Error(kErrOutOfMemory, kRuntimeSource, u"Out of memory"));
    cache.Raise();
  }
}

}  // namespace qel::modInternetFunctions
