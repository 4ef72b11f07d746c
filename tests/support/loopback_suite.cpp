#include "tests/support/loopback_suite.h"

#ifndef _WIN32
#include <qel_platform.h>
#endif

namespace qel::test {

void LoopbackSuite::SetUp() {
#ifndef _WIN32
  m_timersBefore = platform::LiveTimerCount();
#endif
}

void LoopbackSuite::TearDown() {
#ifndef _WIN32
  EXPECT_EQ(platform::OpenInternetHandleCount(), 0u);
  EXPECT_EQ(platform::LiveTimerCount(), m_timersBefore);
#endif
}

}  // namespace qel::test
