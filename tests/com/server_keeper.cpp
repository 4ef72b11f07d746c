// The COM suite keeps one object for the whole run, so that the server is
// started only once; the suites that watch the server's own life do not.

#include <objbase.h>

#include <gtest/gtest.h>

#include "tests/com/com_test_support.h"

namespace {

using namespace qel::test;

class ServerKeeper : public ::testing::Environment {
 public:
  void SetUp() override {
    // This host starts the server, which inherits its environment.
    ASSERT_TRUE(PumpUntil([] { return ServerProcessCount() == 0; }))
        << "a server from an earlier run is still up";
    HRESULT hr = E_FAIL;
    m_keeper = CreateUpdateCheck(&hr);
    ASSERT_TRUE(m_keeper) << "UpdateCheck cannot be created (0x" << std::hex << hr
                          << "): is the server registered?";
  }
  void TearDown() override {
    m_keeper.Reset();
    // Every test lets go of what it made, so the server ends. One that does
    // not is ended here, lest it hold the output of the test run open.
    const bool ended = PumpUntil([] { return ServerProcessCount() == 0; });
    EXPECT_TRUE(ended) << "the server outlived the suite's last reference";
    if (!ended) TerminateServerProcesses();
  }

 private:
  ComPtr<_UpdateCheck> m_keeper;
};

// Registered as the program starts, before main runs the tests.
::testing::Environment* const kServerKeeper = ::testing::AddGlobalTestEnvironment(new ServerKeeper);

}  // namespace
