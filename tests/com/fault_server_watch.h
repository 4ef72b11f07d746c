// The server process seen from outside, as the fault suite, the soak run and
// the benchmarks watch it: its handles, threads and memory, and its end.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "com/unique_handle.h"

namespace qel::test {

struct ServerFootprint {
  DWORD handles = 0;
  size_t threads = 0;
  // Private bytes (commit charge) and working set.
  size_t privateBytes = 0;
  size_t workingSet = 0;

  // No more handles and threads than `baseline`.
  bool Within(const ServerFootprint& baseline) const {
    return handles <= baseline.handles && threads <= baseline.threads;
  }
};

class ServerWatch {
 public:
  // Watches the one running server process (or the one running `exeName`);
  // empty if none or several run.
  static std::optional<ServerWatch> Attach(const wchar_t* exeName = nullptr);

  DWORD Id() const { return m_id; }
  ServerFootprint Footprint() const;
  // The ids of the process's threads now.
  std::vector<DWORD> ThreadIds() const;
  bool Running() const;

 private:
  ServerWatch(DWORD id, com::UniqueHandle process) : m_id(id), m_process(std::move(process)) {}

  DWORD m_id;
  com::UniqueHandle m_process;
};

}  // namespace qel::test
