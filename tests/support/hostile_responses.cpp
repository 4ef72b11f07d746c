#include "tests/support/hostile_responses.h"

#include "tests/support/loopback_server.h"

namespace qel::test {
namespace {

constexpr int32_t kTimedOut = 12002;        // ERROR_INTERNET_TIMEOUT
constexpr int32_t kTooLarge = 223;          // ERROR_FILE_TOO_LARGE: the 16 MiB cap
constexpr int32_t kBadResponse = 12152;     // ERROR_HTTP_INVALID_SERVER_RESPONSE
constexpr int32_t kRedirectFailed = 12156;  // ERROR_HTTP_REDIRECT_FAILED

}  // namespace

std::vector<HostileResponse> HostileResponses() {
  return {
      {"accepts and never answers",
       "/stall?ms=" + std::to_string(LoopbackServer::kForeverMs),
       {kTimedOut}},
      {"stalls after the headers", "/hang-after-headers", {kTimedOut}},
      {"trickles", "/trickle?ms=100", {kTimedOut}, true},
      {"endless body with a declared length", "/endless-declared", {kTimedOut, kTooLarge}},
      {"endless chunked body", "/endless-chunked", {kTimedOut, kTooLarge}},
      {"endless header lines", "/endless-headers", {kTimedOut, kBadResponse}, true},
      {"one endless header line", "/long-header", {kTimedOut, kBadResponse}, true},
      {"100 Continue for ever", "/continue-flood", {kTimedOut, kBadResponse}, true},
      {"redirect loop", "/redirect-loop", {kTimedOut, kRedirectFailed}, true},
  };
}

}  // namespace qel::test
