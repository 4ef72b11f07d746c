// Why a check ended with uceInvalidFile: the tool fetches the URL once more
// itself, names an HTTP status other than 200, and lints what came back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qel::tool {

struct Fetched {
  int32_t error = 0;    // 0, or the WinINet or system error of the failed step
  uint32_t status = 0;  // the HTTP status; 0 when there is none (ftp, a failure)
  std::string statusText;
  std::string bytes;
};

// One fetch as the component makes it (agent, flags, the 16 MiB cap).
Fetched FetchAgain(const std::u16string& url, double timeoutSeconds);

// "404 Not Found": the code and its usual reason phrase, else the server's.
std::string StatusLine(uint32_t status, const std::string& serverText);

// The explanation, one finding a line.
std::vector<std::string> ExplainRefusal(const std::u16string& url, const Fetched& fetched);

}  // namespace qel::tool
