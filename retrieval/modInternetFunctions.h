// Downloading the resource at a URL into text through WinINet.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "retrieval/check_limits.h"

namespace qel {
class DownloadGate;
}

namespace qel::modInternetFunctions {

// Flags the request job passes: always from the server, nothing cached, no
// cookies, no dialogs.
inline constexpr int32_t kRequestFlags = static_cast<int32_t>(0x84080300u);
// A resource larger than this is refused with ERROR_FILE_TOO_LARGE, so that an
// endless response cannot exhaust the server process.
inline constexpr size_t kMaxResourceBytes = 16u * 1024u * 1024u;

// The HTTP status line of a response; a code of 0 when there is none (ftp).
struct ResponseStatus {
  uint32_t code = 0;
  std::u16string reason;
};

// What bounds one download, and how the one who waits for it gives it up.
struct DownloadControl {
  // WinINet's connect, send and receive time-outs, set on the session.
  std::chrono::milliseconds wait = CheckLimits::kWaitLimit;
  // Once given up, the download ends with ERROR_INTERNET_OPERATION_CANCELLED.
  DownloadGate* gate = nullptr;
  // When set, receives the response's status once the whole resource is in.
  ResponseStatus* status = nullptr;
};

// 0 with the whole resource in strData, or the system error code of the
// WinINet call that failed with strData empty. A URL that the ANSI code page
// cannot carry exactly fails with ERROR_INTERNET_INVALID_URL, unsent. An
// error raised meanwhile is raised again unchanged after the handles are
// closed.
int32_t DownloadURL(const std::u16string& strURL, int32_t lFlags, std::u16string& strData,
                    const DownloadControl& control = {});

}  // namespace qel::modInternetFunctions
