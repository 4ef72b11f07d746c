// A Windows process of this Wine prefix seen from Linux. Wine 8 reports no
// memory figures for another process, but the Linux process behind it is in
// /proc, which Wine shows as Z:\proc.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qel::bench {

// The resident memory (VmRSS) of the one Linux process whose command line
// names `exePath` (compared without regard to case); empty if there is not
// exactly one.
std::optional<size_t> LinuxResidentBytes(const std::wstring& exePath);

// The processor time (user and system) that process has used, in seconds;
// empty as above.
std::optional<double> LinuxCpuSeconds(const std::wstring& exePath);

}  // namespace qel::bench
