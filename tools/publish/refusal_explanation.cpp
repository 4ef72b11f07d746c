#include "tools/publish/refusal_explanation.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <optional>
#include <utility>

#include "common/error.h"
#include "common/text.h"
#include "retrieval/check_limits.h"
#include "retrieval/download_worker.h"
#include "retrieval/exact_ansi.h"
#include "tools/publish/version_lint.h"
#include "tools/system_message.h"
#include "trigger/message_loop.h"

namespace qel::tool {

Fetched FetchAgain(const std::u16string& url, std::chrono::steady_clock::time_point deadline) {
  Fetched fetched;
  const auto left =
      std::chrono::floor<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left < kLeastFetchTime) {
    fetched.skipped = true;
    return fetched;
  }
  // A check's own limits, or what is left of the run if that is less.
  const CheckLimits limits = CheckLimits::Within(left);
  std::optional<DownloadWorker::Outcome> outcome;
  std::shared_ptr<DownloadWorker> worker;
  try {
    worker = DownloadWorker::Start(
        url, modInternetFunctions::kRequestFlags, limits.wait,
        [&outcome](DownloadWorker::Outcome done) { outcome = std::move(done); }, true);
    PumpMessagesUntil([&outcome] { return outcome.has_value(); }, limits.download);
  } catch (...) {
    fetched.error = NumberOf(std::current_exception());
  }
  if (!outcome) {
    // As a check's deadline ends it: given up, and nobody waits for it.
    if (worker) worker->Abandon();
    if (fetched.error == 0) fetched.error = ERROR_INTERNET_TIMEOUT;
    return fetched;
  }
  if (outcome->error) {
    fetched.error = NumberOf(outcome->error);
    return fetched;
  }
  fetched.error = outcome->result;
  fetched.status = std::move(outcome->status);
  fetched.text = std::move(outcome->text);
  return fetched;
}

std::string StatusLine(uint32_t status, std::u16string_view serverText) {
  static constexpr std::pair<uint32_t, const char*> kReasons[] = {
      {200, "OK"},
      {301, "Moved Permanently"},
      {302, "Found"},
      {303, "See Other"},
      {307, "Temporary Redirect"},
      {308, "Permanent Redirect"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {407, "Proxy Authentication Required"},
      {410, "Gone"},
      {500, "Internal Server Error"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  std::string reason = TextToUtf8(serverText);
  for (const auto& [code, text] : kReasons) {
    if (code == status) reason = text;
  }
  return std::to_string(status) + (reason.empty() ? "" : " " + reason);
}

std::vector<std::string> ExplainRefusal(const std::u16string& url, const Fetched& fetched) {
  std::vector<std::string> lines;
  if (fetched.skipped) {
    lines.push_back("the URL was not fetched again: too little of the time-out was left");
    return lines;
  }
  const auto& status = fetched.status;
  if (status.code != 0 && status.code != 200) {
    lines.push_back("the server answered " + StatusLine(status.code, status.reason));
  }
  if (fetched.error != 0) {
    const std::string message = SystemMessage(fetched.error);
    lines.push_back("fetching the URL again failed with error " + std::to_string(fetched.error) +
                    (message.empty() ? "" : ": " + message));
    return lines;
  }
  // The linter reads bytes, as a file holds them: the text gives them back.
  const std::optional<std::string> bytes = ExactAnsi(fetched.text);
  if (!bytes) return lines;
  const LintResult lint = LintVersionFile(*bytes, url);
  if (lint.accepted) {
    lines.push_back("the file fetched again is accepted; it may have changed since the check");
  } else if (lint.error) {
    lines.push_back(lint.error->message + " (" + lint.error->hint + ")");
  }
  return lines;
}

}  // namespace qel::tool
