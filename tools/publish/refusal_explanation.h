// Why a check ended with uceInvalidFile: the tool fetches the URL once more
// through the component's own download, names an HTTP status other than
// 200, and lints what came back.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/modInternetFunctions.h"

namespace qel::tool {

struct Fetched {
  // 0, or the number the download ended with: ERROR_INTERNET_TIMEOUT when
  // the run's deadline came first.
  int32_t error = 0;
  // Too little of the run's time was left to fetch at all.
  bool skipped = false;
  modInternetFunctions::ResponseStatus status;  // after a whole download only
  std::u16string text;
};

// The least time worth a second fetch.
inline constexpr std::chrono::seconds kLeastFetchTime{1};

// One fetch as a check makes it, with a check's limits, given up at
// `deadline`. Runs this thread's message loop meanwhile.
Fetched FetchAgain(const std::u16string& url, std::chrono::steady_clock::time_point deadline);

// "404 Not Found": the code and its usual reason phrase, else the server's.
std::string StatusLine(uint32_t status, std::u16string_view serverText);

// The explanation, one finding a line.
std::vector<std::string> ExplainRefusal(const std::u16string& url, const Fetched& fetched);

}  // namespace qel::tool
