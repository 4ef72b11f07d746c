// Reading the registry: the server's own checks at registration and the
// doctor's report share these.
#pragma once

#include <windows.h>

#include <string>

namespace qel::com {

// A key's default value (expanded, if it holds variables); empty when the key
// or value is missing or is not text.
std::wstring RegistryDefaultText(HKEY root, const std::wstring& key);

bool RegistryKeyExists(HKEY root, const std::wstring& key);

// The executable a LocalServer32 command line names: the quoted path; else
// the text up to the first ".exe" that ends a word (the path may hold
// spaces); else the text up to its first switch.
std::wstring ExecutableOfCommand(const std::wstring& command);

}  // namespace qel::com
