#include "platform/internet_handles.h"

#include <vector>

namespace qel::platform {
namespace {

uintptr_t Key(HINTERNET handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace

InternetHandleTable& InternetHandleTable::Instance() {
  // Outlives every thread's exit: a download given up may still be closing
  // its handles while the process ends.
  static auto* const table = new InternetHandleTable();
  return *table;
}

HINTERNET InternetHandleTable::Add(InternetObject entry) {
  const std::lock_guard lock(m_mutex);
  if (entry.parent != nullptr && m_handles.count(Key(entry.parent)) == 0) return nullptr;
  const uintptr_t key = m_nextHandle;
  m_nextHandle += 4;
  m_handles.emplace(key, std::move(entry));
  return reinterpret_cast<HINTERNET>(key);
}

std::optional<InternetObject> InternetHandleTable::Find(HINTERNET handle) const {
  const std::lock_guard lock(m_mutex);
  const auto found = m_handles.find(Key(handle));
  if (found == m_handles.end()) return std::nullopt;
  return found->second;
}

bool InternetHandleTable::Close(HINTERNET handle) {
  // Requests are cancelled and released outside the lock: releasing the last
  // reference tears down a curl transfer, and other threads need the table.
  std::vector<InternetObject> closed;
  {
    const std::lock_guard lock(m_mutex);
    const auto found = m_handles.find(Key(handle));
    if (found == m_handles.end()) return false;
    closed.push_back(std::move(found->second));
    m_handles.erase(found);
    for (auto it = m_handles.begin(); it != m_handles.end();) {
      if (it->second.parent == handle) {
        closed.push_back(std::move(it->second));
        it = m_handles.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const InternetObject& entry : closed) {
    if (entry.request) entry.request->Cancel();
  }
  return true;
}

size_t InternetHandleTable::Count() const {
  const std::lock_guard lock(m_mutex);
  return m_handles.size();
}

}  // namespace qel::platform
