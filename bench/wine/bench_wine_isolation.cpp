// Isolation under Wine: 32 objects of the out-of-process server start checks
// at the same moment against a URL that answers after 200 ms. Each object
// lives on a thread of its own, so the checks should overlap and the last
// event arrive soon after 200 ms. The baseline is the floor that this machine
// and Wine set: 32 plain WinINet fetches of the URL on 32 threads of this
// host, with the per-server connection limit raised as the server raises it
// (and, printed beside it, as it comes). Also printed: the same 32 checks on
// one thread (the in-process component in this host).

#include <windows.h>

#include <objbase.h>
#include <wininet.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "bench/wine/in_apartment.h"
#include "bench/wine/wininet_fetch.h"
#include "com/bstr.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/com/com_test_support.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_support.h"
#include "trigger/message_loop.h"

namespace {

using namespace qel::test;
using qel::bench::Clock;

constexpr int kObjects = 32;
constexpr int kRounds = 7;
constexpr int kDelayMs = 200;
constexpr double kTargetRatio = 1.25;
constexpr auto kRoundTimeout = std::chrono::seconds(30);

struct Round {
  double firstMs = 0;  // first StartCheck called to the first event
  double lastMs = 0;   // first StartCheck called to the last event
  double issueMs = 0;  // first StartCheck called to the last one returned
};

// 32 objects of the server, each with a sink of its own in this apartment.
class Objects {
 public:
  bool Create() {
    for (int i = 0; i < kObjects; ++i) {
      m_objects.push_back(CreateUpdateCheck());
      if (!m_objects.back()) return false;
      m_sinks.push_back(EventSink::Create(EventSink::Options::Calling([this, i](int32_t n, auto&) {
        m_arrivals[i] = Clock::now();
        m_numbers[i] = n;
      })));
      m_connections.push_back(
          std::make_unique<Advised>(m_objects.back().Get(), m_sinks.back().Get()));
      if (FAILED(m_connections.back()->Result())) return false;
    }
    return true;
  }

  // One check on each object, started as close together as one thread can;
  // empty if one failed.
  std::optional<Round> CheckAll(const qel::com::Bstr& url) {
    std::fill(m_arrivals.begin(), m_arrivals.end(), std::nullopt);
    std::fill(m_numbers.begin(), m_numbers.end(), -1);
    const auto started = Clock::now();
    for (const auto& object : m_objects)
      if (FAILED(object->StartCheck(url.Get()))) return std::nullopt;
    const auto issued = Clock::now();
    const bool all = PumpUntil(
        [&] {
          return std::all_of(m_arrivals.begin(), m_arrivals.end(), [](auto& a) { return a; });
        },
        kRoundTimeout);
    if (!all || std::any_of(m_numbers.begin(), m_numbers.end(), [](int32_t n) { return n != 0; }))
      return std::nullopt;
    Round round;
    round.issueMs = qel::bench::Milliseconds(issued - started);
    round.firstMs = round.lastMs = qel::bench::Milliseconds(*m_arrivals[0] - started);
    for (const auto& arrival : m_arrivals) {
      const double ms = qel::bench::Milliseconds(*arrival - started);
      round.firstMs = std::min(round.firstMs, ms);
      round.lastMs = std::max(round.lastMs, ms);
    }
    return round;
  }

 private:
  std::vector<ComPtr<_UpdateCheck>> m_objects;
  std::vector<ComPtr<EventSink>> m_sinks;
  std::vector<std::unique_ptr<Advised>> m_connections;
  std::vector<std::optional<Clock::time_point>> m_arrivals =
      std::vector<std::optional<Clock::time_point>>(kObjects);
  std::vector<int32_t> m_numbers = std::vector<int32_t>(kObjects, -1);
};

// In this host, on this thread: 32 in-process checkers started together; the
// time to the last event, or -1.
double OneThreadRound(const std::u16string& url) {
  std::vector<std::shared_ptr<qel::UpdateCheck>> checks;
  std::vector<qel::Connection> bindings;
  int completed = 0, failed = 0;
  for (int i = 0; i < kObjects; ++i) {
    checks.push_back(qel::UpdateCheck::Create());
    bindings.push_back(checks.back()->UpdateCheckComplete.Bind([&](int32_t n, std::u16string) {
      ++completed;
      if (n != 0) ++failed;
    }));
  }
  const auto started = Clock::now();
  for (const auto& check : checks) check->StartCheck(url);
  if (!qel::PumpMessagesUntil([&] { return completed == kObjects; }, kRoundTimeout) || failed)
    return -1;
  return qel::bench::Milliseconds(Clock::now() - started);
}

// In this host: 32 threads, released together, each fetching the URL with
// plain WinINet; the time to the last one done, or -1.
double FetchThreadsRound(const std::string& url, long expectedBytes) {
  std::mutex mutex;
  std::condition_variable changed;
  bool go = false;
  int ready = 0;
  Clock::time_point started;
  std::vector<double> finished(kObjects, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kObjects; ++i) {
    threads.emplace_back([&, i] {
      {
        std::unique_lock lock(mutex);
        ++ready;
        changed.notify_all();
        changed.wait(lock, [&] { return go; });
      }
      const long bytes = qel::bench::WinInetFetch(url);
      const std::lock_guard lock(mutex);
      if (bytes == expectedBytes) finished[i] = qel::bench::Milliseconds(Clock::now() - started);
    });
  }
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return ready == kObjects; });
    started = Clock::now();
    go = true;
  }
  changed.notify_all();
  for (auto& thread : threads) thread.join();
  if (std::any_of(finished.begin(), finished.end(), [](double ms) { return ms < 0; })) return -1;
  return *std::max_element(finished.begin(), finished.end());
}

