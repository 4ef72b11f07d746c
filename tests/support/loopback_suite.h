// The base of the in-process suites whose cases talk to the loopback server:
// one server for the whole suite, and natively no internet handle and no
// extra timer left behind by a case.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "tests/support/loopback_server.h"

namespace qel::test {

class LoopbackSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_web = new LoopbackServer(); }
  static void TearDownTestSuite() {
    delete s_web;
    s_web = nullptr;
  }
  void SetUp() override;
  void TearDown() override;

  static LoopbackServer& Web() { return *s_web; }

 private:
  static inline LoopbackServer* s_web = nullptr;
  size_t m_timersBefore = 0;
};

}  // namespace qel::test
