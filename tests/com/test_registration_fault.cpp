// The test build's registration, in place of
// server/registration/registration_fault.cpp: with QEL_TEST_REGISTRATION_FAULT
// set, /RegServer and /RegServerPerUser fail once the class's entries are
// written (registration_com_test.cpp).
#include "server/registration/registration_fault.h"

namespace qel::com {

HRESULT FaultAfterClassEntries() noexcept {
  return GetEnvironmentVariableW(L"QEL_TEST_REGISTRATION_FAULT", nullptr, 0) > 0
             ? HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)
             : S_OK;
}

}  // namespace qel::com
