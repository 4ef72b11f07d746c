#include "tests/support/test_support.h"

#include "trigger/message_loop.h"

namespace qel::test {

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return PumpMessagesUntil(done, timeout);
}

}  // namespace qel::test

namespace qel::test {

std::string VersionFile(const std::string& url, const std::string& major, const std::string& minor,
                        const std::string& build) {
  return "file=" + url + "\r\nmajor=" + major + "\r\nminor=" + minor + "\r\nbuild=" + build +
         "\r\nupdate=http://example.invalid/new\r\nHistory line 1\r\nHistory line 2\r\n";
}

}  // namespace qel::test
