#include "server/registration/registration_fault.h"

namespace qel::com {

HRESULT FaultAfterClassEntries() noexcept { return S_OK; }

}  // namespace qel::com
