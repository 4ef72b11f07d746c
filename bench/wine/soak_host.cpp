// The soak run: N sequential checks on one object, then N objects with one
// check each, then the two halves of that apart (N objects connected to the
// event without a check, and N objects with a check but no connection, its
// end seen by polling IsActive), then N objects asked for _UpdateCheck with
// one property read each and neither a check nor a connection, and N objects
// asked for IUnknown with one call through IDispatch instead (so that no
// proxy or stub is made from the type library), then S objects made 3 s apart
// with one check each (so that the server's object threads sit idle between
// them), against the out-of-process server and this program's own loopback
// server. Then, for comparison, the last two phases against
// plain_com_server, a local server with none of the component's code, with
// its objects made on its main thread and then on a second thread and
// marshalled to the main one, as the server makes them. Every 1000 checks
// (every N/10 for a smaller N), and after every spaced object, it prints the
// watched server's handle count, thread count and private bytes, which should
// stay flat after warm-up.
//   soak_host [N] [S]   (defaults 10000 and 100)

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/wine/plain_com_server.h"
#include "com/bstr.h"
#include "tests/com/com_test_support.h"
#include "tests/com/fault_server_watch.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"

namespace {

using namespace qel::test;
using qel::bench::Clock;

constexpr int kMostBetweenRows = 1000;
constexpr auto kSpacing = std::chrono::seconds(3);
constexpr auto kSettle = std::chrono::seconds(3);

// One check to its completion; false if it failed or did not end.
bool Check(_UpdateCheck* object, const EventSink& sink, const qel::com::Bstr& url) {
  const size_t before = sink.Events().size();
  if (FAILED(object->StartCheck(url.Get()))) return false;
  if (!PumpUntil([&] { return sink.Events().size() > before; })) return false;
  return sink.Events().back().number == 0;
}

// One check without a connection: done once IsActive turns false, and good
// if the published major is the file's.
bool CheckByPolling(_UpdateCheck* object, const qel::com::Bstr& url) {
  if (FAILED(object->StartCheck(url.Get()))) return false;
  VARIANT_BOOL active = VARIANT_TRUE;
  const bool ended = PumpUntil([&] {
    if (FAILED(object->IsActive(&active))) return true;
    if (active) PumpFor(std::chrono::milliseconds(2));
    return !active;
  });
  LONG major = 0;
  return ended && !active && SUCCEEDED(object->get_Major(&major)) && major == 2;
}

// What is done with each new object.
enum class Use { kConnectAndCheck, kConnectOnly, kCheckOnly, kReadOnly, kDispatchOnly };

// What a new object is asked for: the component's interface, whose proxies
// and stubs COM makes from the registered type library, or IUnknown, with
// IDispatch asked for next and carried by COM's own proxy.
enum class Asked { kUpdateCheck, kUnknown };

// One new object of `clsid`, asked for `asked`, and one call through what it
// gave: a property read (0 on an object never checked), or GetTypeInfoCount
// (which must give `typeInfoCount`). False if it failed.
bool CreateAndCall(REFCLSID clsid, Asked asked, UINT typeInfoCount, HRESULT& hr) {
  if (asked == Asked::kUpdateCheck) {
    ComPtr<_UpdateCheck> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID__UpdateCheck, object.PutVoid());
    LONG major = -1;
    if (SUCCEEDED(hr)) hr = object->get_Major(&major);
    return SUCCEEDED(hr) && major == 0;
  }
  ComPtr<IUnknown> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.PutVoid());
  ComPtr<IDispatch> dispatch;
  if (SUCCEEDED(hr)) hr = object.As(dispatch);
  UINT count = typeInfoCount + 1;
  if (SUCCEEDED(hr)) hr = dispatch->GetTypeInfoCount(&count);
  return SUCCEEDED(hr) && count == typeInfoCount;
}

// One new object, used; false if it failed. A server that no longer serves
// new objects stays that way: `hr` tells, and the phase ends.
bool UseNewObject(Use use, const qel::com::Bstr& url, HRESULT& hr) {
  hr = E_FAIL;
  if (use == Use::kReadOnly) return CreateAndCall(CLSID_UpdateCheck, Asked::kUpdateCheck, 0, hr);
  if (use == Use::kDispatchOnly) return CreateAndCall(CLSID_UpdateCheck, Asked::kUnknown, 1, hr);
  const auto object = CreateUpdateCheck(&hr);
  if (!object) return false;
  if (use == Use::kCheckOnly) return CheckByPolling(object.Get(), url);
  const auto sink = EventSink::Create();
  const Advised advised(object.Get(), sink.Get());
  hr = advised.Result();
  if (FAILED(hr)) return false;
  return use == Use::kConnectOnly || Check(object.Get(), *sink.Get(), url);
}

