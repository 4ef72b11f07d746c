// Running the calling thread's message loop, as hosts and tests do while they
// wait for the component's events.
#pragma once

#include <chrono>
#include <functional>

namespace qel {

// Dispatches the thread's messages until `done` returns true (checked after
// every dispatch) or `timeout` has passed. Returns done()'s last answer.
// Blocks between messages; never spins.
bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Dispatches the thread's messages for `duration`.
void PumpMessagesFor(std::chrono::milliseconds duration);

}  // namespace qel
