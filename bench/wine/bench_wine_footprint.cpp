// Footprint under Wine: the server exe's size, and the server process's
// resident memory with one idle object and with 32 (each after a check).
// Resident memory is read from the Linux process behind the server, and it
// includes Wine's own runtime in every process, so the baseline process (COM
// initialised, the server's system libraries loaded, nothing else) is
// measured beside it and the target is taken on what the server adds to that.
// Every thread costs about a MiB under Wine whatever it does (its stack size
// makes no difference), and Wine's RPC keeps a thread for each connection a
// host's proxies open; that cost is measured here too and shown apart.

#include <windows.h>

#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/wine/in_apartment.h"
#include "bench/wine/linux_process.h"
#include "bench/wine/started_process.h"
#include "com/bstr.h"
#include "tests/com/com_test_support.h"
#include "tests/com/fault_server_watch.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"

namespace {

using namespace qel::test;
using qel::bench::BaselineProcess;

constexpr int kObjects = 32;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kExeLimitMiB = 2.0;
constexpr double kOneObjectLimitMiB = 8.0;
// Long enough for start-up work and the objects' threads to settle.
constexpr auto kSettle = std::chrono::milliseconds(1000);

std::optional<double> ExeMiB() {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(ServerPath().c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  return (static_cast<double>(data.nFileSizeHigh) * 4294967296.0 + data.nFileSizeLow) / kMiB;
}

// What one idle thread adds to this process's resident memory, in MiB.
double ThreadCostMiB() {
  constexpr int kThreads = 16;
  const auto ownMiB = [] {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.WorkingSetSize) / kMiB;
  };
  const HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const double before = ownMiB();
  std::vector<HANDLE> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(CreateThread(
        nullptr, 0, [](void* event) -> DWORD { return WaitForSingleObject(event, INFINITE); }, quit,
        0, nullptr));
  }
  Sleep(200);
  const double after = ownMiB();
  SetEvent(quit);
  for (const HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  CloseHandle(quit);
  return (after - before) / kThreads;
}

std::optional<double> ResidentMiB(const std::wstring& path) {
  const auto bytes = qel::bench::LinuxResidentBytes(path);
  if (!bytes) return std::nullopt;
  return static_cast<double>(*bytes) / kMiB;
}

void PrintServer(const char* label, double resident, double baseline, double threadCost,
                 const ServerFootprint& footprint) {
  const double above = resident - baseline;
  std::printf(
      "%s: %.2f MiB resident, %.2f MiB above the baseline, %zu threads; "
      "%.2f MiB without Wine's cost of the threads beyond the first\n",
      label, resident, above, footprint.threads,
      above - threadCost * (static_cast<double>(footprint.threads) - 1));
}

int Run() {
  qel::bench::PrintHeader("footprint under Wine: the server's exe and resident memory");
  const auto exe = ExeMiB();
  if (!exe) return 1;
  qel::bench::PrintBelow("server exe size", *exe, kExeLimitMiB, "MiB");

  if (!qel::bench::WaitUntilNoServerRuns()) {
    std::fprintf(stderr, "a server is already running\n");
    return 1;
  }
  std::optional<double> baseline;
  if (const auto idle = BaselineProcess::StartAndWait()) {
    PumpFor(kSettle);
    baseline = ResidentMiB(BaselineProcess::Path());
  }
  if (!baseline) {
    std::fprintf(stderr, "the baseline process's memory cannot be read\n");
    return 1;
  }
  std::printf("baseline process (COM, the server's system libraries): %.2f MiB resident\n",
              *baseline);
  const double threadCost = ThreadCostMiB();
  std::printf("one idle thread under Wine: %.0f KiB resident\n", threadCost * 1024);

  LoopbackServer web;
  web.Put("/footprint.txt", VersionFile(web.Url("/footprint.txt")));
  const qel::com::Bstr url(web.UrlText("/footprint.txt"));

  std::vector<ComPtr<_UpdateCheck>> objects;
  objects.push_back(CreateUpdateCheck());
  if (!objects.back()) {
    std::fprintf(stderr, "UpdateCheck cannot be created: is the server registered?\n");
    return 1;
  }
  const auto watch = ServerWatch::Attach();
  PumpFor(kSettle);
  const auto one = ResidentMiB(ServerPath());
  if (!watch || !one) {
    std::fprintf(stderr, "the server's memory cannot be read\n");
    return 1;
  }
  PrintServer("server, one idle object", *one, *baseline, threadCost, watch->Footprint());

  std::vector<ComPtr<EventSink>> sinks;
  std::vector<std::unique_ptr<Advised>> connections;
  while (objects.size() < kObjects) objects.push_back(CreateUpdateCheck());
  for (const auto& object : objects) {
    if (!object) return 1;
    sinks.push_back(EventSink::Create());
    connections.push_back(std::make_unique<Advised>(object.Get(), sinks.back().Get()));
    if (FAILED(connections.back()->Result()) || FAILED(object->StartCheck(url.Get()))) return 1;
  }
  const bool completed = PumpUntil([&] {
    for (const auto& sink : sinks)
      if (sink->Events().empty()) return false;
    return true;
  });
  for (const auto& sink : sinks)
    if (!completed || sink->Events().front().number != 0) {
      std::fprintf(stderr, "not every check completed cleanly\n");
      return 1;
    }
  PumpFor(kSettle);
  const auto many = ResidentMiB(ServerPath());
  if (!many) return 1;
  const ServerFootprint manyFootprint = watch->Footprint();
  PrintServer("server, 32 objects after a check each", *many, *baseline, threadCost, manyFootprint);
  std::printf("per further object: %.1f KiB\n", (*many - *one) * 1024.0 / (kObjects - 1));

  std::printf("resident memory, absolute, Wine's runtime included: %.2f MiB with one object\n",
              *one);
  qel::bench::PrintBelow("resident memory with one idle object, above the baseline",
                         *one - *baseline, kOneObjectLimitMiB, "MiB");
  return 0;
}

}  // namespace

int main() { return qel::bench::RunInApartment(Run); }
