// Processes the activation and footprint benchmarks start themselves: the
// server as COM would start it, and the baseline process beside it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "bench/bench_report.h"
#include "com/unique_handle.h"

namespace qel::bench {

class StartedProcess {
 public:
  // Starts `path` with `arguments`; the time is taken just before the start.
  static std::optional<StartedProcess> Start(const std::wstring& path,
                                             const std::wstring& arguments);
  HANDLE Handle() const { return m_process.Get(); }
  Clock::time_point StartedAt() const { return m_startedAt; }
  // Waits for the process to end, serving this apartment meanwhile; false on
  // the time-out.
  bool WaitForExit(DWORD milliseconds) const;

 private:
  StartedProcess(com::UniqueHandle process, Clock::time_point startedAt)
      : m_process(std::move(process)), m_startedAt(startedAt) {}
  com::UniqueHandle m_process;
  Clock::time_point m_startedAt;
};

// bench_baseline_process, next to this program: started, then ready (COM
// initialised, the server's system libraries loaded), then idle until stopped.
class BaselineProcess {
 public:
  // Starts it and waits until it is ready; empty if it did not get there.
  static std::optional<BaselineProcess> StartAndWait();
  BaselineProcess(BaselineProcess&&) = default;
  ~BaselineProcess();
  // From just before the start to the ready signal arriving here.
  double ReadyMs() const { return Milliseconds(m_readyAt - m_process.StartedAt()); }
  static std::wstring Path();

 private:
  BaselineProcess(StartedProcess process, com::UniqueHandle quit, Clock::time_point readyAt)
      : m_process(std::move(process)), m_quit(std::move(quit)), m_readyAt(readyAt) {}
  StartedProcess m_process;
  com::UniqueHandle m_quit;
  Clock::time_point m_readyAt;
};

// Waits up to 10 s for no server process to be running.
bool WaitUntilNoServerRuns();

}  // namespace qel::bench
