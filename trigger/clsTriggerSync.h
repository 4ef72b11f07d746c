// The thread's timer dispatcher: turns each timer tick into its Timer event,
// which every trigger of the thread hears.
#pragma once

#include <cstdint>
#include <memory>

#include "common/events.h"

namespace qel {

class clsTriggerSync : public std::enable_shared_from_this<clsTriggerSync> {
 public:
  static std::shared_ptr<clsTriggerSync> Create();

  void FireTimer(int32_t lID);

  Event<int32_t> Timer;

 private:
  clsTriggerSync() = default;
};

}  // namespace qel
