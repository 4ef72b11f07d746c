#include "retrieval/download_gate.h"

#include <thread>

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

void DownloadGate::GiveUp() noexcept {
  HINTERNET root = nullptr;
  HINTERNET url = nullptr;
  {
    const std::lock_guard lock(m_mutex);
    if (m_bGivenUp) return;
    m_bGivenUp = true;
    // Between calls the download sees the flag before its next call and
    // closes its own handles.
    if (!m_bInCall || CloseReadsOutTheBody()) return;
    m_bTaken = true;
    root = m_hRoot;
    url = m_hURL;
  }
  try {
    std::thread([root, url] {
      if (url != nullptr) InternetCloseHandle(url);
      if (root != nullptr) InternetCloseHandle(root);
    }).detach();
  } catch (...) {
    // No thread: the call ends at its own time-out instead.
    const std::lock_guard lock(m_mutex);
    m_bTaken = false;
  }
}

}  // namespace qel
