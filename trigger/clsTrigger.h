// A one-shot trigger: Start arms it, and Trigger follows once, later, from the
// thread's message dispatch.
#pragma once

#include <cstdint>
#include <memory>

#include "common/events.h"
#include "trigger/clsTriggerSync.h"

namespace qel {

class clsTrigger : public std::enable_shared_from_this<clsTrigger> {
 public:
  static std::shared_ptr<clsTrigger> Create();
  ~clsTrigger();

  // True when a timer is now armed for lTime milliseconds.
  bool Start(int32_t lTime);

  Event<> Trigger;

 private:
  clsTrigger() = default;
  void Class_Initialize();
  void m_cTriggerSync_Timer(int32_t lID);

  WithEvents<clsTriggerSync> m_cTriggerSync;
  int32_t m_lTimerID = 0;
};

}  // namespace qel
