#include <sched.h>
#include <sys/utsname.h>

#include <fstream>
#include <string>

#include "bench/bench_report.h"

namespace qel::bench {
namespace {

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos) return line.substr(line.find_first_not_of(" \t", colon + 1));
    }
  }
  return "unknown CPU";
}

// What `nproc` says: the CPUs the process may run on, not those installed.
int UsableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
  return CPU_COUNT(&set);
}

}  // namespace

std::string MachineDescription() {
  utsname names{};
  uname(&names);
  return std::string(names.machine) + ", " + CpuModel() + ", " + std::to_string(UsableCpus()) +
         " CPUs";
}

}  // namespace qel::bench
