// Controls and counters of the Linux stand-ins, for tests and tools only. They
// let a test see what the real platform keeps to itself (live timers, open
// handles) and reach failures it cannot provoke on demand.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace qel::platform {

// Thread timers alive in the process (armed and not yet killed).
size_t LiveTimerCount();

// Internet handles handed out and not yet closed, process-wide.
size_t OpenInternetHandleCount();
// The most body bytes any one URL handle has held at once, process-wide, so a
// test can see that memory stays bounded however long the body.
size_t PeakInternetBufferBytes();
// The agent string of the most recent InternetOpenA.
std::string LastInternetAgent();
// Timeouts the stand-in applies (WinINet's defaults unless changed), in ms;
// 0 or less means no limit. URL handles opened afterwards use them: the
// receive time-out bounds each wait for the response's headers or body data.
void SetInternetTimeouts(long connectMs, long receiveMs);
// Called inside InternetReadFile on the calling thread before each read; a
// test uses it to raise an error in the middle of a download. Empty clears it.
// One hook serves the whole process; what it throws leaves InternetReadFile
// unchanged and the handle stays open.
void SetReadHook(std::function<void()> hook);

}  // namespace qel::platform
