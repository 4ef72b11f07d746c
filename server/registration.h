// The entries that make UpdateCheck creatable: its class, its programmatic
// names and its type library, for the whole machine or for the current user.
#pragma once

#include <windows.h>

#include "server/registration_entries.h"

namespace qel::com {

enum class RegistrationScope { Machine, User };

// Writes every entry. On failure nothing stays behind.
HRESULT RegisterServer(RegistrationScope scope) noexcept;

// Removes every entry; entries already missing are no failure.
HRESULT UnregisterServer(RegistrationScope scope) noexcept;

}  // namespace qel::com
