// Where the server's memory goes per new object: the same work in one host
// process under Wine, on its main thread, with no COM between the host and
// the component. Each phase runs N times and prints this process's own
// resident memory (from its Linux process) every N/10, and at its end the
// growth per item between its first and last rows:
//   - one check on each of N new in-process objects, each let go after it;
//   - N checks on one in-process object;
//   - N new in-process objects, connected to the event but never checked;
//   - N plain WinINet fetches of the same file on this thread, as the
//     component's download makes them;
//   - N plain WinINet fetches, each on a thread of its own.
// Not part of the test command.
//   growth_host [N]   (default 1000)

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "bench/wine/in_apartment.h"
#include "bench/wine/linux_process.h"
#include "bench/wine/wininet_fetch.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"
#include "trigger/message_loop.h"

namespace {

using namespace qel::test;
using qel::bench::Clock;

constexpr auto kCheckTimeout = std::chrono::seconds(30);
constexpr auto kSettle = std::chrono::milliseconds(3000);

int g_count = 1000;  // N, from the command line

// The name by which this program's Linux process is found (its command line
// holds the path it was started by, as given). Under Wine, Z:\\proc\\self is
// opened by wineserver and would show wineserver's figures.
std::wstring OwnName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full = path;
  return full.substr(full.find_last_of(L"\\/") + 1);
}

// One check on `check` to its end; false if it failed or did not end.
bool CheckOnce(qel::UpdateCheck& check, const std::u16string& url) {
  std::optional<int32_t> number;
  const qel::Connection binding =
      check.UpdateCheckComplete.Bind([&](int32_t n, std::u16string) { number = n; });
  check.StartCheck(url);
  return qel::PumpMessagesUntil([&] { return number.has_value(); }, kCheckTimeout) && *number == 0;
}

// Runs `item` N times, a row every N/10; answers the items that failed.
template <typename Item>
int Phase(const char* name, Item item) {
  const int every = std::max(1, g_count / 10);
  std::printf("\n%s\n%8s %14s %10s\n", name, "items", "resident KiB", "ms/item");
  std::vector<size_t> rows;
  int failures = 0;
  auto last = Clock::now();
  for (int i = 1; i <= g_count; ++i) {
    if (!item()) ++failures;
    if (i % every != 0) continue;
    const double ms = qel::bench::Milliseconds(Clock::now() - last) / every;
    // As the soak's rows: after the download threads' idle life, so that
    // only what stays is counted.
    qel::PumpMessagesUntil([] { return false; }, kSettle);
    const size_t resident = qel::bench::LinuxResidentBytes(OwnName()).value_or(0) / 1024;
    std::printf("%8d %14zu %10.2f\n", i, resident, ms);
    std::fflush(stdout);
    last = Clock::now();
    rows.push_back(resident);
  }
  if (rows.size() >= 2) {
    const double perItem = (static_cast<double>(rows.back()) - static_cast<double>(rows.front())) *
                           1024.0 / (every * static_cast<double>(rows.size() - 1));
    std::printf("%s: %zu to %zu KiB between items %d and %d, %.0f bytes per item; %d failed\n",
                name, rows.front(), rows.back(), every, every * static_cast<int>(rows.size()),
                perItem, failures);
  }
  return failures;
}

int Run() {
  qel::bench::PrintHeader("growth per new object, in process under Wine");
  LoopbackServer web;
  const std::string path = "/growth.txt";
  web.Put(path, VersionFile(web.Url(path)));
  const std::string urlText = web.Url(path);
  const std::u16string url = qel::Utf8ToText(urlText);
  const long bytes = static_cast<long>(VersionFile(urlText).size());
  std::printf("%d items per phase\n", g_count);

  int failures = 0;
  {
    const auto kept = qel::UpdateCheck::Create();
    failures += Phase("in process: N checks on one object", [&] { return CheckOnce(*kept, url); });
  }
  failures += Phase("in process: one check on each of N new objects", [&] {
    const auto check = qel::UpdateCheck::Create();
    return CheckOnce(*check, url);
  });
  failures += Phase("in process: N new objects connected to the event, no check", [&] {
    const auto check = qel::UpdateCheck::Create();
    const qel::Connection binding = check->UpdateCheckComplete.Bind([](int32_t, std::u16string) {});
    return true;
  });
  failures += Phase("plain WinINet fetch on this thread, N times",
                    [&] { return qel::bench::WinInetFetch(urlText) == bytes; });
  failures += Phase("plain WinINet fetch on a new thread each, N times", [&] {
    long fetched = -1;
    std::thread([&] { fetched = qel::bench::WinInetFetch(urlText); }).join();
    return fetched == bytes;
  });
  std::printf("\nfailed items: %d of %d\n", failures, 5 * g_count);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  g_count = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (g_count <= 0) {
    std::fprintf(stderr, "usage: growth_host [N]\n");
    return 2;
  }
  return qel::bench::RunInApartment(Run);
}
