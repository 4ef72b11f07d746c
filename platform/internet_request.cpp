#include "platform/internet_request.h"

#include <qel_platform.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/curl_error_map.h"

namespace qel::platform {
namespace {

// The most body the request holds before it stops taking data from the
// connection until its reader catches up (plus at most one curl chunk).
constexpr size_t kPauseAt = 64 * 1024;
constexpr long kMaxRedirects = 10;
// Longest single wait, so that a missed wake-up costs a second, not a hang.
constexpr int kWaitSliceMs = 1000;
// Connect limit when the caller asked for none (curl's own 0 means 300 s).
constexpr long kNoConnectLimitMs = 0x7FFFFFFF;
constexpr const char* kProtocols = "http,https,ftp";
constexpr const char* kTestCaFileVariable = "QEL_TEST_CA_FILE";

// curl_global_init must run once before any other curl call, and not on two
// threads at once; a function-local static gives both.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

std::atomic<size_t>& PeakBuffered() {
  static std::atomic<size_t> peak{0};
  return peak;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// The environment's proxy exceptions plus the loopback addresses, which
// Windows never sends through a proxy either.
std::string NoProxyList() {
  const char* env = std::getenv("no_proxy");
  if (env == nullptr || *env == '\0') env = std::getenv("NO_PROXY");
  std::string list = "localhost,127.0.0.0/8,::1";
  if (env != nullptr && *env != '\0') {
    if (std::string_view(env) == "*") return "*";
    list += ',';
    list += env;
  }
  return list;
}

}  // namespace

size_t PeakInternetBufferBytes() { return PeakBuffered().load(); }

InternetRequest::InternetRequest(RequestSettings settings) : m_settings(std::move(settings)) {
  if (!CurlReady()) return;
  m_multi.reset(curl_multi_init());
  m_easy.reset(curl_easy_init());
}

InternetRequest::~InternetRequest() {
  if (m_bAttached) curl_multi_remove_handle(m_multi.get(), m_easy.get());
}

DWORD InternetRequest::Configure() {
  CURL* easy = m_easy.get();
  bool ok = true;
  const auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };
  set(CURLOPT_URL, m_settings.wireUrl.c_str());
  // WinINet speaks these three and nothing else, redirects included.
  set(CURLOPT_PROTOCOLS_STR, kProtocols);
  set(CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
  set(CURLOPT_FOLLOWLOCATION, m_settings.followRedirects ? 1L : 0L);
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // Signals would reach other threads of the process.
  set(CURLOPT_NOSIGNAL, 1L);
  if (!m_settings.agent.empty()) set(CURLOPT_USERAGENT, m_settings.agent.c_str());
  if (m_settings.useDirect) {
    set(CURLOPT_PROXY, "");
  } else {
    set(CURLOPT_NOPROXY, NoProxyList().c_str());
  }
  // The tests' own certificate authority, trusted instead of the system's
  // only when the test run names it; unset, curl's default trust stands.
  if (const char* caFile = std::getenv(kTestCaFileVariable); caFile != nullptr && *caFile != '\0') {
    set(CURLOPT_CAINFO, caFile);
  }
  set(CURLOPT_CONNECTTIMEOUT_MS,
      m_settings.connectMs > 0 ? m_settings.connectMs : kNoConnectLimitMs);
  // No cookie file is ever named, so curl's cookie engine stays off; curl
  // keeps no cache either.
  set(CURLOPT_HEADERFUNCTION, &InternetRequest::OnHeader);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &InternetRequest::OnBody);
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_PREREQFUNCTION, &InternetRequest::OnRequestReady);
  set(CURLOPT_PREREQDATA, this);

  if (m_settings.noCache) {
    m_headerList.reset(curl_slist_append(nullptr, "Pragma: no-cache"));
    if (!m_headerList) return ERROR_NOT_ENOUGH_MEMORY;
    set(CURLOPT_HTTPHEADER, m_headerList.get());
  }
  return ok ? ERROR_SUCCESS : ERROR_INTERNET_INTERNAL_ERROR;
}

