#include "bench/wine/wine_bench_report.h"

#include <windows.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <string>

namespace qel::bench {
namespace {

std::string CpuModel() {
  char name[256] = {};
  DWORD size = sizeof(name);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                   "ProcessorNameString", RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS) {
    return "unknown CPU";
  }
  return name;
}

int UsableCpus() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 0;
  return std::popcount(static_cast<unsigned long long>(process));
}

// Wine says which Wine it is through ntdll; on Windows there is no such call.
std::string WineVersion() {
  using Version = const char*(__cdecl*)();
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto version = ntdll ? reinterpret_cast<Version>(reinterpret_cast<void*>(
                                   GetProcAddress(ntdll, "wine_get_version")))
                             : nullptr;
  return version ? std::string("Wine ") + version() : "not Wine";
}

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
  std::printf("machine: x86_64, %s, %d CPUs, %s\n", CpuModel().c_str(), UsableCpus(),
              WineVersion().c_str());
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

}  // namespace qel::bench
