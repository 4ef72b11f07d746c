// The entries that make UpdateCheck creatable: its class, its programmatic
// names and its type library, for the whole machine or for the current user.
#pragma once

#include <windows.h>

#include <string>

#include "server/registration/registration_entries.h"

namespace qel::com {

enum class RegistrationScope { Machine, User };

// Writes every entry. On failure the keys are as they were: what it replaced
// (another copy's registration, say) is put back.
HRESULT RegisterServer(RegistrationScope scope) noexcept;

// Removes every key of the entries; keys already missing are no failure.
// When the class's LocalServer32 names another file (another copy, registered
// after this one), nothing is removed: S_FALSE, with that executable's path
// in `registeredElsewhere` if given.
HRESULT UnregisterServer(RegistrationScope scope,
                         std::wstring* registeredElsewhere = nullptr) noexcept;

}  // namespace qel::com