// New object i of count, its failure counted; false when the server no
// longer serves new objects (the rest count as failed, and the phase ends).
bool NextNewObject(int i, int count, const qel::com::Bstr& url, int& failures,
                   Use use = Use::kConnectAndCheck) {
  HRESULT hr = E_FAIL;
  if (!UseNewObject(use, url, hr)) ++failures;
  if (SUCCEEDED(hr)) return true;
  std::printf("object %d could not be created and connected (0x%08lx): phase ends\n", i,
              static_cast<unsigned long>(hr));
  failures += count - i;
  return false;
}

// Objects made kSpacing apart while the caller's object holds the server: a
// row after each. Returns the failed checks.
int SpacedPhase(int count, const ServerWatch& watch, const qel::com::Bstr& url) {
  std::printf("\none check on each of %d new objects, made %lld s apart\n%8s %8s %8s %14s %10s\n",
              count, static_cast<long long>(kSpacing.count()), "objects", "handles", "threads",
              "private bytes", "ms/check");
  int failures = 0;
  size_t most = 0;
  for (int i = 1; i <= count; ++i) {
    if (i > 1) PumpFor(kSpacing);
    const auto started = Clock::now();
    if (!NextNewObject(i, count, url, failures)) break;
    const double ms = qel::bench::Milliseconds(Clock::now() - started);
    const ServerFootprint f = watch.Footprint();
    most = std::max(most, f.threads);
    std::printf("%8d %8lu %8zu %14zu %10.2f\n", i, f.handles, f.threads, f.privateBytes, ms);
    std::fflush(stdout);
  }
  std::printf("spaced objects: %d of %d checks succeeded; at most %zu server threads at once\n",
              count - failures, count, most);
  return failures;
}

// The figures of one phase, each taken after a further `every` checks.
class Report {
 public:
  Report(const char* phase, const ServerWatch& watch, int every)
      : m_phase(phase), m_watch(watch), m_every(every) {
    std::printf("\n%s\n%8s %8s %8s %14s %10s\n", phase, "checks", "handles", "threads",
                "private bytes", "ms/check");
  }
  // Taken once the server has been left alone for kSettle, so that threads
  // which end when idle (download threads, Wine's for connections) have
  // ended and do not hide the growth.
  void Row(int checks) {
    const double ms = qel::bench::Milliseconds(Clock::now() - m_last) / m_every;
    PumpFor(kSettle);
    const ServerFootprint f = m_watch.Footprint();
    std::printf("%8d %8lu %8zu %14zu %10.2f\n", checks, f.handles, f.threads, f.privateBytes, ms);
    std::fflush(stdout);
    m_last = Clock::now();
    m_rows.push_back(f);
  }
  // Flat after warm-up: every row after the first as high as the last one.
  void Verdict() const {
    if (m_rows.size() < 3) return;
    size_t minPrivate = SIZE_MAX, maxPrivate = 0;
    DWORD minHandles = MAXDWORD, maxHandles = 0;
    size_t minThreads = SIZE_MAX, maxThreads = 0;
    for (size_t i = 1; i < m_rows.size(); ++i) {
      minPrivate = std::min(minPrivate, m_rows[i].privateBytes);
      maxPrivate = std::max(maxPrivate, m_rows[i].privateBytes);
      minHandles = std::min(minHandles, m_rows[i].handles);
      maxHandles = std::max(maxHandles, m_rows[i].handles);
      minThreads = std::min(minThreads, m_rows[i].threads);
      maxThreads = std::max(maxThreads, m_rows[i].threads);
    }
    std::printf(
        "%s after warm-up (rows 2..%zu): handles %lu..%lu, threads %zu..%zu, "
        "private bytes %zu..%zu (spread %zu KiB)\n",
        m_phase, m_rows.size(), minHandles, maxHandles, minThreads, maxThreads, minPrivate,
        maxPrivate, (maxPrivate - minPrivate) / 1024);
  }

 private:
  const char* m_phase;
  const ServerWatch& m_watch;
  const int m_every;
  Clock::time_point m_last = Clock::now();
  std::vector<ServerFootprint> m_rows;
};

// N new objects of one comparison class, a row every `every`. Returns the
// failed ones.
int PlainPhase(const char* name, REFCLSID clsid, Asked asked, const ServerWatch& watch, int count,
               int every) {
  Report report(name, watch, every);
  int failures = 0;
  for (int i = 1; i <= count; ++i) {
    HRESULT hr = E_FAIL;
    if (!CreateAndCall(clsid, asked, 0, hr)) ++failures;
    if (FAILED(hr)) {
      std::printf("plain object %d could not be created or called (0x%08lx): phase ends\n", i,
                  static_cast<unsigned long>(hr));
      return failures + count - i;
    }
    if (i % every == 0) report.Row(i);
  }
  report.Verdict();
  return failures;
}

