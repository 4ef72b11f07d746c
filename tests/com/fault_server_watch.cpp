#include "tests/com/fault_server_watch.h"

#include <psapi.h>
#include <tlhelp32.h>

#include "tests/com/com_test_support.h"

#include <vector>

namespace qel::test {
namespace {

std::vector<DWORD> ThreadIdsOf(DWORD processId) {
  std::vector<DWORD> ids;
  const com::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
       more = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == processId) ids.push_back(entry.th32ThreadID);
  }
  return ids;
}

}  // namespace

std::optional<ServerWatch> ServerWatch::Attach(const wchar_t* exeName) {
  const auto ids = ServerProcessIds(exeName ? exeName : kServerExeName);
  if (ids.size() != 1) return std::nullopt;
  com::UniqueHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, ids[0]));
  if (!process) return std::nullopt;
  return ServerWatch(ids[0], std::move(process));
}

ServerFootprint ServerWatch::Footprint() const {
  ServerFootprint footprint;
  GetProcessHandleCount(m_process.Get(), &footprint.handles);
  footprint.threads = ThreadIdsOf(m_id).size();
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(m_process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof(memory))) {
    footprint.privateBytes = memory.PrivateUsage;
    footprint.workingSet = memory.WorkingSetSize;
  }
  return footprint;
}

std::vector<DWORD> ServerWatch::ThreadIds() const { return ThreadIdsOf(m_id); }

bool ServerWatch::Running() const {
  return WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
}

}  // namespace qel::test
