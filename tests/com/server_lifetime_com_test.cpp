// The server's life: it ends once its hosts have let go of everything. The
// suite must be the server's only client, so it runs before the others.

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "server/bstr.h"
#include "tests/com/com_test_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"

namespace qel::test {
namespace {

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

}  // namespace
}  // namespace qel::test

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
