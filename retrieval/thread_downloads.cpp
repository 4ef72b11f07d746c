#include "retrieval/thread_downloads.h"

#include <chrono>

#include "trigger/modTimer.h"
#include "trigger/thread_part.h"

namespace qel {
namespace {

struct DownloadsPart final : ThreadPart {
  // Finished download threads are joined, and natively those given up get a
  // grace at the thread's own end, so that none is still ending when the
  // process does.
  void End(Ending ending) noexcept override {
    threads.Close(true, ending == Ending::kThreadExit ? DownloadThreads::kGrace
                                                      : std::chrono::milliseconds(0));
  }

  DownloadThreads threads;
};

}  // namespace

std::shared_ptr<DownloadThreads> ThreadDownloads() {
  const auto part = modTimer::Part<DownloadsPart>();
  return {part, &part->threads};
}

}  // namespace qel
