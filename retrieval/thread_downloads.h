// The calling thread's download threads, kept in its slot (modTimer) and made
// on first use. They end with the thread.
#pragma once

#include <memory>

#include "retrieval/download_threads.h"

namespace qel {

std::shared_ptr<DownloadThreads> ThreadDownloads();

}  // namespace qel
