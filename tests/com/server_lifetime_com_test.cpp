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

TEST(ServerLifetime, AnObjectReleasedWhileArmedRaisesNothingAndTheServerEnds) {
  ASSERT_TRUE(PumpUntil([] { return ServerProcessCount() == 0; }))
      << "a server from an earlier run is still up";
  LoopbackServer web;
  web.Put("/armed.txt", VersionFile(web.Url("/armed.txt")));
  const com::Bstr url(web.UrlText("/armed.txt"));
  ComPtr<_UpdateCheck> keeper = CreateUpdateCheck();
  ASSERT_TRUE(keeper);
  EXPECT_EQ(ServerProcessCount(), 1u);

  // The last reference goes right after StartCheck, with a sink still
  // connected. If the release reaches the server only after the check's
  // 10 ms trigger has fired (the file is then requested), the attempt shows
  // nothing and is made again.
  bool shown = false;
  for (int attempt = 0; attempt < 5 && !shown; ++attempt) {
    const size_t requests = web.RequestCount("/armed.txt");
    const auto sink = EventSink::Create();
    {
      ComPtr<_UpdateCheck> object = CreateUpdateCheck();
      ASSERT_TRUE(object);
      ComPtr<IConnectionPointContainer> container;
      ComPtr<IConnectionPoint> point;
      DWORD cookie = 0;
      ASSERT_EQ(object.As(container), S_OK);
      ASSERT_EQ(container->FindConnectionPoint(DIID___UpdateCheck, point.Put()), S_OK);
      ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);
      point.Reset();
      container.Reset();
      ASSERT_EQ(object->StartCheck(url.Get()), S_OK);
      object.Reset();
    }
    PumpFor(std::chrono::milliseconds(300));
    if (web.RequestCount("/armed.txt") == requests) {
      EXPECT_TRUE(sink->Events().empty());
      shown = true;
    }
  }
  EXPECT_TRUE(shown) << "every check that was let go still ran";

  keeper.Reset();
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