// This process's limit on connections to one server.
DWORD ConnectionLimit() {
  DWORD limit = 0;
  DWORD size = sizeof(limit);
  InternetQueryOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &limit, &size);
  return limit;
}

int Run() {
  qel::bench::PrintHeader(
      "isolation under Wine: 32 objects start checks at once against a URL answering after "
      "200 ms");
  LoopbackServer web;
  const std::string path = "/isolated.txt";
  const std::string urlText = web.Url("/delay?ms=" + std::to_string(kDelayMs) + "&then=" + path);
  const std::string file = VersionFile(urlText);
  web.Put(path, file);
  const qel::com::Bstr url(qel::Utf8ToText(urlText));

  Objects objects;
  if (!objects.Create()) {
    std::fprintf(stderr, "32 objects cannot be created: is the server registered?\n");
    return 1;
  }
  // The first round warms the server's threads and WinINet; it is not counted.
  std::vector<double> last, first, issue;
  for (int round = 0; round <= kRounds; ++round) {
    const auto measured = objects.CheckAll(url);
    if (!measured) {
      std::fprintf(stderr, "round %d: not every check completed cleanly\n", round);
      return 1;
    }
    if (round == 0) continue;
    last.push_back(measured->lastMs);
    first.push_back(measured->firstMs);
    issue.push_back(measured->issueMs);
  }
  std::printf("server: %d objects, each on its own thread, %d rounds\n", kObjects, kRounds);
  const auto lastTimings = qel::bench::Summarise(last);
  qel::bench::PrintTimings("first StartCheck to the last event", lastTimings);
  qel::bench::PrintTimings("first StartCheck to the first event", qel::bench::Summarise(first));
  qel::bench::PrintTimings("issuing the 32 StartCheck calls", qel::bench::Summarise(issue));
  std::printf("the URL's own delay: %d ms, %.2fx\n", kDelayMs, lastTimings.median / kDelayMs);

  const double oneThread = OneThreadRound(qel::Utf8ToText(urlText));
  std::printf("for comparison, the 32 checks on one thread (in process): %.1f ms, %.1fx\n",
              oneThread, oneThread / kDelayMs);
  const long bytes = static_cast<long>(file.size());
  // Rounds of each, turn about, so that neither side gets the quieter moments.
  std::vector<double> limited, unlimited;
  const DWORD limit = ConnectionLimit();
  for (int round = 0; round < kRounds; ++round) {
    for (const DWORD connections : {limit, static_cast<DWORD>(kObjects)}) {
      DWORD value = connections;
      InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &value, sizeof(value));
      InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &value, sizeof(value));
      const double ms = FetchThreadsRound(urlText, bytes);
      if (ms < 0) return 1;
      (connections == limit ? limited : unlimited).push_back(ms);
    }
  }
  std::printf("floor: 32 plain WinINet fetches on 32 threads of this host, %d rounds each\n",
              kRounds);
  const std::string limitedLabel = std::to_string(limit) + " connections per server (as it comes)";
  const auto limitedTimings = qel::bench::Summarise(limited);
  const auto unlimitedTimings = qel::bench::Summarise(unlimited);
  qel::bench::PrintTimings(limitedLabel, limitedTimings);
  qel::bench::PrintTimings("32 connections per server (raised)", unlimitedTimings);
  std::printf("floor ratios to the URL's delay: %.2fx as it comes, %.2fx raised\n",
              limitedTimings.median / kDelayMs, unlimitedTimings.median / kDelayMs);
  std::printf("baseline: the floor, connections raised, %.1f ms\n", unlimitedTimings.median);
  qel::bench::PrintRatio(lastTimings.median, unlimitedTimings.median, kTargetRatio);
  return oneThread < 0 ? 1 : 0;
}

}  // namespace

int main() { return qel::bench::RunInApartment(Run); }
