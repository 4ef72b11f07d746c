// One URL request of the WinINet stand-in: a libcurl transfer driven by its
// reader, which holds a bounded part of the body at a time.
#pragma once

#include <curl/curl.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qel::platform {

// What a request is made with; fixed when the URL is opened.
struct RequestSettings {
  std::string wireUrl;     // as CheckInternetUrl gives it
  std::string agent;       // sent as User-Agent unless empty
  bool useDirect = false;  // ignore the environment's proxy settings
  bool followRedirects = true;
  bool noCache = false;  // ask proxies and caches to go to the origin
  long connectMs = 0;    // 0: no limit
  long receiveMs = 0;    // 0: no limit
};

class InternetRequest {
 public:
  explicit InternetRequest(RequestSettings settings);
  ~InternetRequest();
  InternetRequest(const InternetRequest&) = delete;
  InternetRequest& operator=(const InternetRequest&) = delete;

  // Sends the request and waits for the final response's headers (or the
  // first data, or the end). ERROR_SUCCESS or the WinINet error.
  DWORD Open();
  // Waits for at least one byte of the body or its end and copies up to size
  // bytes; read = 0 at the end. ERROR_SUCCESS or the WinINet error.
  DWORD Read(void* buffer, DWORD size, DWORD& read);
  // Makes a wait in Open or Read, now or later, end with
  // ERROR_INTERNET_OPERATION_CANCELLED. Any thread may call it.
  void Cancel();
  // The status code and reason phrase of the response read so far (the
  // final one once Open has succeeded); 0 and empty before any.
  DWORD StatusCode();
  std::string StatusText();
  // The Content-Length the response declared, or -1 when it declared none.
  long long ContentLength();
  // The URL of the response read so far (after redirects once Open has
  // succeeded); empty if curl cannot tell.
  std::string EffectiveUrl();

 private:
  using Clock = std::chrono::steady_clock;
  struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
  };
  struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
  };
  struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };

  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static int OnRequestReady(void* self, char* primaryIp, char* localIp, int primaryPort,
                            int localPort);

  DWORD Configure();
  template <typename Ready>
  void WaitUntil(Ready ready);
  void Advance();
  void Finish(DWORD error);
  size_t Buffered() const { return m_body.size() - m_bodyOffset; }

  RequestSettings m_settings;
  // Declared so that the easy handle goes first and the header list last.
  std::unique_ptr<curl_slist, ListDeleter> m_headerList;
  std::unique_ptr<CURLM, MultiDeleter> m_multi;
  std::unique_ptr<CURL, EasyDeleter> m_easy;
  bool m_bAttached = false;  // the easy handle is in the multi handle

  // Body bytes received and not yet read, from m_bodyOffset on.
  std::vector<char> m_body;
  size_t m_bodyOffset = 0;
  bool m_bPaused = false;
  bool m_bOutOfMemory = false;

  bool m_bSent = false;  // a connection is up and the request on its way
  bool m_bLocationSeen = false;
  std::string m_statusText;
  bool m_bRedirecting = false;
  bool m_bHeaderSeen = false;  // a line of a response head has arrived
  bool m_bHeadersDone = false;
  bool m_bDone = false;
  DWORD m_lError = ERROR_SUCCESS;
  Clock::time_point m_lastActivity;

  std::atomic<bool> m_bCancelled{false};
  std::mutex m_mutex;  // one caller at a time
};

}  // namespace qel::platform
