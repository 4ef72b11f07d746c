// Small helpers shared by the suites.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace qel::test {

// Runs the thread's message loop until `done` or the time-out; true if done.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace qel::test

namespace qel::test {

// A valid version file for `url`: version 2.0.15, a two-line history.
std::string VersionFile(const std::string& url, const std::string& major = "2",
                        const std::string& minor = "0", const std::string& build = "15");
inline constexpr char16_t kUpdateText[] = u"http://example.invalid/new";
inline constexpr char16_t kHistoryText[] = u"History line 1\r\nHistory line 2\r\n";

}  // namespace qel::test
