#include "platform/internet_url.h"

#include <curl/curl.h>
#include <wininet.h>

#include <memory>

namespace qel::platform {
namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The scheme before the first ':', lower-cased; empty when there is none.
std::string SchemeOf(std::string_view url) {
  if (url.empty() || !IsAlpha(url[0])) return {};
  std::string scheme;
  for (const char c : url) {
    if (c == ':') return scheme;
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return {};
    scheme += Lower(c);
  }
  return {};
}

}  // namespace

DWORD CheckInternetUrl(std::string_view url, std::string& wireUrl) {
  if (url.empty()) return ERROR_INTERNET_INVALID_URL;
  const std::string scheme = SchemeOf(url);
  if (scheme != "http" && scheme != "https" && scheme != "ftp") {
    return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  }
  // curl would read "http:/x" and "http:///x" as naming host x; WinINet
  // rejects both, so a request never goes to a host the URL did not name.
  const std::string_view rest = url.substr(scheme.size() + 1);
  if (rest.size() < 3 || rest.substr(0, 2) != "//" ||
      std::string_view("/\\?#").find(rest[2]) != std::string_view::npos) {
    return ERROR_INTERNET_INVALID_URL;
  }

  std::string escaped;
  escaped.reserve(url.size());
  for (const char c : url) {
    if (c == ' ') {
      escaped += "%20";
    } else {
      escaped += c;
    }
  }
  const std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return ERROR_NOT_ENOUGH_MEMORY;
  const CURLUcode set = curl_url_set(parsed.get(), CURLUPART_URL, escaped.c_str(), 0);
  if (set == CURLUE_OUT_OF_MEMORY) return ERROR_NOT_ENOUGH_MEMORY;
  if (set != CURLUE_OK) return ERROR_INTERNET_INVALID_URL;
  char* text = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_URL, &text, 0) != CURLUE_OK) {
    return ERROR_INTERNET_INVALID_URL;
  }
  const std::unique_ptr<char, CurlStringDeleter> owned(text);
  wireUrl = owned.get();
  return ERROR_SUCCESS;
}

}  // namespace qel::platform
