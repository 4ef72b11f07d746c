// Responses that would hold a check for good, for the fault suites of both
// builds. With its limits shortened, a check of each ends at its limit with
// ERROR_INTERNET_TIMEOUT, or sooner with the error the platform gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qel::test {

struct HostileResponse {
  const char* name;
  std::string path;              // on the loopback server
  std::vector<int32_t> numbers;  // what the check may end with
  // Wine's WinINet goes on reading such a response after the check has
  // given it up, since nothing there ends a call under way: until the process
  // ends, or for a trickle until the read's 256 bytes have come.
  bool wineReadsOn = false;
};

std::vector<HostileResponse> HostileResponses();

}  // namespace qel::test
