// A point between the class's entries and the type library's, where a
// registration can be made to fail half-way. The shipped server links
// registration_fault.cpp, where it never fails; the suites' test build of the
// server links its own (tests/com/test_registration_fault.cpp).
#pragma once

#include <windows.h>

namespace qel::com {

HRESULT FaultAfterClassEntries() noexcept;

}  // namespace qel::com
