// The pool of object threads when the system fails it, with the failures
// put in through its seams: a thread that cannot start is not kept, and an
// object whose creator stops waiting does not live on.

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "com/unique_handle.h"
#include "tests/com/com_test_support.h"
#include "tests/com/in_process_server.h"

namespace qel::test {
namespace {

using namespace std::chrono_literals;

TEST(ObjectThreads, ThreadsThatCouldNotStartAreNotKeptAgainstTheCap) {
  constexpr int kFailures = static_cast<int>(com::ObjectThreads::kMaxThreads) + 8;
  std::atomic<int> failures{kFailures};
  com::ObjectThreads::Seams seams;
  seams.threadStart = [&] { return --failures >= 0 ? E_ACCESSDENIED : S_OK; };
  InProcessServer server(seams);
  for (int i = 0; i < kFailures; ++i) {
    ComPtr<_UpdateCheck> object;
    ASSERT_EQ(server.Create(object), E_ACCESSDENIED) << i;
    EXPECT_FALSE(object);
  }
  EXPECT_FALSE(server.lifetime.Held());
  ComPtr<_UpdateCheck> object;
  ASSERT_EQ(server.Create(object), S_OK);
  VARIANT_BOOL active = VARIANT_TRUE;
  EXPECT_EQ(object->IsActive(&active), S_OK);
}

TEST(ObjectThreads, AnObjectWhoseCreatorStoppedWaitingGoes) {
  for (const bool madeFirst : {false, true}) {
    SCOPED_TRACE(madeFirst ? "the wait fails once the object is made"
                           : "the wait fails before the object is made");
    // Before: the thread makes the object only after the creation has failed.
    const com::UniqueHandle failed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    com::ObjectThreads::Seams seams;
    seams.threadStart = [&] {
      if (!madeFirst) WaitForSingleObject(failed.Get(), 10000);
      return S_OK;
    };
    seams.wait = [&](HANDLE ready) {
      if (madeFirst) WaitForSingleObject(ready, 10000);
      return RPC_E_CALL_CANCELED;
    };
    InProcessServer server(seams);
    ComPtr<_UpdateCheck> object;
    EXPECT_EQ(server.Create(object), RPC_E_CALL_CANCELED);
    SetEvent(failed.Get());
    EXPECT_FALSE(object);
    EXPECT_TRUE(PumpUntil([&] { return !server.lifetime.Held(); }, 5s))
        << "the object nobody waited for lives on";
  }
}

}  // namespace
}  // namespace qel::test
