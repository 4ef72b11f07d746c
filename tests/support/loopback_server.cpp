#include "tests/support/loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <charconv>
#include <chrono>
#include <stdexcept>
#include <utility>

#include "common/text.h"

namespace qel::test {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef _WIN32
using NativeSocket = SOCKET;
using SockLen = int;
constexpr int kSendFlags = 0;
#else
using NativeSocket = int;
using SockLen = socklen_t;
// A client that hangs up must not kill the test process with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

#ifdef _WIN32
// Readiness events on Windows are edge-like; waking now and then to retry the
// call guards against one that was missed.
constexpr DWORD kRetryMs = 100;
#endif
// A client that sends nothing for this long is dropped.
constexpr long kIdleTimeoutMs = 10000;
// After the last byte, how long the client may take to hang up on its own.
constexpr long kLingerMs = 2000;
constexpr size_t kMaxHead = 64 * 1024;
constexpr int kMaxRouteDepth = 8;

NativeSocket Native(uintptr_t s) { return static_cast<NativeSocket>(s); }

int LastSocketError() {
#ifdef _WIN32
  return WSAGetLastError();
#else
  return errno;
#endif
}

bool IsTransient(int error) {
#ifdef _WIN32
  return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
#else
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
#endif
}

bool SetNonBlocking(uintptr_t s) {
#ifdef _WIN32
  u_long on = 1;
  return ioctlsocket(Native(s), FIONBIO, &on) == 0;
#else
  const int flags = fcntl(Native(s), F_GETFL, 0);
  return flags != -1 && fcntl(Native(s), F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

uint16_t BoundPort(uintptr_t s) {
  sockaddr_in address{};
  SockLen length = sizeof address;
  if (getsockname(Native(s), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("loopback server: getsockname failed");
  }
  return ntohs(address.sin_port);
}

uintptr_t BindLoopback() {
  const NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
  if (s == INVALID_SOCKET) throw std::runtime_error("loopback server: socket failed");
#else
  if (s < 0) throw std::runtime_error("loopback server: socket failed");
#endif
  const uintptr_t handle = static_cast<uintptr_t>(s);
  const sockaddr_in address = LoopbackAddress(0);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
#ifdef _WIN32
    closesocket(s);
#else
    close(s);
#endif
    throw std::runtime_error("loopback server: bind to 127.0.0.1 failed");
  }
  return handle;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2])));
      i += 2;
    } else if (s[i] == '+') {
      out.push_back(' ');
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// The value of name in a query string ("a=1&b=2"), decoded; empty if absent.
std::string QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const size_t eq = pair.find('=');
    if (pair.substr(0, eq) == name) {
      return eq == std::string_view::npos ? std::string() : PercentDecode(pair.substr(eq + 1));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return {};
}

long QueryNumber(std::string_view query, std::string_view name, long fallback) {
  const std::string text = QueryValue(query, name);
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 0 ? value : fallback;
}

const char* Reason(int code) {
  switch (code) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::string Head(int code, std::string_view contentType, const size_t* contentLength,
                 std::string_view extraHeaders = {}) {
  std::string head = "HTTP/1.1 " + std::to_string(code) + " " + Reason(code) + "\r\n";
  head += "Content-Type: ";
  head += contentType;
  head += "\r\n";
  if (contentLength != nullptr)
    head += "Content-Length: " + std::to_string(*contentLength) + "\r\n";
  head += extraHeaders;
  head += "Connection: close\r\n\r\n";
  return head;
}

std::string Response(int code, std::string_view contentType, std::string_view body,
                     std::string_view extraHeaders = {}) {
  const size_t length = body.size();
  return Head(code, contentType, &length, extraHeaders) + std::string(body);
}

// The request target without scheme and authority, as a proxy-style request
// would carry them.
std::string_view OriginForm(std::string_view target) {
  const size_t scheme = target.find("://");
  if (scheme == std::string_view::npos || target.substr(0, 1) == "/") return target;
  const size_t path = target.find('/', scheme + 3);
  return path == std::string_view::npos ? std::string_view("/") : target.substr(path);
}

}  // namespace

// ---- Socket, session and stop signal ----------------------------------------

LoopbackServer::Socket::Socket(uintptr_t handle) : m_handle(handle) {
#ifdef _WIN32
  // One event for the socket's life, for every kind of readiness; accepted
  // sockets would otherwise share the listener's.
  const WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return;
  m_event = reinterpret_cast<uintptr_t>(event);
  WSAEventSelect(Native(m_handle), event, FD_READ | FD_WRITE | FD_CLOSE | FD_ACCEPT);
#endif
}

LoopbackServer::Socket::Socket(Socket&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kInvalid)), m_event(std::exchange(other.m_event, 0)) {}

