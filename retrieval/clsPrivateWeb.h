// The request job: accepts one URL at a time, downloads it after its caller
// has returned, and reports the outcome with DataCollected.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/events.h"
#include "retrieval/clsBusy.h"
#include "trigger/clsTrigger.h"

namespace qel {

class clsPrivateWeb : public std::enable_shared_from_this<clsPrivateWeb> {
 public:
  static constexpr int32_t kAccepted = 0;
  static constexpr int32_t kBusy = -1;
  static constexpr int32_t kNotArmed = -2;

  static std::shared_ptr<clsPrivateWeb> Create();

  bool IsActive();
  int32_t GetURL(std::u16string strURL);
  // The running task's name; for diagnostics and tests.
  std::u16string TaskName();

  Event<int32_t, std::u16string> DataCollected;

 private:
  clsPrivateWeb() = default;
  void Class_Initialize();
  clsBusy& Busy();
  void m_cTrigger_Trigger();

  std::u16string m_strURL;
  std::unique_ptr<clsBusy> m_cBusy;
  WithEvents<clsTrigger> m_cTrigger;
};

}  // namespace qel
