// Whose registration is it: the file the class's LocalServer32 names, compared
// with this executable, so that removing one copy leaves another copy's
// registration alone.
#pragma once

#include <optional>
#include <string>

#include "server/registration/registration.h"

namespace qel::com {

// The executable the class's LocalServer32 names in `scope`, when it names
// another file than this one: by the file's identity, whatever path names it
// (by its full path, case-insensitively, when it cannot be opened). Nothing
// when it names this executable or when there is no such entry.
std::optional<std::wstring> RegisteredToAnotherServer(RegistrationScope scope);

}  // namespace qel::com