LoopbackServer::Socket& LoopbackServer::Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    m_handle = std::exchange(other.m_handle, kInvalid);
    m_event = std::exchange(other.m_event, 0);
  }
  return *this;
}

void LoopbackServer::Socket::Close() {
  if (Valid()) {
#ifdef _WIN32
    closesocket(Native(m_handle));
#else
    close(Native(m_handle));
#endif
    m_handle = kInvalid;
  }
#ifdef _WIN32
  if (m_event != 0) WSACloseEvent(reinterpret_cast<WSAEVENT>(std::exchange(m_event, 0)));
#endif
}

void LoopbackServer::Socket::Abort() {
  if (!Valid()) return;
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(Native(m_handle), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
             sizeof option);
  Close();
}

LoopbackServer::NetworkSession::NetworkSession() {
#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    throw std::runtime_error("loopback server: WSAStartup failed");
  }
#endif
}

LoopbackServer::NetworkSession::~NetworkSession() {
#ifdef _WIN32
  WSACleanup();
#endif
}

LoopbackServer::StopSignal::StopSignal() {
#ifdef _WIN32
  const WSAEVENT event = WSACreateEvent();  // manual reset: stays raised
  if (event == WSA_INVALID_EVENT) throw std::runtime_error("loopback server: no stop event");
  m_wait = m_raise = reinterpret_cast<uintptr_t>(event);
#else
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("loopback server: no stop pipe");
  m_wait = static_cast<uintptr_t>(ends[0]);
  m_raise = static_cast<uintptr_t>(ends[1]);
#endif
}

LoopbackServer::StopSignal::~StopSignal() {
#ifdef _WIN32
  WSACloseEvent(reinterpret_cast<WSAEVENT>(m_wait));
#else
  close(static_cast<int>(m_wait));
  close(static_cast<int>(m_raise));
#endif
}

void LoopbackServer::StopSignal::Raise() {
#ifdef _WIN32
  WSASetEvent(reinterpret_cast<WSAEVENT>(m_raise));
#else
  // The pipe is never read, so it stays readable for every later wait.
  const char byte = 1;
  while (write(static_cast<int>(m_raise), &byte, 1) < 0 && errno == EINTR) {
  }
#endif
}

// ---- Life ------------------------------------------------------------------

LoopbackServer::LoopbackServer() : m_listener(BindLoopback()), m_refused(BindLoopback()) {
  // The refused port stays bound but never listens, so connecting to it is
  // refused and no one else can take the port meanwhile.
  m_refusedPort = BoundPort(m_refused.Get());
  if (listen(Native(m_listener.Get()), SOMAXCONN) != 0 || !SetNonBlocking(m_listener.Get())) {
    throw std::runtime_error("loopback server: listen failed");
  }
  m_port = BoundPort(m_listener.Get());
  m_acceptThread = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_stopSignal.notify_all();
  m_stop.Raise();
  if (m_acceptThread.joinable()) m_acceptThread.join();
  // No worker is added once the accept loop has ended; each closes its own socket.
  for (Worker& worker : m_workers) {
    if (worker.thread.joinable()) worker.thread.join();
  }
  m_listener.Close();
  m_refused.Close();
}

