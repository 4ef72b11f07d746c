// What every native benchmark prints: the machine, the figure, its baseline
// from the same run, absolute times and the ratio against the target.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qel::bench {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration elapsed);

// Median, minimum and maximum of a set of timings, in milliseconds.
struct Timings {
  double median = 0;
  double min = 0;
  double max = 0;
  std::size_t count = 0;
};
Timings Summarise(std::vector<double> milliseconds);

// The title, then the machine.
void PrintHeader(std::string_view title);

// The processor, the CPUs this process may run on and, under Wine, the Wine
// version. One per platform: machine_linux.cpp, machine_windows.cpp.
std::string MachineDescription();

void PrintTimings(std::string_view label, const Timings& timings);

// "ratio R (target <= T): met" or "... MISSED"; returns whether it was met.
bool PrintRatio(double measured, double baseline, double targetRatio);

// A check's latency against its floor, natively and under Wine: the checks'
// and the raw fetches' timings, then the ratio of the checks' median to the
// trigger's delay plus the raw fetches' median; returns whether it was met.
bool PrintLatency(const std::vector<double>& checks, const std::vector<double>& fetches,
                  std::string_view fetchLabel, double triggerDelayMs, double targetRatio);

// "<label>: <measured> <unit> (target < <limit> <unit>): met" or "... MISSED";
// returns whether it was met.
bool PrintBelow(std::string_view label, double measured, double limit, std::string_view unit);

// Keeps a result alive so that the compiler cannot drop the work behind it.
void Consume(std::size_t value);

}  // namespace qel::bench
