#include "bench/wine/started_process.h"

#include <objbase.h>

#include "tests/com/com_test_support.h"

namespace qel::bench {

std::optional<StartedProcess> StartedProcess::Start(const std::wstring& path,
                                                    const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const auto startedAt = Clock::now();
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  return StartedProcess(com::UniqueHandle(info.hProcess), startedAt);
}

bool StartedProcess::WaitForExit(DWORD milliseconds) const {
  // A process that is winding down may still call into this apartment, so
  // the wait goes on serving it.
  HANDLE process = m_process.Get();
  DWORD index = 0;
  return CoWaitForMultipleHandles(0, milliseconds, 1, &process, &index) == S_OK;
}

std::wstring BaselineProcess::Path() { return test::SiblingPath(L"bench_baseline_process.exe"); }

std::optional<BaselineProcess> BaselineProcess::StartAndWait() {
  // Unnamed events would need inheritance; names unique to this moment do not.
  const std::wstring stem = L"qel-bench-baseline-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(GetTickCount64());
  const std::wstring readyName = stem + L"-ready", quitName = stem + L"-quit";
  com::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
  com::UniqueHandle quit(CreateEventW(nullptr, TRUE, FALSE, quitName.c_str()));
  if (!ready || !quit) return std::nullopt;
  auto process = StartedProcess::Start(Path(), readyName + L" " + quitName);
  if (!process) return std::nullopt;
  const HANDLE waits[] = {ready.Get(), process->Handle()};
  if (WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process->Handle(), 1);
    return std::nullopt;
  }
  const auto readyAt = Clock::now();
  return BaselineProcess(std::move(*process), std::move(quit), readyAt);
}

BaselineProcess::~BaselineProcess() {
  if (!m_quit) return;  // moved from
  SetEvent(m_quit.Get());
  if (!m_process.WaitForExit(10000)) TerminateProcess(m_process.Handle(), 1);
}

bool WaitUntilNoServerRuns() {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (test::ServerProcessCount() != 0) {
    if (Clock::now() > deadline) return false;
    Sleep(10);
  }
  return true;
}

}  // namespace qel::bench
