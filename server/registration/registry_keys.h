// Writing and removing registry keys in one registry view, for registration.
#pragma once

#include <windows.h>

#include <string>

#include "common/unique_resource.h"

namespace qel::com {

using RegistryKeyHandle = UniqueResource<HKEY, &RegCloseKey>;

// Sets one value, making the key and its missing parents.
HRESULT SetValueInView(HKEY root, REGSAM view, const std::wstring& key, const std::wstring& name,
                       DWORD type, const void* data, DWORD size);

// Deletes a key and everything below it; a missing key is no failure.
HRESULT DeleteTreeInView(HKEY root, REGSAM view, const std::wstring& key);

// Deletes the key if nothing is left in it, so that no empty key stays.
void DeleteIfEmpty(HKEY root, REGSAM view, const std::wstring& key);

bool KeyExistsInView(HKEY root, REGSAM view, const std::wstring& key);

}  // namespace qel::com
