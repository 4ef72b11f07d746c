// Lets one thread give up a download that another runs. The download's
// blocking WinINet calls pass through the gate; a download given up in the
// middle of one has its handles closed under it, which makes WinINet end the
// call, and from then on the handles are no longer the download's to touch.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <mutex>

namespace qel {

// True where closing a request handle reads out the rest of its response
// first (Wine's WinINet does, for a body with a declared length or chunked,
// and for ever if the body never ends). There a download that stops early
// lets go of its handles without closing them: the connection then stalls
// instead of spinning, and goes with the process.
bool CloseReadsOutTheBody();

class DownloadGate {
 public:
  // The download's side, around each blocking call on these handles: Enter
  // answers false once the download is given up; Leave answers true when the
  // handles were closed under the call.
  bool Enter(HINTERNET root, HINTERNET url);
  bool Leave();
  bool GivenUp() const;

  // Any other thread; returns at once. The closing runs on a thread of its
  // own; where closing reads out the body, nothing is closed and the call
  // under way ends at its own time.
  void GiveUp() noexcept;

 private:
  mutable std::mutex m_mutex;
  bool m_bGivenUp = false;
  bool m_bInCall = false;
  bool m_bTaken = false;
  HINTERNET m_hRoot = nullptr;
  HINTERNET m_hURL = nullptr;
};

}  // namespace qel