// The comparison server's phases, while one of its objects holds it.
int PlainPhases(int count, int every) {
  ComPtr<IUnknown> keeper;
  HRESULT hr = CoCreateInstance(qel::bench::kMainClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                keeper.PutVoid());
  const auto watch = SUCCEEDED(hr) ? ServerWatch::Attach(L"plain_com_server.exe") : std::nullopt;
  if (!watch) {
    std::printf("\nplain local server cannot be created (0x%08lx): is it registered?\n",
                static_cast<unsigned long>(hr));
    return 4 * count;
  }
  std::printf("\nplain local server process %lu\n", watch->Id());
  const struct {
    const char* name;
    CLSID clsid;
    Asked asked;
  } phases[] = {
      {"plain local server, objects made on its main thread, asked for IUnknown: one IDispatch "
       "call each",
       qel::bench::kMainClass, Asked::kUnknown},
      {"plain local server, objects made on its main thread, asked for _UpdateCheck: one "
       "property read each",
       qel::bench::kMainClass, Asked::kUpdateCheck},
      {"plain local server, objects made on a second thread and marshalled to the main one, "
       "asked for IUnknown: one IDispatch call each",
       qel::bench::kThreadClass, Asked::kUnknown},
      {"plain local server, objects made on a second thread and marshalled to the main one, "
       "asked for _UpdateCheck: one property read each",
       qel::bench::kThreadClass, Asked::kUpdateCheck},
  };
  int failures = 0;
  for (const auto& phase : phases)
    failures += PlainPhase(phase.name, phase.clsid, phase.asked, *watch, count, every);
  // The last row is read beside this program (scripts/soak.sh): the server
  // must still run then, and it ends with the keeper.
  PumpFor(std::chrono::seconds(1));
  return failures;
}

int Soak(int count, int spaced) {
  qel::bench::PrintHeader("soak: checks against the out-of-process server");
  LoopbackServer web;
  const std::string path = "/soak.txt";
  web.Put(path, VersionFile(web.Url(path)));
  const qel::com::Bstr url(web.UrlText(path));

  // Kept for the whole run, so that the server never ends between objects.
  const auto keeper = CreateUpdateCheck();
  if (!keeper) {
    std::fprintf(stderr, "UpdateCheck cannot be created: is the server registered?\n");
    return 1;
  }
  const auto watch = ServerWatch::Attach();
  if (!watch) {
    std::fprintf(stderr, "cannot find the one server process\n");
    return 1;
  }
  std::printf("server process %lu, %d checks per phase, %d spaced objects\n", watch->Id(), count,
              spaced);
  int failures = 0;

  const int every = std::clamp(count / 10, 1, kMostBetweenRows);
  {
    Report report("one object, sequential checks", *watch, every);
    const auto sink = EventSink::Create();
    const Advised advised(keeper.Get(), sink.Get());
    for (int i = 1; i <= count; ++i) {
      if (!Check(keeper.Get(), *sink.Get(), url)) ++failures;
      if (i % every == 0) report.Row(i);
    }
    report.Verdict();
  }
  const struct {
    const char* name;
    Use use;
  } phases[] = {
      {"one check on each of N new objects", Use::kConnectAndCheck},
      {"N new objects connected to the event, no check", Use::kConnectOnly},
      {"one check on each of N new objects, not connected (IsActive polled)", Use::kCheckOnly},
      {"N new objects asked for _UpdateCheck, one property read each, no check, not connected",
       Use::kReadOnly},
      {"N new objects asked for IUnknown, one IDispatch call each, no check, not connected",
       Use::kDispatchOnly},
  };
  for (const auto& phase : phases) {
    Report report(phase.name, *watch, every);
    for (int i = 1; i <= count; ++i) {
      if (!NextNewObject(i, count, url, failures, phase.use)) break;
      if (i % every == 0) report.Row(i);
    }
    report.Verdict();
  }
  if (spaced > 0) failures += SpacedPhase(spaced, *watch, url);
  failures += PlainPhases(count, every);
  std::printf("failed checks: %d of %d\n", failures, 10 * count + spaced);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int spaced = argc > 2 ? std::atoi(argv[2]) : 100;
  if (count <= 0 || spaced < 0) {
    std::fprintf(stderr, "usage: soak_host [N] [S]\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int result = Soak(count, spaced);
  CoUninitialize();
  return result;
}
