// Faults a check can meet, for the fault suites of both builds: what the
// loopback server serves and the completion each must end in. What differs
// between the builds is data here.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/loopback_server.h"

namespace qel::test {

struct FaultCase {
  const char* name;
  std::u16string url;
  int32_t number;
  std::u16string description;
  // Slow under Wine: 16 MiB in 256-byte reads.
  std::chrono::milliseconds timeout = std::chrono::seconds(10);
};

// Serves what the cases need on `web`, and the cases.
std::vector<FaultCase> FaultCases(LoopbackServer& web);

// A valid version file, served at its own URL, that a case's object checks
// once the fault is over.
std::u16string GoodFile(LoopbackServer& web);

}  // namespace qel::test
