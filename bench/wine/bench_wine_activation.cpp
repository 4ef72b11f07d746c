// Activation under Wine: the time from the server process's start to its
// class object being registered, against a baseline process that gets as far
// as the server's own work beginning (COM initialised, the same system
// libraries loaded). The server is started here as COM starts it, with
// -Embedding, while its class is not registered: a probe for the class object
// that misses then fails at once instead of launching another server. Cold
// activation through CoCreateInstance is reported apart: Wine waits a fixed
// second after it launches a local server, whatever the server does.

#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <vector>

#include "QELUpdateCheck.h"
#include "bench/bench_report.h"
#include "bench/wine/in_apartment.h"
#include "bench/wine/started_process.h"
#include "tests/com/com_test_support.h"

namespace {

using namespace qel::test;
using qel::bench::BaselineProcess;
using qel::bench::Clock;
using qel::bench::StartedProcess;

constexpr int kRuns = 10;
constexpr int kColdRuns = 3;
constexpr int kWarmRuns = 20;
constexpr auto kProbeTimeout = std::chrono::seconds(20);

ComPtr<IClassFactory> ProbeClassObject(HRESULT* result = nullptr) {
  ComPtr<IClassFactory> factory;
  const HRESULT hr = CoGetClassObject(CLSID_UpdateCheck, CLSCTX_LOCAL_SERVER, nullptr,
                                      IID_IClassFactory, factory.PutVoid());
  if (result) *result = hr;
  return factory;
}

// One start of the server: from just before its start to its class object
// answering here, in milliseconds; -1 on failure. The server then serves one
// object and ends with it, as it does for a host.
double ServerStart() {
  const auto server = StartedProcess::Start(ServerPath(), L"-Embedding");
  if (!server) return -1;
  ComPtr<IClassFactory> factory;
  while (!(factory = ProbeClassObject())) {
    if (Clock::now() - server->StartedAt() > kProbeTimeout ||
        WaitForSingleObject(server->Handle(), 0) == WAIT_OBJECT_0) {
      TerminateProcess(server->Handle(), 1);
      return -1;
    }
    Sleep(1);
  }
  const double ms = qel::bench::Milliseconds(Clock::now() - server->StartedAt());
  // Wine's class object proxy does not pass LockServer on, so an object it is.
  ComPtr<IUnknown> object;
  const HRESULT created = factory->CreateInstance(nullptr, IID_IUnknown, object.PutVoid());
  object.Reset();
  factory.Reset();
  if (FAILED(created) || !server->WaitForExit(10000)) {
    std::fprintf(stderr, "the server did not serve an object and end after it (0x%08lx)\n",
                 static_cast<unsigned long>(created));
    TerminateProcess(server->Handle(), 1);
    return -1;
  }
  return ms;
}

// The starts, measured while the class is not registered.
int MeasureStarts() {
  if (RunServer(L"/UnregServer") != 0 || !qel::bench::WaitUntilNoServerRuns()) {
    std::fprintf(stderr, "cannot unregister the server, or a server is still running\n");
    return 1;
  }
  HRESULT probe = S_OK;
  if (ProbeClassObject(&probe) || probe != REGDB_E_CLASSNOTREG) {
    std::fprintf(stderr, "a probe for the unregistered class gave 0x%08lx\n",
                 static_cast<unsigned long>(probe));
    return 1;
  }

  std::vector<double> server, baseline;
  for (int i = 0; i < kRuns; ++i) {
    const double ms = ServerStart();
    const auto idle = BaselineProcess::StartAndWait();
    if (ms < 0 || !idle) {
      std::fprintf(stderr, "run %d: the server or the baseline process did not start\n", i);
      return 1;
    }
    server.push_back(ms);
    baseline.push_back(idle->ReadyMs());
  }
  const auto measured = qel::bench::Summarise(server);
  const auto base = qel::bench::Summarise(baseline);
  qel::bench::PrintTimings("server: start to class object", measured);
  qel::bench::PrintTimings("baseline process: start to ready", base);
  std::printf("ratio %.2fx the baseline, %.1f ms of the server's own (reported, no target)\n",
              measured.median / base.median, measured.median - base.median);
  return 0;
}

// An object of the registered class, or a line that says why there is none.
ComPtr<_UpdateCheck> Activated(const char* what) {
  HRESULT created = S_OK;
  auto object = CreateUpdateCheck(&created);
  if (!object) {
    std::fprintf(stderr, "%s: CoCreateInstance failed (0x%08lx)\n", what,
                 static_cast<unsigned long>(created));
  }
  return object;
}

bool NoServerRuns() {
  if (qel::bench::WaitUntilNoServerRuns()) return true;
  std::fprintf(stderr, "a server is still running\n");
  return false;
}

// Activation through CoCreateInstance of the registered class.
int MeasureActivation() {
  std::vector<double> cold, warm;
  for (int i = 0; i < kColdRuns; ++i) {
    if (!NoServerRuns()) return 1;
    const auto before = Clock::now();
    if (!Activated("cold activation")) return 1;
    cold.push_back(qel::bench::Milliseconds(Clock::now() - before));
  }
  {
    // A cold start too: the last server may still be ending, and a creation
    // that reaches it then fails (under Wine with 0x800706BE).
    if (!NoServerRuns()) return 1;
    const auto keeper = Activated("the object that keeps the server");
    if (!keeper) return 1;
    for (int i = 0; i < kWarmRuns; ++i) {
      const auto before = Clock::now();
      if (!Activated("warm activation")) return 1;
      warm.push_back(qel::bench::Milliseconds(Clock::now() - before));
    }
  }
  qel::bench::PrintTimings("apart: cold CoCreateInstance (Wine's wait)",
                           qel::bench::Summarise(cold));
  qel::bench::PrintTimings("apart: CoCreateInstance, server running", qel::bench::Summarise(warm));
  return NoServerRuns() ? 0 : 1;
}

int Run() {
  qel::bench::PrintHeader(
      "activation under Wine: the server process's start to its class object registered");
  // Probes must not launch servers of their own, so the class is unregistered
  // while they run, and registered again whatever happens.
  const int starts = MeasureStarts();
  if (RunServer(L"/RegServer") != 0) {
    std::fprintf(stderr, "cannot register the server again\n");
    return 1;
  }
  return starts != 0 ? starts : MeasureActivation();
}

}  // namespace

int main() { return qel::bench::RunInApartment(Run); }
