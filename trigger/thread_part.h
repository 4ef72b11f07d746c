// What a layer above the trigger keeps in the thread's slot (modTimer),
// beside the dispatcher and the mailbox, without the trigger knowing what it
// is: the download threads, for one. It ends with the thread.
#pragma once

namespace qel {

class ThreadPart {
 public:
  // How the thread's slot ends: by modTimer::EndThread, which the thread
  // calls outside any loader lock; or, natively, with the thread itself,
  // which may be the process ending.
  enum class Ending { kEndThread, kThreadExit };

  ThreadPart() = default;
  ThreadPart(const ThreadPart&) = delete;
  ThreadPart& operator=(const ThreadPart&) = delete;
  virtual ~ThreadPart() = default;

  // Once, on its thread.
  virtual void End(Ending ending) noexcept = 0;
};

}  // namespace qel
