// The WinINet calls over libcurl, with the stand-in's controls.
#include <qel_platform.h>
#include <wininet.h>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/internet_handles.h"
#include "platform/internet_request.h"
#include "platform/internet_url.h"

namespace qel::platform {
namespace {

// WinINet's own defaults.
constexpr long kDefaultConnectMs = 60 * 1000;
constexpr long kDefaultReceiveMs = 30 * 1000;

using ReadHook = std::function<void()>;

struct InternetState {
  std::mutex mutex;
  std::string lastAgent;
  long connectMs = kDefaultConnectMs;
  long receiveMs = kDefaultReceiveMs;
  std::shared_ptr<const ReadHook> readHook;
};

InternetState& State() {
  static auto* const state = new InternetState();  // as the handle table
  return *state;
}

// The URL request a handle names; nothing, with the last error set, for a
// handle that is not open or names a session.
std::optional<InternetObject> FindRequest(HINTERNET handle) {
  auto found = InternetHandleTable::Instance().Find(handle);
  if (!found) {
    SetLastError(ERROR_INVALID_HANDLE);
  } else if (!found->request) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    found.reset();
  }
  return found;
}

HINTERNET FailWith(DWORD error) {
  SetLastError(error);
  return nullptr;
}

// As WinINet hands out text: the length without the NUL on success, with it
// when the buffer is too small.
BOOL TextToBuffer(const std::string& text, LPVOID lpBuffer, LPDWORD lpdwBufferLength) {
  if (lpBuffer == nullptr || *lpdwBufferLength < text.size() + 1) {
    *lpdwBufferLength = static_cast<DWORD>(text.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
  *lpdwBufferLength = static_cast<DWORD>(text.size());
  return TRUE;
}

}  // namespace

size_t OpenInternetHandleCount() { return InternetHandleTable::Instance().Count(); }

std::string LastInternetAgent() {
  InternetState& state = State();
  const std::lock_guard lock(state.mutex);
  return state.lastAgent;
}

void SetInternetTimeouts(long connectMs, long receiveMs) {
  InternetState& state = State();
  const std::lock_guard lock(state.mutex);
  state.connectMs = connectMs;
  state.receiveMs = receiveMs;
}

void SetReadHook(std::function<void()> hook) {
  InternetState& state = State();
  auto shared = hook ? std::make_shared<const ReadHook>(std::move(hook)) : nullptr;
  const std::lock_guard lock(state.mutex);
  state.readHook = std::move(shared);
}

}  // namespace qel::platform

using qel::platform::InternetHandleTable;
using qel::platform::InternetObject;

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR, LPCSTR, DWORD dwFlags) {
  // The stand-in is synchronous only, and takes its proxy from the
  // environment or not at all: named proxies have no Linux counterpart here.
  if ((dwFlags & INTERNET_FLAG_ASYNC) != 0) return qel::platform::FailWith(ERROR_INVALID_PARAMETER);
  if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG && dwAccessType != INTERNET_OPEN_TYPE_DIRECT &&
      dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
    return qel::platform::FailWith(ERROR_INVALID_PARAMETER);
  }
  auto session = std::make_shared<qel::platform::InternetSession>();
  session->agent = lpszAgent != nullptr ? lpszAgent : "";
  session->useDirect = dwAccessType == INTERNET_OPEN_TYPE_DIRECT;
  {
    qel::platform::InternetState& state = qel::platform::State();
    const std::lock_guard lock(state.mutex);
    state.lastAgent = session->agent;
    session->connectMs = state.connectMs;
    session->receiveMs = state.receiveMs;
  }
  InternetObject entry;
  entry.session = std::move(session);
  return InternetHandleTable::Instance().Add(std::move(entry));
}

