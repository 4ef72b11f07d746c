// The type library embedded in the server's executable.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

#include "server/com_ptr.h"

namespace qel::com {

// The full path of the running executable.
std::wstring ModulePath();

// Loads the executable's own type library without registering anything.
HRESULT LoadServerTypeLibrary(ComPtr<ITypeLib>& library) noexcept;

}  // namespace qel::com
