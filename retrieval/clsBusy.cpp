#include "retrieval/clsBusy.h"

namespace qel {

void clsBusy::IdleMessage(std::u16string strIdleMessage) {
  m_vIdleMessage = std::move(strIdleMessage);
  if (!m_bBusy) m_strTaskName = m_vIdleMessage;
}

bool clsBusy::StartTask(std::u16string strTask) {
  if (m_bBusy) return false;
  m_bBusy = true;
  m_strTaskName = std::move(strTask);
  return true;
}

void clsBusy::EndTask() {
  m_bBusy = false;
  m_strTaskName = u"Idle";
}

}  // namespace qel
