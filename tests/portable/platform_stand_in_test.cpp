// The Linux stand-ins for WinINet and the code pages: what only they can show
// (handle bookkeeping, time-outs on demand, the read hook, the error mapping)
// and where they go beyond what Wine can be asked to confirm.
#ifndef _WIN32

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <qel_platform.h>
#include <sys/socket.h>
#include <unistd.h>
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/error.h"
#include "platform/curl_error_map.h"
#include "platform/internet_url.h"
#include "tests/support/loopback_server.h"

namespace qel {
namespace {

using test::LoopbackServer;

constexpr DWORD kFlags = 0x84080300;  // what the download passes

// ---- Code pages ----------------------------------------------------------------

TEST(StandInCodePage, RefusesWhatItDoesNotImplement) {
  // Only CP_ACP, with no flag but WC_NO_BEST_FIT_CHARS, is there; anything
  // else fails instead of converting otherwise than Windows would.
  char16_t wide[8];
  char bytes[8];
  struct Case {
    const char* name;
    std::function<int()> call;
    DWORD error;
  };
  const std::vector<Case> cases = {
      {"UTF-8", [&] { return MultiByteToWideChar(65001, 0, "a", 1, wide, 8); },
       ERROR_INVALID_PARAMETER},
      {"length below -1", [&] { return MultiByteToWideChar(CP_ACP, 0, "a", -2, wide, 8); },
       ERROR_INVALID_PARAMETER},
      {"WC_COMPOSITECHECK",
       [&] { return WideCharToMultiByte(CP_ACP, 0x200, u"a", 1, bytes, 8, nullptr, nullptr); },
       ERROR_INVALID_FLAGS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

// ---- Errors and URLs, without touching the network --------------------------------

TEST(StandInErrorMap, CurlFailuresBecomeWinInetCodes) {
  const std::vector<std::pair<CURLcode, DWORD>> cases = {
      {CURLE_OK, ERROR_SUCCESS},
      {CURLE_COULDNT_RESOLVE_HOST, ERROR_INTERNET_NAME_NOT_RESOLVED},
      {CURLE_COULDNT_CONNECT, ERROR_INTERNET_CANNOT_CONNECT},
      {CURLE_OPERATION_TIMEDOUT, ERROR_INTERNET_TIMEOUT},
      {CURLE_URL_MALFORMAT, ERROR_INTERNET_INVALID_URL},
      {CURLE_UNSUPPORTED_PROTOCOL, ERROR_INTERNET_UNRECOGNIZED_SCHEME},
      {CURLE_PARTIAL_FILE, ERROR_INTERNET_CONNECTION_ABORTED},
      {CURLE_RECV_ERROR, ERROR_INTERNET_CONNECTION_RESET},
      {CURLE_GOT_NOTHING, ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {CURLE_TOO_MANY_REDIRECTS, ERROR_HTTP_REDIRECT_FAILED},
      {CURLE_BAD_CONTENT_ENCODING, ERROR_INTERNET_INTERNAL_ERROR},
      {CURLE_SSL_CONNECT_ERROR, ERROR_INTERNET_DECODING_FAILED},
      {CURLE_SSL_CACERT_BADFILE, ERROR_INTERNET_DECODING_FAILED},
  };
  for (const auto& [code, error] : cases) {
    EXPECT_EQ(platform::InternetErrorFromCurl(code), error) << curl_easy_strerror(code);
  }
}

TEST(StandInErrorMap, CertificateFailuresByVerifyResult) {
  // OpenSSL's verdict, as libcurl reports it with CURLE_PEER_FAILED_VERIFICATION.
  const std::vector<std::pair<long, DWORD>> cases = {
      {X509_V_ERR_CERT_HAS_EXPIRED, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
      {X509_V_ERR_CERT_NOT_YET_VALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
      // A trusted chain that failed libcurl's own name check.
      {X509_V_OK, ERROR_INTERNET_SEC_CERT_CN_INVALID},
      {X509_V_ERR_UNSPECIFIED, ERROR_INTERNET_SEC_CERT_CN_INVALID},
      {X509_V_ERR_HOSTNAME_MISMATCH, ERROR_INTERNET_SEC_CERT_CN_INVALID},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, ERROR_INTERNET_INVALID_CA},
      {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, ERROR_INTERNET_INVALID_CA},
      {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, ERROR_INTERNET_INVALID_CA},
      {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, ERROR_INTERNET_INVALID_CA},
      {X509_V_ERR_CERT_REVOKED, ERROR_INTERNET_DECODING_FAILED},
      {X509_V_ERR_CERT_SIGNATURE_FAILURE, ERROR_INTERNET_DECODING_FAILED},
      {X509_V_ERR_INVALID_PURPOSE, ERROR_INTERNET_DECODING_FAILED},
  };
  for (const auto& [verdict, error] : cases) {
    EXPECT_EQ(platform::InternetErrorFromCurl(CURLE_PEER_FAILED_VERIFICATION, verdict), error)
        << "verify result " << verdict;
  }
}

TEST(StandInUrl, AcceptsWhatWinInetAcceptsAndNothingElse) {
  struct Case {
    std::string url;
    DWORD error;
    std::string wire;  // when accepted
  };
  const std::vector<Case> cases = {
      {"http://127.0.0.1:8080/v.txt", ERROR_SUCCESS, "http://127.0.0.1:8080/v.txt"},
      {"HTTPS://127.0.0.1/v.txt", ERROR_SUCCESS, "https://127.0.0.1/v.txt"},
      {"ftp://127.0.0.1/v.txt", ERROR_SUCCESS, "ftp://127.0.0.1/v.txt"},
      {"http://127.0.0.1/a b?q=1 2", ERROR_SUCCESS, "http://127.0.0.1/a%20b?q=1%202"},
      // ANSI bytes go out as they are, as WinINet sends them.
      {"http://127.0.0.1/caf\xE9", ERROR_SUCCESS, "http://127.0.0.1/caf\xE9"},
      {"", ERROR_INTERNET_INVALID_URL, ""},
      {"http://", ERROR_INTERNET_INVALID_URL, ""},
      {"http:///v.txt", ERROR_INTERNET_INVALID_URL, ""},
      {"http:/127.0.0.1/v.txt", ERROR_INTERNET_INVALID_URL, ""},
      {"http://127.0.0.1:99999/", ERROR_INTERNET_INVALID_URL, ""},
      {"http://127.0.0.1\r\n/", ERROR_INTERNET_INVALID_URL, ""},
      {"127.0.0.1/v.txt", ERROR_INTERNET_UNRECOGNIZED_SCHEME, ""},
      {"gopher://127.0.0.1/", ERROR_INTERNET_UNRECOGNIZED_SCHEME, ""},
      {"file:///etc/passwd", ERROR_INTERNET_UNRECOGNIZED_SCHEME, ""},
      {"httpx://127.0.0.1/", ERROR_INTERNET_UNRECOGNIZED_SCHEME, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::string wire;
    EXPECT_EQ(platform::CheckInternetUrl(c.url, wire), c.error);
    if (c.error == ERROR_SUCCESS) {
      EXPECT_EQ(wire, c.wire);
    }
  }
}

// ---- Handles ---------------------------------------------------------------------------

TEST(StandInHandles, BadHandlesAreRecognisedNotDereferenced) {
  const size_t before = platform::OpenInternetHandleCount();
  HINTERNET root = InternetOpenA("handles test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(platform::LastInternetAgent(), "handles test");
  EXPECT_EQ(platform::OpenInternetHandleCount(), before + 1);

  char buffer[4];
  DWORD read = 7;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(InternetReadFile(root, buffer, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  // Extra headers are not sent by the stand-in, so they are refused.
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(
      InternetOpenUrlA(root, "http://127.0.0.1/", "X-Extra: 1", static_cast<DWORD>(-1), kFlags, 0),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  ASSERT_TRUE(InternetCloseHandle(root));
  EXPECT_EQ(platform::OpenInternetHandleCount(), before);

  const HINTERNET madeUp = reinterpret_cast<HINTERNET>(uintptr_t{0xBAD0});
  for (const HINTERNET bad : {root, madeUp, HINTERNET{nullptr}}) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InternetCloseHandle(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InternetReadFile(bad, buffer, sizeof buffer, &read));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(InternetOpenUrlA(bad, "http://127.0.0.1/", nullptr, 0, kFlags, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

// ---- Requests against loopback servers ---------------------------------------------

// A raw peer on 127.0.0.1 for replies the loopback server has no route for:
// it takes one request, sends the reply, then holds the connection open
// for a while, or closes it at once.
class ScriptedPeer {
 public:
  ScriptedPeer(std::string reply, bool holdOpen) : m_reply(std::move(reply)), m_holdOpen(holdOpen) {
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_listener, 4) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
  }
  ~ScriptedPeer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener >= 0) close(m_listener);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/peer"; }

 private:
  // Waits in short slices so that the destructor is never kept waiting.
  bool Ready(int fd) const {
    while (!m_stop) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, 20) > 0) return true;
    }
    return false;
  }

  void Run() {
    if (!Ready(m_listener)) return;
    const int client = accept(m_listener, nullptr, nullptr);
    if (client < 0) return;
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && Ready(client)) {
      const ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      head.append(buffer, static_cast<size_t>(n));
    }
    if (!m_reply.empty()) send(client, m_reply.data(), m_reply.size(), MSG_NOSIGNAL);
    // Held for ten seconds at most, so that a client that fails to time out
    // fails the test instead of hanging it.
    for (int i = 0; m_holdOpen && !m_stop && i < 500; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    close(client);
  }

  std::string m_reply;
  bool m_holdOpen;
  int m_listener = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Short time-outs for one test, WinINet's defaults again afterwards.
class ScopedTimeouts {
 public:
  ScopedTimeouts(long connectMs, long receiveMs) {
    platform::SetInternetTimeouts(connectMs, receiveMs);
  }
  ~ScopedTimeouts() { platform::SetInternetTimeouts(60 * 1000, 30 * 1000); }
  ScopedTimeouts(const ScopedTimeouts&) = delete;
  ScopedTimeouts& operator=(const ScopedTimeouts&) = delete;
};

// A root and a URL handle, closed (if still open) when it goes.
class Request {
 public:
  explicit Request(const std::string& url, DWORD flags = kFlags) {
    m_root = InternetOpenA("stand-in test", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (m_root == nullptr) return;
    m_file = InternetOpenUrlA(m_root, url.c_str(), nullptr, 0, flags, 0);
    m_openError = m_file == nullptr ? GetLastError() : ERROR_SUCCESS;
  }
  ~Request() {
    if (m_file != nullptr) InternetCloseHandle(m_file);
    if (m_root != nullptr) InternetCloseHandle(m_root);
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  HINTERNET Root() const { return m_root; }
  HINTERNET File() const { return m_file; }
  DWORD OpenError() const { return m_openError; }

  // Reads to the end in pieces of at most `piece` bytes; the error of the
  // open or the read that failed, if one did.
  DWORD ReadAll(std::string& body, size_t piece = 256) {
    if (m_file == nullptr) return m_openError;
    std::vector<char> buffer(piece);
    for (;;) {
      DWORD read = 0;
      if (!InternetReadFile(m_file, buffer.data(), static_cast<DWORD>(piece), &read)) {
        return GetLastError();
      }
      if (read > piece) return ERROR_INSUFFICIENT_BUFFER;  // never expected
      if (read == 0) return ERROR_SUCCESS;
      body.append(buffer.data(), read);
    }
  }

 private:
  HINTERNET m_root = nullptr;
  HINTERNET m_file = nullptr;
  DWORD m_openError = ERROR_SUCCESS;
};

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

class StandInRequestTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_server = std::make_unique<LoopbackServer>(); }
  static void TearDownTestSuite() { s_server.reset(); }
  void SetUp() override { m_handlesBefore = platform::OpenInternetHandleCount(); }
  void TearDown() override {
    platform::SetReadHook({});
    EXPECT_EQ(platform::OpenInternetHandleCount(), m_handlesBefore) << "a handle stayed open";
  }
  static LoopbackServer& Server() { return *s_server; }

 private:
  inline static std::unique_ptr<LoopbackServer> s_server;
  size_t m_handlesBefore = 0;
};

TEST_F(StandInRequestTest, LargeBodiesArriveWholeWhateverTheReadSize) {
  // Far more than the request holds at once, so the transfer pauses and
  // resumes many times.
  const std::string body = Pattern(3 * 1024 * 1024 + 17, 1);
  Server().Put("/large.bin", body, "application/octet-stream");
  for (const size_t piece : {size_t{256}, size_t{1024 * 1024}}) {
    SCOPED_TRACE(piece);
    Request request(Server().Url("/large.bin"));
    ASSERT_NE(request.File(), nullptr) << request.OpenError();
    std::string got;
    EXPECT_EQ(request.ReadAll(got, piece), ERROR_SUCCESS);
    EXPECT_TRUE(got == body) << "got " << got.size() << " bytes";
  }
  Server().Put("/large.bin", {});
}

TEST_F(StandInRequestTest, AnEndlessBodyIsHeldInBoundedMemory) {
  {
    Request request(Server().Url("/endless"));
    ASSERT_NE(request.File(), nullptr) << request.OpenError();
    char buffer[256];
    size_t total = 0;
    DWORD read = 0;
    while (total < 8 * 1024 * 1024 &&
           InternetReadFile(request.File(), buffer, sizeof buffer, &read) && read > 0) {
      total += read;
    }
    EXPECT_GE(total, 8u * 1024 * 1024);
  }
  // A pause threshold of 64 KiB plus one chunk of curl's; far less than the
  // megabytes one call into curl can take in from a fast peer.
  EXPECT_GT(platform::PeakInternetBufferBytes(), 0u);
  EXPECT_LE(platform::PeakInternetBufferBytes(), 128u * 1024);
}

TEST_F(StandInRequestTest, SendsAgentNoCachePragmaAndEscapedSpaces) {
  // The server matches the target as sent, so this serves only the escaped form.
  Server().Put("/with%20space.txt", "spaced");
  Request request(Server().Url("/with space.txt"));
  ASSERT_NE(request.File(), nullptr) << request.OpenError();
  std::string got;
  EXPECT_EQ(request.ReadAll(got), ERROR_SUCCESS);
  EXPECT_EQ(got, "spaced");
  const std::string head = Server().LastRequestHeaders();
  EXPECT_EQ(head.rfind("GET /with%20space.txt HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: stand-in test\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nPragma: no-cache"), std::string::npos) << head;
}

TEST_F(StandInRequestTest, LoopbackNeverGoesThroughTheEnvironmentsProxy) {
  // A proxy that refuses everything: a request sent to it would fail.
  const std::string proxy = "http://127.0.0.1:" + std::to_string(Server().RefusedPort());
  const char* saved = std::getenv("http_proxy");
  const std::optional<std::string> restore =
      saved ? std::optional<std::string>(saved) : std::nullopt;
  setenv("http_proxy", proxy.c_str(), 1);
  Server().Put("/direct.txt", "direct");
  std::string got;
  const DWORD error = Request(Server().Url("/direct.txt")).ReadAll(got);
  restore ? setenv("http_proxy", restore->c_str(), 1) : unsetenv("http_proxy");
  EXPECT_EQ(error, ERROR_SUCCESS);
  EXPECT_EQ(got, "direct");
}

TEST_F(StandInRequestTest, RepliesThatAreNotResponsesFailTheOpen) {
  struct Case {
    const char* name;
    std::string reply;
    DWORD error;
  };
  const std::vector<Case> cases = {
      {"closed without a reply", "", ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"not HTTP", "hello there\r\n", ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"redirect to a scheme WinINet does not speak",
       "HTTP/1.1 302 Found\r\nLocation: gopher://127.0.0.1:1/x\r\nContent-Length: 0\r\n\r\n",
       ERROR_HTTP_REDIRECT_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.reply, false);
    Request request(peer.Url());
    EXPECT_EQ(request.File(), nullptr);
    EXPECT_EQ(request.OpenError(), c.error);
  }
}

TEST_F(StandInRequestTest, StallsTimeOutWhileWaitingForHeadersOrBody) {
  ScopedTimeouts timeouts(5000, 200);
  {
    Request request(Server().Url("/stall?ms=5000"));
    EXPECT_EQ(request.File(), nullptr);
    EXPECT_EQ(request.OpenError(), ERROR_INTERNET_TIMEOUT);
  }
  ScriptedPeer peer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", true);
  Request request(peer.Url());
  ASSERT_NE(request.File(), nullptr) << request.OpenError();
  std::string got;
  EXPECT_EQ(request.ReadAll(got), ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(got, "0123456789");
}

TEST_F(StandInRequestTest, ErrorFromTheReadHookPassesThroughAndTheHandleStaysUsable) {
  const std::string body = Pattern(1000, 2);
  Server().Put("/hooked.bin", body);
  Request request(Server().Url("/hooked.bin"));
  ASSERT_NE(request.File(), nullptr) << request.OpenError();
  char buffer[256];
  DWORD read = 0;
  ASSERT_TRUE(InternetReadFile(request.File(), buffer, sizeof buffer, &read));
  std::string got(buffer, read);

  platform::SetReadHook([] { Raise(-2147220991, u"hook source", u"hook description"); });
  try {
    InternetReadFile(request.File(), buffer, sizeof buffer, &read);
    ADD_FAILURE() << "the hook's error did not come through";
  } catch (const Error& error) {
    EXPECT_EQ(error.Number(), -2147220991);
    EXPECT_EQ(error.Source(), u"hook source");
    EXPECT_EQ(error.Description(), u"hook description");
  }
  platform::SetReadHook({});

  // Nothing was lost to the failed call.
  EXPECT_EQ(request.ReadAll(got), ERROR_SUCCESS);
  EXPECT_TRUE(got == body);
  Server().Put("/hooked.bin", {});
}

TEST_F(StandInRequestTest, ClosingTheRootClosesItsUrlHandles) {
  Server().Put("/child.txt", "child");
  HINTERNET root = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  const std::string url = Server().Url("/child.txt");
  HINTERNET first = InternetOpenUrlA(root, url.c_str(), nullptr, 0, kFlags, 0);
  HINTERNET second = InternetOpenUrlA(root, url.c_str(), nullptr, 0, kFlags, 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(InternetOpenUrlA(first, url.c_str(), nullptr, 0, kFlags, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);

  EXPECT_TRUE(InternetCloseHandle(first));
  EXPECT_TRUE(InternetCloseHandle(root));
  char buffer[8];
  DWORD read = 0;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(InternetReadFile(second, buffer, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(InternetCloseHandle(second));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(StandInRequestTest, ClosingTheRootFromAnotherThreadEndsAWaitingOpen) {
  HINTERNET root = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  const size_t before = Server().RequestCount("/stall");
  const std::string url = Server().Url("/stall?ms=20000");
  HINTERNET file = reinterpret_cast<HINTERNET>(uintptr_t{1});
  DWORD error = ERROR_SUCCESS;
  std::thread opener([&] {
    file = InternetOpenUrlA(root, url.c_str(), nullptr, 0, kFlags, 0);
    error = GetLastError();
  });
  // Once the server has the request, the opener is waiting for its answer.
  for (int i = 0; i < 1000 && Server().RequestCount("/stall") == before; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(InternetCloseHandle(root));
  opener.join();
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
}

TEST_F(StandInRequestTest, ThreadsDownloadAtTheSameTime) {
  constexpr int kThreads = 4;
  std::vector<std::string> bodies;
  for (int i = 0; i < kThreads; ++i) {
    bodies.push_back(Pattern(200 * 1024 + static_cast<size_t>(i), 10 + static_cast<unsigned>(i)));
    Server().Put("/parallel" + std::to_string(i), bodies.back());
  }
  std::vector<std::string> got(kThreads);
  std::vector<DWORD> errors(kThreads, ERROR_INTERNET_INTERNAL_ERROR);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      Request request(Server().Url("/parallel" + std::to_string(i)));
      errors[i] = request.File() == nullptr ? request.OpenError() : request.ReadAll(got[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(errors[i], ERROR_SUCCESS);
    EXPECT_TRUE(got[i] == bodies[i]);
    Server().Put("/parallel" + std::to_string(i), {});
  }
}

}  // namespace
}  // namespace qel

#endif  // _WIN32
