// The handles the WinINet stand-in hands out, process-wide. A handle is a
// number, never a pointer, so a made-up or closed one is recognised without
// touching memory, and no number is handed out twice.
#pragma once

#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/internet_request.h"

namespace qel::platform {

// What InternetOpenA sets up; a URL request copies it when it opens. The
// time-outs may change later, from any thread, through InternetSetOptionA.
struct InternetSession {
  std::string agent;
  bool useDirect = false;
  std::atomic<long> connectMs{0};
  std::atomic<long> receiveMs{0};
};

// What one live handle names: a session (root), or a URL request opened from
// one.
struct InternetObject {
  std::shared_ptr<InternetSession> session;
  std::shared_ptr<InternetRequest> request;
  HINTERNET parent = nullptr;
};

class InternetHandleTable {
 public:
  static InternetHandleTable& Instance();

  // A new handle for the entry, or nullptr when its parent is not open.
  HINTERNET Add(InternetObject entry);
  // The entry, or nothing for a handle not handed out or already closed.
  std::optional<InternetObject> Find(HINTERNET handle) const;
  // Closes the handle and those opened from it, cancelling their requests,
  // as WinINet does; false for a handle not handed out or already closed.
  bool Close(HINTERNET handle);
  size_t Count() const;

 private:
  mutable std::mutex m_mutex;
  std::map<uintptr_t, InternetObject> m_handles;
  uintptr_t m_nextHandle = 0xCC0004;
};

}  // namespace qel::platform
