// Responsiveness out of process under Wine, with the server warm:
// - an IsActive call on an object whose download is stalled, against the
//   same call on an idle object of the same server, interleaved in one run;
// - letting go of an object whose download is stalled: how long the host's
//   release takes to return, and how long until the server process, whose
//   last object that was, has ended.

#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/wine/in_apartment.h"
#include "com/bstr.h"
#include "tests/com/com_test_support.h"
#include "tests/support/loopback_server.h"

namespace {

using namespace qel::test;
using qel::bench::Clock;

constexpr int kCalls = 200;
constexpr int kReleases = 5;
constexpr double kTargetRatio = 1.5;
constexpr double kReleaseTargetMs = 100.0;
constexpr double kServerEndTargetMs = 1000.0;

const std::string kSilentPath = "/stall?ms=" + std::to_string(LoopbackServer::kForeverMs);

bool IsActiveCall(_UpdateCheck* object, double& elapsedMs) {
  VARIANT_BOOL active = VARIANT_FALSE;
  const auto before = Clock::now();
  const HRESULT hr = object->IsActive(&active);
  elapsedMs = qel::bench::Milliseconds(Clock::now() - before);
  return SUCCEEDED(hr);
}

// Starts a check of the silent URL and waits until its request has arrived.
bool StallACheck(LoopbackServer& web, _UpdateCheck* object, const std::string& path) {
  const size_t before = web.RequestCount(path);
  const qel::com::Bstr url(web.UrlText(path));
  if (FAILED(object->StartCheck(url.Get()))) return false;
  return PumpUntil([&] { return web.RequestCount(path) > before; });
}

bool MeasureCalls(LoopbackServer& web) {
  const auto idle = CreateUpdateCheck();
  const auto stalled = CreateUpdateCheck();
  if (!idle || !stalled) {
    std::fprintf(stderr, "UpdateCheck cannot be created: is the server registered?\n");
    return false;
  }
  if (!StallACheck(web, stalled.Get(), kSilentPath + "&then=/calls")) return false;
  std::vector<double> idleMs, stalledMs;
  for (int i = 0; i < kCalls; ++i) {
    double ms = 0;
    if (!IsActiveCall(idle.Get(), ms)) return false;
    idleMs.push_back(ms);
    if (!IsActiveCall(stalled.Get(), ms)) return false;
    stalledMs.push_back(ms);
  }
  const auto idleTimes = qel::bench::Summarise(idleMs);
  const auto stalledTimes = qel::bench::Summarise(stalledMs);
  qel::bench::PrintTimings("IsActive, download stalled", stalledTimes);
  qel::bench::PrintTimings("IsActive, idle object (baseline)", idleTimes);
  qel::bench::PrintRatio(stalledTimes.median, idleTimes.median, kTargetRatio);
  return true;
}

bool MeasureReleases(LoopbackServer& web) {
  std::vector<double> releaseMs, endMs;
  for (int i = 0; i < kReleases; ++i) {
    if (!PumpUntil([] { return ServerProcessCount() == 0; })) {
      std::fprintf(stderr, "a server is still running before release %d\n", i);
      return false;
    }
    auto object = CreateUpdateCheck();
    if (!object) return false;
    if (!StallACheck(web, object.Get(), kSilentPath + "&then=/release" + std::to_string(i))) {
      return false;
    }
    const auto before = Clock::now();
    object.Reset();
    const auto released = Clock::now();
    if (!PumpUntil([] { return ServerProcessCount() == 0; })) {
      std::fprintf(stderr, "the server did not end after release %d\n", i);
      return false;
    }
    releaseMs.push_back(qel::bench::Milliseconds(released - before));
    endMs.push_back(qel::bench::Milliseconds(Clock::now() - before));
  }
  const auto release = qel::bench::Summarise(releaseMs);
  const auto end = qel::bench::Summarise(endMs);
  qel::bench::PrintTimings("release of the last object, download stalled", release);
  qel::bench::PrintTimings("from that release to the server process ended", end);
  qel::bench::PrintBelow("release returns", release.median, kReleaseTargetMs, "ms");
  qel::bench::PrintBelow("server process ended", end.median, kServerEndTargetMs, "ms");
  return true;
}

int Run() {
  qel::bench::PrintHeader(
      "responsiveness under Wine, out of process: calls and release while a download stalls");
  LoopbackServer web;
  if (!MeasureCalls(web)) return 1;
  std::printf("\n");
  if (!MeasureReleases(web)) return 1;
  return 0;
}

}  // namespace

int main() { return qel::bench::RunInApartment(Run); }