void LoopbackServer::AcceptLoop() {
  try {
    while (!m_stopping) {
      if (!WaitReady(m_listener, false, Clock::now() + std::chrono::hours(1))) continue;
      const NativeSocket accepted = accept(Native(m_listener.Get()), nullptr, nullptr);
#ifdef _WIN32
      if (accepted == INVALID_SOCKET) continue;
#else
      if (accepted < 0) continue;
#endif
      Socket client(static_cast<uintptr_t>(accepted));
      if (!SetNonBlocking(client.Get())) continue;
      ReapFinished();
      auto done = std::make_shared<std::atomic<bool>>(false);
      std::thread thread([this, done, c = std::move(client)]() mutable {
        try {
          Serve(std::move(c));
        } catch (...) {
          // A failed connection only ends that connection.
        }
        *done = true;
      });
      std::lock_guard lock(m_mutex);
      m_workers.push_back(Worker{std::move(thread), std::move(done)});
    }
  } catch (...) {
    // Thread entry: nothing may escape. The tests see the server stop answering.
  }
}

void LoopbackServer::ReapFinished() {
  std::list<Worker> finished;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_workers.begin(); it != m_workers.end();) {
      auto next = std::next(it);
      if (*it->done) finished.splice(finished.end(), m_workers, it);
      it = next;
    }
  }
  for (Worker& worker : finished) worker.thread.join();
}

bool LoopbackServer::Pause(long ms) {
  std::unique_lock lock(m_mutex);
  return !m_stopSignal.wait_for(lock, std::chrono::milliseconds(ms),
                                [this] { return m_stopping.load(); });
}

// ---- Socket I/O ------------------------------------------------------------