DWORD InternetRequest::Open() {
  const std::lock_guard lock(m_mutex);
  if (!m_multi || !m_easy) return ERROR_INTERNET_INTERNAL_ERROR;
  if (const DWORD error = Configure(); error != ERROR_SUCCESS) return error;
  if (curl_multi_add_handle(m_multi.get(), m_easy.get()) != CURLM_OK) {
    return ERROR_INTERNET_INTERNAL_ERROR;
  }
  m_bAttached = true;
  WaitUntil([this] { return m_bHeadersDone || Buffered() > 0; });
  // A failure once the response has begun belongs to the reads.
  if (m_bHeadersDone || Buffered() > 0) return ERROR_SUCCESS;
  return m_lError;
}

DWORD InternetRequest::Read(void* buffer, DWORD size, DWORD& read) {
  read = 0;
  if (size == 0) return ERROR_SUCCESS;
  const std::lock_guard lock(m_mutex);
  // As synchronous WinINet does, a read returns short only at the end of the
  // body; a failure after some bytes waits for the next read.
  auto* out = static_cast<char*>(buffer);
  DWORD total = 0;
  while (total < size) {
    if (Buffered() == 0 && m_bPaused) {
      m_bPaused = false;
      // curl hands over the chunk it held back from inside this call.
      if (curl_easy_pause(m_easy.get(), CURLPAUSE_CONT) != CURLE_OK) {
        Finish(ERROR_INTERNET_INTERNAL_ERROR);
      }
    }
    WaitUntil([this] { return Buffered() > 0; });
    if (Buffered() == 0) {
      if (total > 0) break;
      return m_lError;
    }
    const size_t count = std::min<size_t>(size - total, Buffered());
    std::memcpy(out + total, m_body.data() + m_bodyOffset, count);
    m_bodyOffset += count;
    total += static_cast<DWORD>(count);
    if (m_bodyOffset == m_body.size()) {
      m_body.clear();
      m_bodyOffset = 0;
    }
  }
  read = total;
  return ERROR_SUCCESS;
}

void InternetRequest::Cancel() {
  m_bCancelled = true;
  if (m_multi) curl_multi_wakeup(m_multi.get());
}

DWORD InternetRequest::StatusCode() {
  const std::lock_guard lock(m_mutex);
  long status = 0;
  if (m_easy) curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &status);
  return static_cast<DWORD>(status);
}

long long InternetRequest::ContentLength() {
  const std::lock_guard lock(m_mutex);
  curl_off_t length = -1;
  if (m_easy) curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  return static_cast<long long>(length);
}

std::string InternetRequest::EffectiveUrl() {
  const std::lock_guard lock(m_mutex);
  const char* url = nullptr;
  if (!m_easy || curl_easy_getinfo(m_easy.get(), CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK ||
      url == nullptr) {
    return {};
  }
  return url;
}

std::string InternetRequest::StatusText() {
  const std::lock_guard lock(m_mutex);
  return m_statusText;
}

template <typename Ready>
void InternetRequest::WaitUntil(Ready ready) {
  if (ready() || m_bDone) return;
  // The receive time-out counts time spent waiting in this call, as WinINet's
  // counts time blocked in one receive.
  m_lastActivity = Clock::now();
  for (;;) {
    Advance();
    if (ready() || m_bDone) return;
    if (m_bCancelled) {
      Finish(ERROR_INTERNET_OPERATION_CANCELLED);
      return;
    }
    long waitMs = kWaitSliceMs;
    // Before the connection is up only the connect limit applies.
    if (m_bSent && m_settings.receiveMs > 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          m_lastActivity + std::chrono::milliseconds(m_settings.receiveMs) - Clock::now());
      if (left.count() <= 0) {
        Finish(ERROR_INTERNET_TIMEOUT);
        return;
      }
      waitMs = std::min<long>(waitMs, static_cast<long>(left.count()));
    }
    if (curl_multi_poll(m_multi.get(), nullptr, 0, static_cast<int>(waitMs), nullptr) != CURLM_OK) {
      Finish(ERROR_INTERNET_INTERNAL_ERROR);
      return;
    }
  }
}

