#include "retrieval/download_gate.h"

#include <thread>
#include <utility>

namespace qel {

bool CloseReadsOutTheBody() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

bool DownloadGate::Enter(HINTERNET root, HINTERNET url) {
  const std::lock_guard lock(m_mutex);
  if (m_bGivenUp) return false;
  m_bInCall = true;
  m_hRoot = root;
  m_hURL = url;
  return true;
}

bool DownloadGate::Leave() {
  const std::lock_guard lock(m_mutex);
  m_bInCall = false;
  return m_bTaken;
}

bool DownloadGate::GivenUp() const {
  const std::lock_guard lock(m_mutex);
  return m_bGivenUp;
}

void DownloadGate::StartDetached(std::function<void()> work) {
  std::thread(std::move(work)).detach();
}

void DownloadGate::GiveUp() noexcept {
  const std::lock_guard lock(m_mutex);
  if (m_bGivenUp) return;
  m_bGivenUp = true;
  // Between calls the download sees the flag before its next call and
  // closes its own handles.
  if (!m_bInCall || CloseReadsOutTheBody()) return;
  const HINTERNET root = m_hRoot;
  const HINTERNET url = m_hURL;
  // The closer is started under the lock, so that the download, which
  // leaves its call under the same lock, learns for certain whether its
  // handles are still its own.
  try {
    m_start([root, url] {
      if (url != nullptr) InternetCloseHandle(url);
      if (root != nullptr) InternetCloseHandle(root);
    });
    m_bTaken = true;
  } catch (...) {
    // No thread: the handles stay the download's, and the call ends at its
    // own time-out.
  }
}

}  // namespace qel
