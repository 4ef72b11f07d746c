// The entries that make UpdateCheck creatable: its class, its programmatic
// names and its type library, for the whole machine or for the current user.
#pragma once

#include <windows.h>

#include <string>

#include "server/registration/registration_entries.h"

namespace qel::com {

enum class RegistrationScope { Machine, User };

// Writes every entry. On failure nothing stays behind.
HRESULT RegisterServer(RegistrationScope scope) noexcept;

// Removes every entry; entries already missing are no failure. When the
// class's LocalServer32 names another executable (another copy, registered
// after this one), nothing is removed: S_FALSE, with that executable's path
// in `registeredElsewhere` if given.
HRESULT UnregisterServer(RegistrationScope scope,
                         std::wstring* registeredElsewhere = nullptr) noexcept;

}  // namespace qel::com