void InternetRequest::Advance() {
  int running = 0;
  if (curl_multi_perform(m_multi.get(), &running) != CURLM_OK) {
    Finish(ERROR_INTERNET_INTERNAL_ERROR);
    return;
  }
  bool done = false;
  CURLcode result = CURLE_OK;
  int queued = 0;
  while (const CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
    if (message->msg == CURLMSG_DONE) {
      done = true;
      result = message->data.result;
    }
  }
  if (!done) return;
  long verifyResult = 0;
  if (result == CURLE_PEER_FAILED_VERIFICATION) {
    curl_easy_getinfo(m_easy.get(), CURLINFO_SSL_VERIFYRESULT, &verifyResult);
  }
  DWORD error = InternetErrorFromCurl(result, verifyResult);
  if (result == CURLE_UNSUPPORTED_PROTOCOL) {
    // The URL's own scheme was checked before the request went out: this is
    // a redirect elsewhere, or a reply that is not HTTP/1.x at all.
    error = m_bRedirecting ? ERROR_HTTP_REDIRECT_FAILED : ERROR_HTTP_INVALID_SERVER_RESPONSE;
  } else if (result == CURLE_WRITE_ERROR && m_bOutOfMemory) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  } else if (m_bHeaderSeen && !m_bHeadersDone &&
             (result == CURLE_RECV_ERROR || result == CURLE_OUT_OF_MEMORY)) {
    // curl's refusal of a response head that does not end (a header line
    // past its buffer, or headers past its total): the server's fault, as
    // WinINet sees it, not this process's memory or the connection.
    error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
  }
  Finish(error);
}

void InternetRequest::Finish(DWORD error) {
  if (m_bDone) return;
  m_bDone = true;
  m_lError = error;
  if (m_bAttached) {
    curl_multi_remove_handle(m_multi.get(), m_easy.get());
    m_bAttached = false;
  }
}

size_t InternetRequest::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto& request = *static_cast<InternetRequest*>(self);
  const size_t length = size * count;
  const std::string_view line(data, length);
  request.m_lastActivity = Clock::now();
  request.m_bHeaderSeen = true;
  if (StartsWithNoCase(line, "http/")) {
    request.m_bLocationSeen = false;
    // "HTTP/1.1 404 Not Found": the reason phrase follows the second space.
    std::string_view reason = line;
    for (int field = 0; field < 2; ++field) {
      const size_t space = reason.find(' ');
      reason = space == std::string_view::npos ? std::string_view() : reason.substr(space + 1);
    }
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) {
      reason.remove_suffix(1);
    }
    request.m_statusText = reason;
  } else if (StartsWithNoCase(line, "location:")) {
    request.m_bLocationSeen = true;
  } else if (line == "\r\n" || line == "\n") {
    // The end of one response's headers: final unless interim (1xx), a
    // proxy's answer to CONNECT (no response code yet) or a redirect curl
    // is about to follow.
    long status = 0;
    curl_easy_getinfo(request.m_easy.get(), CURLINFO_RESPONSE_CODE, &status);
    request.m_bRedirecting = request.m_settings.followRedirects && status >= 300 && status < 400 &&
                             request.m_bLocationSeen;
    if (status >= 200 && !request.m_bRedirecting) request.m_bHeadersDone = true;
  }
  return length;
}

size_t InternetRequest::OnBody(char* data, size_t size, size_t count, void* self) {
  auto& request = *static_cast<InternetRequest*>(self);
  const size_t length = size * count;
  if (request.Buffered() >= kPauseAt) {
    // curl keeps this chunk and hands it over again after the reader's
    // Read resumes the transfer.
    request.m_bPaused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  try {
    std::vector<char>& body = request.m_body;
    if (request.m_bodyOffset > 0 && request.m_bodyOffset >= body.size() / 2) {
      body.erase(body.begin(), body.begin() + static_cast<ptrdiff_t>(request.m_bodyOffset));
      request.m_bodyOffset = 0;
    }
    body.insert(body.end(), data, data + length);
    size_t peak = PeakBuffered().load(std::memory_order_relaxed);
    const size_t held = request.Buffered();
    while (held > peak && !PeakBuffered().compare_exchange_weak(peak, held)) {
    }
  } catch (const std::bad_alloc&) {
    request.m_bOutOfMemory = true;
    return 0;  // curl ends the transfer with CURLE_WRITE_ERROR
  }
  request.m_lastActivity = Clock::now();
  return length;
}

int InternetRequest::OnRequestReady(void* self, char*, char*, int, int) {
  auto& request = *static_cast<InternetRequest*>(self);
  request.m_bSent = true;
  request.m_lastActivity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

}  // namespace qel::platform
