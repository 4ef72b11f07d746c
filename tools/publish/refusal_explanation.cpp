#include "tools/publish/refusal_explanation.h"

#include <windows.h>
#include <wininet.h>

#include <cmath>

#include "common/text.h"
#include "retrieval/internet_handle.h"
#include "retrieval/modInternetFunctions.h"
#include "tools/publish/version_lint.h"
#include "tools/system_message.h"

namespace qel::tool {
namespace {

std::string ToAnsi(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide, length, ansi.data(), size, nullptr, nullptr);
  return ansi;
}

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

}  // namespace

Fetched FetchAgain(const std::u16string& url, double timeoutSeconds) {
  Fetched fetched;
  const InternetHandle root(
      InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root) {
    fetched.error = LastError();
    return fetched;
  }
#ifdef _WIN32
  // WinINet under Wine has no time-outs of its own.
  DWORD ms = static_cast<DWORD>(std::lround(timeoutSeconds * 1000.0));
  for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionW(root.Get(), option, &ms, sizeof ms);
  }
#else
  (void)timeoutSeconds;  // the stand-in applies WinINet's default time-outs
#endif
  const InternetHandle file(
      InternetOpenUrlA(root.Get(), ToAnsi(url).c_str(), nullptr, 0,
                       static_cast<DWORD>(modInternetFunctions::kRequestFlags), 0));
  if (!file) {
    fetched.error = LastError();
    return fetched;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  if (HttpQueryInfoA(file.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                     nullptr)) {
    fetched.status = status;
    char text[256];
    DWORD textSize = sizeof text;
    if (HttpQueryInfoA(file.Get(), HTTP_QUERY_STATUS_TEXT, text, &textSize, nullptr)) {
      fetched.statusText.assign(text, textSize);
    }
  }
  char buffer[4096];
  DWORD read = 0;
  for (;;) {
    if (!InternetReadFile(file.Get(), buffer, sizeof buffer, &read)) {
      fetched.error = LastError();
      break;
    }
    if (read == 0) break;
    fetched.bytes.append(buffer, read);
    if (fetched.bytes.size() > modInternetFunctions::kMaxResourceBytes) {
      fetched.error = ERROR_FILE_TOO_LARGE;
      break;
    }
  }
  return fetched;
}

std::string StatusLine(uint32_t status, const std::string& serverText) {
  static constexpr std::pair<uint32_t, const char*> kReasons[] = {
      {200, "OK"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {407, "Proxy Authentication Required"},
      {410, "Gone"},
      {500, "Internal Server Error"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  std::string reason = serverText;
  for (const auto& [code, text] : kReasons) {
    if (code == status) reason = text;
  }
  return std::to_string(status) + (reason.empty() ? "" : " " + reason);
}

std::vector<std::string> ExplainRefusal(const std::u16string& url, const Fetched& fetched) {
  std::vector<std::string> lines;
  if (fetched.status != 0 && fetched.status != 200) {
    lines.push_back("the server answered " + StatusLine(fetched.status, fetched.statusText));
  }
  if (fetched.error != 0) {
    const std::string message = SystemMessage(fetched.error);
    lines.push_back("fetching the URL again failed with error " + std::to_string(fetched.error) +
                    (message.empty() ? "" : ": " + message));
    return lines;
  }
  const LintResult lint = LintVersionFile(fetched.bytes, url);
  if (lint.accepted) {
    lines.push_back("the file fetched again is accepted; it may have changed since the check");
  } else if (lint.error) {
    lines.push_back(lint.error->message + " (" + lint.error->hint + ")");
  }
  return lines;
}

}  // namespace qel::tool
