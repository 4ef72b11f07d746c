// The server's life: it ends once its hosts have let go of everything, and a
// server that no host takes up ends by itself. The suite must be the server's
// only client, so it runs before the others.

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "com/bstr.h"
#include "com/unique_handle.h"
#include "server/process/idle_exit.h"
#include "tests/com/com_test_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"

namespace qel::test {
namespace {

using namespace std::chrono_literals;

TEST(ServerLifetime, AnObjectLetGoDuringItsDownloadRaisesNothingAndTheServerEnds) {
  ASSERT_TRUE(PumpUntil([] { return ServerProcessCount() == 0; }))
      << "a server from an earlier run is still up";
  LoopbackServer web;
  // Takes the request and never answers.
  const std::string path = "/stall?ms=" + std::to_string(LoopbackServer::kForeverMs);
  const com::Bstr url(web.UrlText(path));
  const auto sink = EventSink::Create();
  {
    ComPtr<_UpdateCheck> object = CreateUpdateCheck();
    ASSERT_TRUE(object);
    EXPECT_EQ(ServerProcessCount(), 1u);
    // The sink stays connected; the object is the host's only hold.
    ASSERT_EQ(AdviseAndLetGo(object.Get(), sink.Get()), S_OK);
    ASSERT_EQ(object->StartCheck(url.Get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return web.RequestCount(path) == 1; }))
        << "the download is under way";
    object.Reset();
  }
  PumpFor(std::chrono::milliseconds(300));
  EXPECT_TRUE(sink->Events().empty());
  // The stalled download does not hold the process.
  EXPECT_TRUE(PumpUntil([] { return ServerProcessCount() == 0; }));
}

// Every test here starts with no server up, and a server left over fails
// the next one.
TEST(ServerLifetime, AServerStartedByHandAndNeverUsedEndsByItself) {
  ASSERT_TRUE(PumpUntil([] { return ServerProcessCount() == 0; }));
  const auto started = std::chrono::steady_clock::now();
  const auto server = StartChild(ServerPath(), L"-Embedding");
  ASSERT_TRUE(server);
  const auto limit = com::IdleExit::kIdleLimit;
  const bool ended =
      WaitForSingleObject(server->Get(), static_cast<DWORD>((limit + 5s).count())) == WAIT_OBJECT_0;
  const auto lived = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(ended) << "the server was still up after " << (limit + 5s).count() << " ms";
  DWORD code = 1;
  GetExitCodeProcess(server->Get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_GE(lived, limit) << "it must wait for hosts first";
}

TEST(ServerLifetime, AfterSixColdStartsAtOnceEveryServerEndsSoonAfterTheLastRelease) {
  // Wine may launch a server for each host that finds none running; the
  // hosts all connect to one of them, and the others get no object at all.
  constexpr LONG kHosts = 6;
  ASSERT_TRUE(PumpUntil([] { return ServerProcessCount() == 0; }));
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  const com::UniqueHandle ready(CreateSemaphoreW(&inherit, 0, kHosts, nullptr));
  const com::UniqueHandle go(CreateEventW(&inherit, TRUE, FALSE, nullptr));
  const com::UniqueHandle made(CreateSemaphoreW(&inherit, 0, kHosts, nullptr));
  const com::UniqueHandle letGo(CreateEventW(&inherit, TRUE, FALSE, nullptr));
  ASSERT_TRUE(ready && go && made && letGo);
  const std::wstring arguments = HandleArgument(ready.Get()) + L" " + HandleArgument(go.Get()) +
                                 L" " + HandleArgument(made.Get()) + L" " +
                                 HandleArgument(letGo.Get());
  std::vector<std::unique_ptr<ChildProcess>> hosts;
  for (LONG i = 0; i < kHosts; ++i) {
    hosts.push_back(StartChild(SiblingPath(L"qel_cold_start_host.exe"), arguments));
    ASSERT_TRUE(hosts.back()) << i;
  }
  for (LONG i = 0; i < kHosts; ++i)
    ASSERT_EQ(WaitForSingleObject(ready.Get(), 30000), WAIT_OBJECT_0);
  SetEvent(go.Get());
  for (LONG i = 0; i < kHosts; ++i)
    ASSERT_EQ(WaitForSingleObject(made.Get(), 30000), WAIT_OBJECT_0);
  std::printf("%zu server processes for %ld hosts that started the server at once\n",
              ServerProcessCount(), kHosts);
  SetEvent(letGo.Get());
  for (const auto& host : hosts) {
    ASSERT_EQ(WaitForSingleObject(host->Get(), 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(host->Get(), &code);
    EXPECT_EQ(code, 0u) << "a host failed (see cold_start_host.cpp)";
  }
  const auto released = std::chrono::steady_clock::now();
  const bool ended = PumpUntil([] { return ServerProcessCount() == 0; }, 15s);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - released).count();
  EXPECT_TRUE(ended) << ServerProcessCount()
                     << " server processes still up 15 s after the last release";
  if (ended) std::printf("the last server ended %.1f s after the last release\n", seconds);
}

}  // namespace
}  // namespace qel::test
