// The main thread's message loop: it serves the class object (every
// CreateInstance runs here) until the server decides to end.
#pragma once

#include <chrono>

#include "server/process/idle_exit.h"
#include "server/process/server_lifetime.h"

namespace qel::com {

// Returns once the server has decided to end: at the message that says its
// last hold has gone, or at an idle tick, if nothing holds it then. A hold
// taken before that message is handled calls the end off; a creation after
// the decision is refused with CO_E_SERVER_STOPPING.
void RunServerLoop(ServerLifetime& lifetime,
                   std::chrono::milliseconds idleLimit = IdleExit::kIdleLimit) noexcept;

// After the class object is revoked: answers the calls still queued for
// this thread (creations among them are refused), so that none is left
// without an answer.
void AnswerWhatIsQueued() noexcept;

}  // namespace qel::com
