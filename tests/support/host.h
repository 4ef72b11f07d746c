// An in-process host of UpdateCheck: its object, and every completion that
// has reached its handler.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/events.h"
#include "service/UpdateCheck.h"

namespace qel::test {

struct Completion {
  int32_t number;
  std::u16string description;
};

struct Host {
  explicit Host(CheckLimits limits = {});
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Runs the message loop until `count` completions have arrived; false if
  // they did not in time.
  bool WaitForEvents(size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  std::shared_ptr<UpdateCheck> check;
  std::vector<Completion> events;
  // Called from the handler, after the completion is recorded.
  std::function<void(int32_t)> onEvent;
  Connection binding;
};

}  // namespace qel::test
