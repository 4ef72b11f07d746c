#include "tests/com/fault_server_watch.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

namespace qel::test {
namespace {

std::vector<DWORD> ServerProcessIds() {
  std::vector<DWORD> ids;
  const com::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (CompareStringOrdinal(entry.szExeFile, -1, L"QELUpdateCheck1_1.exe", -1, TRUE) ==
        CSTR_EQUAL) {
      ids.push_back(entry.th32ProcessID);
    }
  }
  return ids;
}

size_t ThreadCount(DWORD processId) {
  const com::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  size_t count = 0;
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
       more = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == processId) ++count;
  }
  return count;
}

}  // namespace

std::optional<ServerWatch> ServerWatch::Attach() {
  const auto ids = ServerProcessIds();
  if (ids.size() != 1) return std::nullopt;
  com::UniqueHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, ids[0]));
  if (!process) return std::nullopt;
  return ServerWatch(ids[0], std::move(process));
}

ServerFootprint ServerWatch::Footprint() const {
  ServerFootprint footprint;
  GetProcessHandleCount(m_process.Get(), &footprint.handles);
  footprint.threads = ThreadCount(m_id);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof(memory);
  if (GetProcessMemoryInfo(m_process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof(memory))) {
    footprint.privateBytes = memory.PrivateUsage;
    footprint.workingSet = memory.WorkingSetSize;
  }
  return footprint;
}

bool ServerWatch::Running() const {
  return WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
}

}  // namespace qel::test
