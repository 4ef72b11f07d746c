// The server's end, decided on its main thread: a creation that reaches the
// server before the decision calls the end off and gets a working object;
// one after it is refused before any object exists. The loop runs here, on
// the test's thread, after the lifetime count has been driven to zero and a
// creation made, so no real host has to be raced.

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <utility>

#include "server/process/server_loop.h"
#include "tests/com/in_process_server.h"

namespace qel::test {
namespace {

using namespace std::chrono_literals;
using com::ComPtr;

// What the loop runs a little after it has started, from a thread timer.
std::function<void()>& Probe() {
  static std::function<void()> probe;
  return probe;
}

void CALLBACK RunProbe(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (Probe()) std::exchange(Probe(), nullptr)();
}

TEST(ServerLoop, ACreationBeforeTheEndCallsItOffOneAfterItIsRefused) {
  struct Case {
    const char* name;
    bool lastHoldGoneFirst;  // the count went from 1 to 0 before the creation
    bool create;             // a creation reaches the server before its loop runs
    std::chrono::milliseconds idleLimit;
  };
  const Case cases[] = {
      {"a creation queued after the last hold went", true, true, com::IdleExit::kIdleLimit},
      {"a creation before idle ticks", false, true, 20ms},
      {"nothing at an idle tick", false, false, 20ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InProcessServer server;
    if (c.lastHoldGoneFirst) {
      ASSERT_EQ(server.factory->LockServer(TRUE), S_OK);
      ASSERT_EQ(server.factory->LockServer(FALSE), S_OK);
    }
    ComPtr<_UpdateCheck> object;
    if (c.create) {
      ASSERT_EQ(server.Create(object), S_OK);
    }

    // Runs only if the loop has not ended at the message or the ticks before
    // it; letting go of the object ends the loop then.
    bool probed = false;
    HRESULT used = E_FAIL;
    Probe() = [&] {
      probed = true;
      VARIANT_BOOL active = VARIANT_TRUE;
      used = object->IsActive(&active);
      object.Reset();
    };
    if (c.create) {
      ASSERT_NE(SetTimer(nullptr, 0, 200, RunProbe), 0u);
    }
    com::RunServerLoop(server.lifetime, c.idleLimit);
    Probe() = nullptr;
    if (c.create) {
      EXPECT_TRUE(probed) << "the server ended under its new object";
      EXPECT_EQ(used, S_OK);
    }
    EXPECT_FALSE(server.lifetime.Held());

    ComPtr<_UpdateCheck> late;
    EXPECT_EQ(server.Create(late), CO_E_SERVER_STOPPING);
    EXPECT_FALSE(late);
    EXPECT_EQ(server.factory->LockServer(TRUE), CO_E_SERVER_STOPPING);
    EXPECT_FALSE(server.lifetime.Held());
  }
}

}  // namespace
}  // namespace qel::test
