#include "bench/raw_fetch.h"

#include <curl/curl.h>

#include <memory>
#include <stdexcept>

namespace qel::bench {
namespace {

size_t Append(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

}  // namespace

std::string RawFetch(const std::string& url) {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  const std::unique_ptr<CURL, EasyDeleter> easy(ready ? curl_easy_init() : nullptr);
  if (!easy) throw std::runtime_error("libcurl could not start");
  std::string body;
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
  curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
  const CURLcode result = curl_easy_perform(easy.get());
  if (result != CURLE_OK) throw std::runtime_error(curl_easy_strerror(result));
  return body;
}

}  // namespace qel::bench