HINTERNET InternetOpenUrlA(HINTERNET hInternet, LPCSTR lpszUrl, LPCSTR lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, UINT_PTR) {
  InternetHandleTable& table = InternetHandleTable::Instance();
  const auto root = table.Find(hInternet);
  if (!root) return qel::platform::FailWith(ERROR_INVALID_HANDLE);
  if (!root->session) return qel::platform::FailWith(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  // The stand-in sends no extra headers; refused rather than dropped unseen.
  if (lpszUrl == nullptr || (lpszHeaders != nullptr && dwHeadersLength != 0)) {
    return qel::platform::FailWith(ERROR_INVALID_PARAMETER);
  }

  qel::platform::RequestSettings settings;
  if (const DWORD error = qel::platform::CheckInternetUrl(lpszUrl, settings.wireUrl);
      error != ERROR_SUCCESS) {
    return qel::platform::FailWith(error);
  }
  settings.agent = root->session->agent;
  settings.useDirect = root->session->useDirect;
  settings.followRedirects = (dwFlags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
  settings.noCache = (dwFlags & (INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE)) != 0;
  settings.connectMs = root->session->connectMs;
  settings.receiveMs = root->session->receiveMs;

  // Registered before it is sent, so that closing the root meanwhile
  // cancels it, as it does in WinINet.
  auto request = std::make_shared<qel::platform::InternetRequest>(std::move(settings));
  InternetObject entry;
  entry.request = request;
  entry.parent = hInternet;
  HINTERNET handle = table.Add(std::move(entry));
  if (handle == nullptr) return qel::platform::FailWith(ERROR_INVALID_HANDLE);
  if (const DWORD error = request->Open(); error != ERROR_SUCCESS) {
    table.Close(handle);
    return qel::platform::FailWith(error);
  }
  return handle;
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
  const auto file = qel::platform::FindRequest(hFile);
  if (!file) return FALSE;
  if (lpdwNumberOfBytesRead == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToRead > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpdwNumberOfBytesRead = 0;

  std::shared_ptr<const qel::platform::ReadHook> hook;
  {
    qel::platform::InternetState& state = qel::platform::State();
    const std::lock_guard lock(state.mutex);
    hook = state.readHook;
  }
  // Whatever the hook throws leaves through here untouched; nothing has
  // changed yet, so the handle stays valid.
  if (hook) (*hook)();

  DWORD read = 0;
  if (const DWORD error = file->request->Read(lpBuffer, dwNumberOfBytesToRead, read);
      error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  *lpdwNumberOfBytesRead = read;
  return TRUE;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
  if (!InternetHandleTable::Instance().Close(hInternet)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        DWORD dwBufferLength) {
  const auto root = InternetHandleTable::Instance().Find(hInternet);
  if (!root) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (dwOption != INTERNET_OPTION_CONNECT_TIMEOUT && dwOption != INTERNET_OPTION_SEND_TIMEOUT &&
      dwOption != INTERNET_OPTION_RECEIVE_TIMEOUT) {
    SetLastError(ERROR_INTERNET_INVALID_OPTION);
    return FALSE;
  }
  if (!root->session) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  if (lpBuffer == nullptr || dwBufferLength < sizeof(DWORD)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD value = 0;
  std::memcpy(&value, lpBuffer, sizeof value);
  // A request goes out with its connection, so the send time-out has
  // nothing of its own to bound here. WinINet reads 0xFFFFFFFF as no limit.
  const long ms = value > 0x7FFFFFFF ? 0 : static_cast<long>(value);
  if (dwOption == INTERNET_OPTION_CONNECT_TIMEOUT) root->session->connectMs = ms;
  if (dwOption == INTERNET_OPTION_RECEIVE_TIMEOUT) root->session->receiveMs = ms;
  return TRUE;
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD) {
  const auto file = qel::platform::FindRequest(hRequest);
  if (!file) return FALSE;
  if (lpdwBufferLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD status = file->request->StatusCode();
  const DWORD level = dwInfoLevel & ~HTTP_QUERY_FLAG_NUMBER;
  const long long length = level == HTTP_QUERY_CONTENT_LENGTH ? file->request->ContentLength() : -1;
  const bool known = level == HTTP_QUERY_CONTENT_LENGTH
                         ? length >= 0 && (dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) == 0
                         : level == HTTP_QUERY_STATUS_CODE || level == HTTP_QUERY_STATUS_TEXT;
  if (status == 0 || !known) {
    SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return FALSE;
  }
  if (level == HTTP_QUERY_STATUS_CODE && (dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) != 0) {
    if (*lpdwBufferLength < sizeof(DWORD) || lpBuffer == nullptr) {
      *lpdwBufferLength = sizeof(DWORD);
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(lpBuffer, &status, sizeof status);
    *lpdwBufferLength = sizeof(DWORD);
    return TRUE;
  }
  const std::string text = level == HTTP_QUERY_STATUS_CODE      ? std::to_string(status)
                           : level == HTTP_QUERY_CONTENT_LENGTH ? std::to_string(length)
                                                                : file->request->StatusText();
  return qel::platform::TextToBuffer(text, lpBuffer, lpdwBufferLength);
}

BOOL InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                          LPDWORD lpdwBufferLength) {
  const auto file = qel::platform::FindRequest(hInternet);
  if (!file) return FALSE;
  if (dwOption != INTERNET_OPTION_URL) {
    SetLastError(ERROR_INTERNET_INVALID_OPTION);
    return FALSE;
  }
  if (lpdwBufferLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string url = file->request->EffectiveUrl();
  if (url.empty()) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return FALSE;
  }
  return qel::platform::TextToBuffer(url, lpBuffer, lpdwBufferLength);
}
