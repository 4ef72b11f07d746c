#include "bench/bench_report.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace qel::bench {
namespace {

std::atomic<std::size_t> g_sink{0};

}  // namespace

double Milliseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

Timings Summarise(std::vector<double> milliseconds) {
  Timings timings;
  timings.count = milliseconds.size();
  if (milliseconds.empty()) return timings;
  std::sort(milliseconds.begin(), milliseconds.end());
  const std::size_t middle = milliseconds.size() / 2;
  timings.median = milliseconds.size() % 2 == 1
                       ? milliseconds[middle]
                       : (milliseconds[middle - 1] + milliseconds[middle]) / 2;
  timings.min = milliseconds.front();
  timings.max = milliseconds.back();
  return timings;
}

void PrintHeader(std::string_view title) {
  std::printf("== %.*s ==\n", static_cast<int>(title.size()), title.data());
  std::printf("machine: %s\n", MachineDescription().c_str());
  std::fflush(stdout);
}

void PrintTimings(std::string_view label, const Timings& timings) {
  std::printf("%-40.*s median %9.3f ms  (min %.3f, max %.3f, %zu runs)\n",
              static_cast<int>(label.size()), label.data(), timings.median, timings.min,
              timings.max, timings.count);
  std::fflush(stdout);
}

bool PrintRatio(double measured, double baseline, double targetRatio) {
  const double ratio = measured / baseline;
  const bool met = ratio <= targetRatio;
  std::printf("ratio %.2fx (target <= %.2fx): %s\n", ratio, targetRatio, met ? "met" : "MISSED");
  std::fflush(stdout);
  return met;
}

bool PrintLatency(const std::vector<double>& checks, const std::vector<double>& fetches,
                  std::string_view fetchLabel, double triggerDelayMs, double targetRatio) {
  const Timings measured = Summarise(checks);
  const Timings fetch = Summarise(fetches);
  PrintTimings("check, 1 KiB version file", measured);
  PrintTimings(fetchLabel, fetch);
  std::printf("baseline: %.0f ms + raw fetch = %.3f ms\n", triggerDelayMs,
              triggerDelayMs + fetch.median);
  return PrintRatio(measured.median, triggerDelayMs + fetch.median, targetRatio);
}

bool PrintBelow(std::string_view label, double measured, double limit, std::string_view unit) {
  const bool met = measured < limit;
  const int unitLength = static_cast<int>(unit.size());
  std::printf("%.*s: %.2f %.*s (target < %.2f %.*s): %s\n", static_cast<int>(label.size()),
              label.data(), measured, unitLength, unit.data(), limit, unitLength, unit.data(),
              met ? "met" : "MISSED");
  std::fflush(stdout);
  return met;
}

void Consume(std::size_t value) { g_sink.fetch_add(value, std::memory_order_relaxed); }

}  // namespace qel::bench
