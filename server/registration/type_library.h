// The type library embedded in the server's executable.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

#include "com/com_ptr.h"

namespace qel::com {

// The full path of the running executable.
std::wstring ModulePath();

// Where hosts of the given kind load the executable's type library from:
// resource 1 (the executable's own path) for 64-bit hosts, resource 2 (the
// path followed by "\2") for 32-bit ones. Empty when the path is unknown.
std::wstring TypeLibraryPath(SYSKIND syskind);

// Loads the executable's own type library without registering anything.
HRESULT LoadServerTypeLibrary(ComPtr<ITypeLib>& library, SYSKIND syskind = SYS_WIN64) noexcept;

}  // namespace qel::com