bool LoopbackServer::WaitReady(const Socket& s, bool forWrite, Deadline deadline) const {
  for (;;) {
    if (m_stopping) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
#ifdef _WIN32
    (void)forWrite;  // the socket's one event signals every kind of readiness
    const WSAEVENT events[2] = {reinterpret_cast<WSAEVENT>(m_stop.WaitHandle()),
                                reinterpret_cast<WSAEVENT>(s.Event())};
    const DWORD wait = std::min<DWORD>(static_cast<DWORD>(left), kRetryMs);
    switch (WSAWaitForMultipleEvents(2, events, FALSE, wait, FALSE)) {
      case WSA_WAIT_EVENT_0:
        return false;
      case WSA_WAIT_EVENT_0 + 1: {
        WSANETWORKEVENTS happened;
        WSAEnumNetworkEvents(Native(s.Get()), events[1], &happened);  // resets the event
        return true;
      }
      case WSA_WAIT_TIMEOUT:
        return true;
      default:
        return false;
    }
#else
    pollfd watched[2] = {{Native(s.Get()), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                         {static_cast<int>(m_stop.WaitHandle()), POLLIN, 0}};
    const int n = poll(watched, 2, static_cast<int>(std::min<long long>(left, 60000)));
    if (n < 0 && errno != EINTR) return false;
    if (n > 0) return watched[1].revents == 0;
#endif
  }
}

bool LoopbackServer::SendAll(const Socket& s, std::string_view data) const {
  // The client must take something within the idle time-out, not all of it.
  auto deadline = Clock::now() + std::chrono::milliseconds(kIdleTimeoutMs);
  while (!data.empty()) {
    if (m_stopping) return false;
    const int chunk = static_cast<int>(std::min<size_t>(data.size(), 1 << 20));
    const auto sent = send(Native(s.Get()), data.data(), chunk, kSendFlags);
    if (sent > 0) {
      data.remove_prefix(static_cast<size_t>(sent));
      deadline = Clock::now() + std::chrono::milliseconds(kIdleTimeoutMs);
    } else if (sent < 0 && IsTransient(LastSocketError())) {
      if (!WaitReady(s, true, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool LoopbackServer::ReadHead(const Socket& s, std::string& head) const {
  std::string received;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kIdleTimeoutMs);
  for (;;) {
    for (std::string_view end : {std::string_view("\r\n\r\n"), std::string_view("\n\n")}) {
      const size_t at = received.find(end);
      if (at != std::string::npos) {
        head = received.substr(0, at);
        return true;
      }
    }
    if (received.size() > kMaxHead) return false;
    if (!WaitReady(s, false, deadline)) return false;
    char buffer[4096];
    const auto n = recv(Native(s.Get()), buffer, sizeof buffer, 0);
    if (n > 0) {
      received.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || !IsTransient(LastSocketError())) {
      return false;
    }
  }
}

void LoopbackServer::FinishAndClose(Socket& s) const {
  // Half-close and wait for the client to hang up: closing with unread input
  // would reset the connection and could cut off what the client has not read.
#ifdef _WIN32
  shutdown(Native(s.Get()), SD_SEND);
#else
  shutdown(Native(s.Get()), SHUT_WR);
#endif
  const auto deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
  char buffer[4096];
  while (WaitReady(s, false, deadline)) {
    const auto n = recv(Native(s.Get()), buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && !IsTransient(LastSocketError()))) break;
  }
  s.Close();
}

// ---- HTTP ------------------------------------------------------------------

void LoopbackServer::Serve(Socket client) {
  std::string head;
  if (!ReadHead(client, head)) return;
  // Request line: method, target, version.
  const std::string_view line = std::string_view(head).substr(0, head.find_first_of("\r\n"));
  {
    std::lock_guard lock(m_mutex);
    m_requestLines.emplace_back(line);
  }
  const size_t first = line.find(' ');
  const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos) {
    SendAll(client, Response(400, "text/plain", "bad request"));
    FinishAndClose(client);
    return;
  }
  const std::string target(OriginForm(line.substr(first + 1, second - first - 1)));
  Record(target, head);
  Respond(client, target, 0);
}

void LoopbackServer::Record(std::string_view target, const std::string& head) {
  const std::string_view path = target.substr(0, target.find('?'));
  std::lock_guard lock(m_mutex);
  m_lastHead = head;
  ++m_counts[std::string(path)];
  m_lastHeadByPath[std::string(path)] = head;
  if (path != target) {
    ++m_counts[std::string(target)];
    m_lastHeadByPath[std::string(target)] = head;
  }
}

void LoopbackServer::Respond(Socket& client, std::string_view target, int depth) {
  const size_t mark = target.find('?');
  const std::string_view path = target.substr(0, mark);
  const std::string_view query =
      mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);

  if (path == "/stall" || path == "/delay") {
    if (!Pause(QueryNumber(query, "ms", 0))) return;
    const std::string then = QueryValue(query, "then");
    if (!then.empty() && depth < kMaxRouteDepth) {
      Respond(client, then, depth + 1);
    } else {
      SendAll(client, Response(200, "text/plain", kStallBody));
      FinishAndClose(client);
    }
    return;
  }

  if (path == "/endless") {
    SendAll(client, Head(200, "text/plain", nullptr));
    const std::string chunk(64 * 1024, 'x');
    while (SendAll(client, chunk)) {
    }
    return;  // the client hung up or the server stops; no orderly end to offer
  }

  if (path == "/endless-declared" || path == "/endless-chunked") {
    // Bodies that never end although they say how they will.
    const bool chunked = path == "/endless-chunked";
    const size_t declared = size_t{1} << 40;
    std::string head = Head(200, "text/plain", chunked ? nullptr : &declared,
                            chunked ? "Transfer-Encoding: chunked\r\n" : "");
    if (!SendAll(client, head)) return;
    const std::string data(64 * 1024, 'x');
    const std::string chunk = chunked ? "10000\r\n" + data + "\r\n" : data;
    while (SendAll(client, chunk)) {
    }
    return;
  }

  if (path == "/endless-headers" || path == "/long-header" || path == "/continue-flood") {
    // Responses whose head never ends: header lines without end, one header
    // line without end, or interim responses without end.
    std::string start = "HTTP/1.1 200 OK\r\n";
    std::string more = "X-Filler: " + std::string(1000, 'h') + "\r\n";
    if (path == "/long-header") {
      start += "X-Long: ";
      more = std::string(64 * 1024, 'h');
    } else if (path == "/continue-flood") {
      start.clear();
      more = "HTTP/1.1 100 Continue\r\n\r\n";
    }
    if (!SendAll(client, start)) return;
    std::string batch;
    while (batch.size() < 64 * 1024) batch += more;
    while (SendAll(client, batch)) {
    }
    return;
  }

  if (path == "/redirect-loop") {
    SendAll(client, Response(302, "text/html", StatusBody(302),
                             "Location: " + Url("/redirect-loop") + "\r\n"));
    FinishAndClose(client);
    return;
  }

  if (path == "/hang-after-headers") {
    // The response's head and the start of its body, then nothing more.
    const size_t declared = 1000;
    if (SendAll(client, Head(200, "text/plain", &declared) + "file=")) Pause(kForeverMs);
    return;
  }

  if (path == "/trickle") {
    // One byte per interval, of a body that would take for ever.
    const long ms = QueryNumber(query, "ms", 1000);
    const size_t declared = 1 << 20;
    if (!SendAll(client, Head(200, "text/plain", &declared))) return;
    while (SendAll(client, "t") && Pause(ms)) {
    }
    return;
  }

  if (path == "/truncated") {
    const size_t declared = kTruncatedDeclared;
    if (SendAll(client, Head(200, "text/plain", &declared) + std::string(kTruncatedSent, 't'))) {
      FinishAndClose(client);
    }
    return;
  }

  if (path == "/reset") {
    const size_t sent = static_cast<size_t>(QueryNumber(query, "bytes", kResetSentDefault));
    const size_t declared = sent + 10000;
    if (SendAll(client, Head(200, "text/plain", &declared) + std::string(sent, 'r'))) {
      // Give the client time to take in what was sent, so that it meets the
      // reset while waiting for the rest.
      Pause(200);
    }
    client.Abort();
    return;
  }

  std::string response;
  if (path.substr(0, 8) == "/status/") {
    int code = 0;
    const std::string_view digits = path.substr(8);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    response =
        error == std::errc() && end == digits.data() + digits.size() && code >= 100 && code <= 999
            ? Response(code, "text/html", StatusBody(code))
            : Response(400, "text/plain", "bad status");
  } else if (path == "/redirect") {
    const std::string to = QueryValue(query, "to");
    response = to.empty() || to.front() != '/'
                   ? Response(400, "text/plain", "bad redirect")
                   : Response(302, "text/html", StatusBody(302), "Location: " + Url(to) + "\r\n");
  } else if (path == "/setcookie") {
    response =
        Response(200, "text/plain", kCookieBody, "Set-Cookie: qel_session=tasty; Path=/\r\n");
  } else {
    std::lock_guard lock(m_mutex);
    const auto found = m_resources.find(path);
    response = found == m_resources.end()
                   ? Response(404, "text/html", StatusBody(404))
                   : Response(200, found->second.contentType, found->second.body);
  }
  if (SendAll(client, response)) FinishAndClose(client);
}

// ---- Public members ----------------------------------------------------------

std::string LoopbackServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

std::u16string LoopbackServer::UrlText(std::string_view path) const {
  return Utf8ToText(Url(path));
}

void LoopbackServer::Put(std::string path, std::string body, std::string contentType) {
  std::lock_guard lock(m_mutex);
  m_resources[std::move(path)] = Resource{std::move(body), std::move(contentType)};
}

size_t LoopbackServer::RequestCount(std::string_view path) const {
  std::lock_guard lock(m_mutex);
  const auto found = m_counts.find(path);
  return found == m_counts.end() ? 0 : found->second;
}

std::vector<std::string> LoopbackServer::RequestLines() const {
  std::lock_guard lock(m_mutex);
  return m_requestLines;
}

std::string LoopbackServer::LastRequestHeaders() const {
  std::lock_guard lock(m_mutex);
  return m_lastHead;
}

std::string LoopbackServer::LastRequestHeaders(std::string_view path) const {
  std::lock_guard lock(m_mutex);
  const auto found = m_lastHeadByPath.find(path);
  return found == m_lastHeadByPath.end() ? std::string() : found->second;
}

std::string LoopbackServer::StatusBody(int code) {
  return "<html><head><title>" + std::to_string(code) + " " + Reason(code) +
         "</title></head><body><h1>" + std::to_string(code) + " " + Reason(code) +
         "</h1></body></html>\r\n";
}

}  // namespace qel::test
