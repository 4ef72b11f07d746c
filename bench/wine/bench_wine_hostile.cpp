// What each hostile response leaves in the server under Wine: one object,
// one check, then the server's resident memory and processor time 10 s after
// the check's event. The server is the suites' test build, registered by
// scripts/bench.sh for this run, whose checks' limits are 1.5 s. A server
// that is left spinning or growing shows it here; one that has settled shows
// neither.

#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <optional>
#include <string>

#include "bench/bench_report.h"
#include "bench/wine/in_apartment.h"
#include "bench/wine/linux_process.h"
#include "com/bstr.h"
#include "tests/com/com_test_support.h"
#include "tests/support/hostile_responses.h"
#include "tests/support/loopback_server.h"

namespace {

using namespace qel::test;
using namespace std::chrono_literals;

constexpr auto kAfter = 10s;

int Run() {
  qel::bench::PrintHeader(
      "hostile responses under Wine: the server 10 s after each check's event (limits 1.5 s)");
  LoopbackServer web;
  // The test build's process: the one whose command line names its path,
  // not any process of that name on the machine.
  const std::wstring server = TestServerPath();
  std::printf("%-38s %8s %14s %14s %12s\n", "response", "error", "RSS at event", "RSS +10 s",
              "CPU in 10 s");
  for (const auto& hostile : HostileResponses()) {
    if (!PumpUntil([] { return ServerProcessCount() == 0; }, 30s)) {
      std::fprintf(stderr, "a server is still running before \"%s\"\n", hostile.name);
      return 1;
    }
    std::optional<int32_t> number;
    const auto sink = EventSink::Create(
        EventSink::Options::Calling([&](int32_t n, const std::u16string&) { number = n; }));
    auto object = CreateUpdateCheck();
    if (!object) return 1;
    const Advised advised(object.Get(), sink.Get());
    const qel::com::Bstr url(web.UrlText(hostile.path));
    if (FAILED(object->StartCheck(url.Get())) ||
        !PumpUntil([&] { return number.has_value(); }, 30s)) {
      std::fprintf(stderr, "\"%s\" did not end\n", hostile.name);
      return 1;
    }
    const auto rssAtEvent = qel::bench::LinuxResidentBytes(server);
    const auto cpuAtEvent = qel::bench::LinuxCpuSeconds(server);
    PumpFor(kAfter);
    const auto rssAfter = qel::bench::LinuxResidentBytes(server);
    const auto cpuAfter = qel::bench::LinuxCpuSeconds(server);
    if (!rssAtEvent || !rssAfter || !cpuAtEvent || !cpuAfter) {
      std::fprintf(stderr, "the server's figures cannot be read\n");
      return 1;
    }
    std::printf("%-38s %8d %11.1f MiB %11.1f MiB %10.2f s\n", hostile.name, *number,
                static_cast<double>(*rssAtEvent) / 1048576.0,
                static_cast<double>(*rssAfter) / 1048576.0, *cpuAfter - *cpuAtEvent);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main() { return qel::bench::RunInApartment(Run); }
