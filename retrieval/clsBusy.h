// Whether a task is under way, and its name.
#pragma once

#include <string>

namespace qel {

class clsBusy {
 public:
  void IdleMessage(std::u16string strIdleMessage);
  std::u16string IdleMessage() const { return m_vIdleMessage; }
  bool Busy() const { return m_bBusy; }
  std::u16string TaskName() const { return m_strTaskName; }
  bool StartTask(std::u16string strTask);
  void EndTask();

 private:
  std::u16string m_vIdleMessage = u"Idle";
  bool m_bBusy = false;
  std::u16string m_strTaskName;
};

}  // namespace qel
