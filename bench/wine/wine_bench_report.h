// What the benchmarks under Wine print: the machine and the Wine they ran
// on, timings, and each figure's ratio against its baseline and target, in
// the same form as the native benchmarks.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>
#include <vector>

namespace qel::bench {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration elapsed);

struct Timings {
  double median = 0;
  double min = 0;
  double max = 0;
  std::size_t count = 0;
};
Timings Summarise(std::vector<double> milliseconds);

// The title, then the machine: the CPU model, the CPUs this process may run
// on, and the Wine version.
void PrintHeader(std::string_view title);

void PrintTimings(std::string_view label, const Timings& timings);

// "ratio R (target <= T): met" or "... MISSED"; returns whether it was met.
bool PrintRatio(double measured, double baseline, double targetRatio);

}  // namespace qel::bench
