// Check latency out of process under Wine, with the server warm: from
// StartCheck returning to UpdateCheckComplete arriving in this host, for a
// 1 KiB version file on the loopback server. The baseline is the 10 ms the
// check waits before it downloads, plus a raw WinINet fetch of the same URL
// from this process, in the same run.

#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/version_file_1k.h"
#include "bench/wine/in_apartment.h"
#include "bench/wine/wininet_fetch.h"
#include "com/bstr.h"
#include "tests/com/com_test_support.h"
#include "tests/support/loopback_server.h"

namespace {

using namespace qel::test;
using qel::bench::Clock;

constexpr int kWarmUp = 5;
constexpr int kChecks = 60;
constexpr double kTriggerDelayMs = 10.0;
constexpr double kTargetRatio = 1.15;

int Run() {
  qel::bench::PrintHeader(
      "check latency under Wine, out of process, warm server: StartCheck returning to "
      "UpdateCheckComplete in the host");
  LoopbackServer web;
  const std::string url = web.Url("/version.txt");
  web.Put("/version.txt", qel::bench::VersionFile1K(url));
  const qel::com::Bstr urlText(web.UrlText("/version.txt"));

  std::optional<Clock::time_point> arrived;
  int32_t number = -1;
  const auto sink = EventSink::Create(EventSink::Options::Calling([&](int32_t n, auto&) {
    arrived = Clock::now();
    number = n;
  }));
  const auto object = CreateUpdateCheck();
  if (!object) {
    std::fprintf(stderr, "UpdateCheck cannot be created: is the server registered?\n");
    return 1;
  }
  const Advised advised(object.Get(), sink.Get());
  if (FAILED(advised.Result())) return 1;

  std::vector<double> checks, fetches;
  for (int i = -kWarmUp; i < kChecks; ++i) {
    arrived.reset();
    if (FAILED(object->StartCheck(urlText.Get()))) return 1;
    const auto started = Clock::now();
    if (!PumpUntil([&] { return arrived.has_value(); }) || number != 0) {
      std::fprintf(stderr, "check %d did not complete cleanly (error %d)\n", i, number);
      return 1;
    }
    const double checkMs = qel::bench::Milliseconds(*arrived - started);
    const auto before = Clock::now();
    const long bytes = qel::bench::WinInetFetch(url);
    const double fetchMs = qel::bench::Milliseconds(Clock::now() - before);
    if (bytes != static_cast<long>(qel::bench::kVersionFileBytes)) {
      std::fprintf(stderr, "the raw fetch got %ld bytes\n", bytes);
      return 1;
    }
    if (i >= 0) {
      checks.push_back(checkMs);
      fetches.push_back(fetchMs);
    }
  }
  qel::bench::PrintLatency(checks, fetches, "raw WinINet fetch in the host", kTriggerDelayMs,
                           kTargetRatio);
  return 0;
}

}  // namespace

int main() { return qel::bench::RunInApartment(Run); }
