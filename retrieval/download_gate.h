// Lets one thread give up a download that another runs. The download's
// blocking WinINet calls pass through the gate; a download given up in the
// middle of one has its handles closed under it, which makes WinINet end the
// call, and from then on the handles are no longer the download's to touch.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <mutex>

#include "retrieval/internet_handle.h"

namespace qel {

// True where closing a request handle reads out the rest of its response
// first (Wine's WinINet does, for a body with a declared length or chunked,
// and for ever if the body never ends). There a download that stops early
// lets go of its handles without closing them: the connection then stalls
// instead of spinning, and goes with the process.
bool CloseReadsOutTheBody();

class DownloadGate {
 public:
  // Starts the work on a thread of its own, which nobody waits for; raises
  // if no thread can be had. Replaceable so that tests can refuse it.
  using StartThread = void (*)(std::function<void()> work);
  static void StartDetached(std::function<void()> work);

  explicit DownloadGate(StartThread start = &StartDetached) : m_start(start) {}

  // The download's side, around each blocking call on these handles: Enter
  // answers false once the download is given up; Leave answers true when the
  // handles were closed under the call.
  bool Enter(HINTERNET root, HINTERNET url);
  bool Leave();
  bool GivenUp() const;

  // Any other thread; returns at once. The closing runs on a thread of its
  // own; where closing reads out the body, or no thread can be had, nothing
  // is closed and the call under way ends at its own time.
  void GiveUp() noexcept;

 private:
  const StartThread m_start;
  mutable std::mutex m_mutex;
  bool m_bGivenUp = false;
  bool m_bInCall = false;
  bool m_bTaken = false;
  HINTERNET m_hRoot = nullptr;
  HINTERNET m_hURL = nullptr;
};

// One blocking call through the gate (none if `gate` is null). False when
// the download has been given up, before the call or under it: the handles
// passed to the gate are then no longer the download's and are forgotten,
// but a URL handle that the call itself opened after its root was closed
// under it is the download's alone, and is closed.
template <typename Call>
bool GatedCall(DownloadGate* gate, InternetHandle& root, InternetHandle& url, Call call) {
  if (gate == nullptr) {
    call();
    return true;
  }
  const HINTERNET entered = url.Get();
  if (!gate->Enter(root.Get(), entered)) return false;
  call();
  if (!gate->Leave()) return true;
  if (url.Get() == entered) url.Release();
  url.Reset();
  root.Release();
  return false;
}

}  // namespace qel
