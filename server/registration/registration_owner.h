// Whose registration is it: the executable the class's LocalServer32 names,
// compared with this one, so that removing one copy leaves another copy's
// registration alone.
#pragma once

#include <optional>
#include <string>

#include "server/registration/registration.h"

namespace qel::com {

// The executable the class's LocalServer32 names in `scope`, when it names
// another file than this one (full paths, compared case-insensitively).
// Nothing when it names this executable or when there is no such entry.
std::optional<std::wstring> RegisteredToAnotherServer(RegistrationScope scope);

}  // namespace qel::com
