// A small HTTP server on 127.0.0.1 for the network tests, so that no test ever
// talks to another machine. One request per connection, each on its own
// thread; the server stops promptly when destroyed, whatever its clients do.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qel::test {

class LoopbackServer {
 public:
  // Built-in routes, besides the resources given to Put:
  //   /status/<code>               that status with StatusBody(code)
  //   /redirect?to=<path>          302 to this server's <path>
  //   /truncated                   Content-Length 1000, 100 bytes, then a clean close
  //   /reset[?bytes=N]             headers and N body bytes (300) of a longer
  //                                body, a pause, then an abortive close (RST)
  //   /stall?ms=N[&then=<path>]    answers after N ms with <path>, or kStallBody
  //   /delay?ms=N[&then=<path>]    the same
  //   /endless                     200, no Content-Length, a body that never ends
  //   /hang-after-headers          200 and the body's first bytes, then silence
  //   /trickle?ms=N                200, a long body sent one byte every N ms (1000)
  //   /endless-declared            200, Content-Length 1 TiB, a body that never ends
  //   /endless-chunked             200, chunked, chunks that never end
  //   /endless-headers             200, then header lines that never end
  //   /long-header                 200, then one header line that never ends
  //   /continue-flood              100 Continue, for ever
  //   /redirect-loop               302 to itself
  //   /setcookie                   200 with a Set-Cookie header
  // Anything else is 404. Query values may be percent-encoded.
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  uint16_t Port() const { return m_port; }
  // "http://127.0.0.1:<port><path>"; path starts with '/'.
  std::string Url(std::string_view path) const;
  std::u16string UrlText(std::string_view path) const;

  // A port on 127.0.0.1 that refuses connections for the server's life.
  uint16_t RefusedPort() const { return m_refusedPort; }

  // Serves exactly these bytes at path (matched without query) with 200 and
  // Content-Length. A later Put replaces the resource.
  void Put(std::string path, std::string body, std::string contentType = "text/plain");

  // Requests whose path (the target without its query) or whole target equals path.
  size_t RequestCount(std::string_view path) const;
  // Every request line received, in order.
  std::vector<std::string> RequestLines() const;
  // Request line and header lines of the latest request, CR LF separated.
  std::string LastRequestHeaders() const;
  // The same for the latest request to path (matched as in RequestCount);
  // empty if there was none.
  std::string LastRequestHeaders(std::string_view path) const;

  // What the built-in routes send, for tests to compare against.
  static std::string StatusBody(int code);
  static constexpr std::string_view kStallBody = "stalled, then answered";
  static constexpr std::string_view kCookieBody = "cookie set";
  static constexpr size_t kTruncatedSent = 100;
  static constexpr size_t kTruncatedDeclared = 1000;
  static constexpr size_t kResetSentDefault = 300;
  // For /stall and /delay: a server that takes the request and never answers.
  static constexpr long kForeverMs = 24L * 60 * 60 * 1000;

 private:
  // An owned socket (the native handle, widened); closes itself. On Windows it
  // also owns the event that its readiness is signalled on.
  class Socket {
   public:
    static constexpr uintptr_t kInvalid = ~uintptr_t{0};
    Socket() = default;
    explicit Socket(uintptr_t handle);
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    uintptr_t Get() const { return m_handle; }
    uintptr_t Event() const { return m_event; }
    bool Valid() const { return m_handle != kInvalid; }
    void Close();
    // Closes with a reset instead of the orderly end of the stream.
    void Abort();

   private:
    uintptr_t m_handle = kInvalid;
    uintptr_t m_event = 0;
  };

  // Winsock's start-up and clean-up around the server's life; nothing natively.
  struct NetworkSession {
    NetworkSession();
    ~NetworkSession();
    NetworkSession(const NetworkSession&) = delete;
    NetworkSession& operator=(const NetworkSession&) = delete;
  };

  // Wakes every socket wait at once when the server stops: an event on
  // Windows, a pipe natively.
  class StopSignal {
   public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    void Raise();
    uintptr_t WaitHandle() const { return m_wait; }

   private:
    uintptr_t m_wait = 0;
    uintptr_t m_raise = 0;
  };

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  struct Resource {
    std::string body;
    std::string contentType;
  };

  void AcceptLoop();
  void Serve(Socket client);
  void Respond(Socket& client, std::string_view target, int depth);
  void Record(std::string_view target, const std::string& head);
  using Deadline = std::chrono::steady_clock::time_point;
  // Waits until the socket may be ready (true; the caller retries its call),
  // the deadline passes or the server stops (false).
  bool WaitReady(const Socket& s, bool forWrite, Deadline deadline) const;
  bool SendAll(const Socket& s, std::string_view data) const;
  bool ReadHead(const Socket& s, std::string& head) const;
  // Lets the client read everything sent, then closes.
  void FinishAndClose(Socket& s) const;
  // Waits ms; false when the server is stopping.
  bool Pause(long ms);
  void ReapFinished();

  NetworkSession m_session;
  StopSignal m_stop;
  Socket m_listener;
  Socket m_refused;
  uint16_t m_port = 0;
  uint16_t m_refusedPort = 0;
  std::atomic<bool> m_stopping{false};
  std::thread m_acceptThread;

  mutable std::mutex m_mutex;
  std::condition_variable m_stopSignal;
  std::list<Worker> m_workers;
  std::map<std::string, Resource, std::less<>> m_resources;
  std::map<std::string, size_t, std::less<>> m_counts;
  std::map<std::string, std::string, std::less<>> m_lastHeadByPath;
  std::string m_lastHead;
  std::vector<std::string> m_requestLines;
};

}  // namespace qel::test
