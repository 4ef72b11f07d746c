// In-process check latency: from StartCheck returning to UpdateCheckComplete
// arriving, with the thread's message loop running, for a 1 KiB version file
// on the loopback server. The baseline is the 10 ms the check waits before it
// downloads, plus one plain libcurl fetch of the same URL in the same run.
#include <cstddef>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/raw_fetch.h"
#include "bench/version_file_1k.h"
#include "common/events.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tests/support/loopback_server.h"
#include "trigger/message_loop.h"

namespace {

using qel::bench::Clock;

constexpr int kWarmUp = 3;
constexpr int kChecks = 60;
constexpr double kTriggerDelayMs = 10.0;
constexpr double kTargetRatio = 1.3;

}  // namespace

int main() {
  try {
    qel::bench::PrintHeader("check latency: StartCheck returning to UpdateCheckComplete");
    qel::test::LoopbackServer server;
    const std::string url = server.Url("/version.txt");
    server.Put("/version.txt", qel::bench::VersionFile1K(url));

    const auto check = qel::UpdateCheck::Create();
    std::optional<Clock::time_point> completedAt;
    int32_t lastError = 0;
    const qel::Connection binding =
        check->UpdateCheckComplete.Bind([&](int32_t lErrorNumber, std::u16string) {
          completedAt = Clock::now();
          lastError = lErrorNumber;
        });

    std::vector<double> checks;
    std::vector<double> fetches;
    for (int i = -kWarmUp; i < kChecks; ++i) {
      completedAt.reset();
      check->StartCheck(qel::Utf8ToText(url));
      const auto started = Clock::now();
      if (!qel::PumpMessagesUntil([&] { return completedAt.has_value(); },
                                  std::chrono::seconds(10)) ||
          lastError != 0) {
        std::fprintf(stderr, "check %d did not complete cleanly (error %d)\n", i, lastError);
        return 1;
      }
      const double checkMs = qel::bench::Milliseconds(*completedAt - started);

      const auto before = Clock::now();
      const std::string body = qel::bench::RawFetch(url);
      const double fetchMs = qel::bench::Milliseconds(Clock::now() - before);
      if (body.size() != qel::bench::kVersionFileBytes) {
        std::fprintf(stderr, "the raw fetch got %zu bytes\n", body.size());
        return 1;
      }
      if (i >= 0) {
        checks.push_back(checkMs);
        fetches.push_back(fetchMs);
      }
    }

    qel::bench::PrintLatency(checks, fetches, "raw libcurl fetch", kTriggerDelayMs, kTargetRatio);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_check_latency failed: %s\n", error.what());
    return 1;
  }
}
