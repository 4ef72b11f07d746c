#include "bench/bench_report.h"

#include <windows.h>

#include <bit>
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

std::string MachineDescription() {
  return "x86_64, " + CpuModel() + ", " + std::to_string(UsableCpus()) + " CPUs, " + WineVersion();
}

}  // namespace qel::bench
