#include "trigger/clsTriggerSync.h"

namespace qel {

std::shared_ptr<clsTriggerSync> clsTriggerSync::Create() {
  return std::shared_ptr<clsTriggerSync>(new clsTriggerSync());
}

void clsTriggerSync::FireTimer(int32_t lID) {
  const auto self = shared_from_this();
  Timer.Raise(lID);
}

}  // namespace qel
