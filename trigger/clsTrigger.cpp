#include "trigger/clsTrigger.h"

#include "trigger/modTimer.h"

namespace qel {

std::shared_ptr<clsTrigger> clsTrigger::Create() {
  std::shared_ptr<clsTrigger> trigger(new clsTrigger());
  trigger->Class_Initialize();
  return trigger;
}

void clsTrigger::Class_Initialize() {
  m_lTimerID = 0;
  auto sync = modTimer::TriggerSync();
  std::vector<Connection> bindings;
  bindings.push_back(sync->Timer.Bind(weak_from_this(), &clsTrigger::m_cTriggerSync_Timer));
  m_cTriggerSync.Set(std::move(sync), std::move(bindings));
}

clsTrigger::~clsTrigger() {
  if (m_lTimerID != 0) modTimer::StopTimer(m_lTimerID);
}

bool clsTrigger::Start(int32_t lTime) {
  const auto self = shared_from_this();
  if (m_lTimerID != 0) modTimer::StopTimer(m_lTimerID);
  m_lTimerID = modTimer::StartTimer(lTime);
  return m_lTimerID != 0;
}

void clsTrigger::m_cTriggerSync_Timer(int32_t lID) {
  if (lID != m_lTimerID) return;
  // Stopped and cleared before the event: the repeating timer yields one
  // Trigger, and a handler that re-arms finds no timer held.
  modTimer::StopTimer(m_lTimerID);
  m_lTimerID = 0;
  Trigger.Raise();
}

}  // namespace qel
