// Who may call the server, set before anything is marshalled: its own user
// and SYSTEM, from this machine only, every call encrypted; the server's own
// calls to hosts' sinks let a host identify it, never act as it.
#pragma once

#include <windows.h>

#include <string>

#include "com/security_descriptor.h"

namespace qel::com {

// The descriptor's text for a server that runs as `userSid` (S-1-5-...):
// that user owns it, and it and SYSTEM are granted local calls.
std::wstring CallAccessSddl(const std::wstring& userSid);

// The descriptor for the user this process runs as.
HRESULT CallAccessDescriptor(AbsoluteSecurityDescriptor& descriptor) noexcept;

// CoInitializeSecurity with that descriptor. On failure the server must not
// serve: COM would apply the machine's defaults instead.
HRESULT InitializeCallSecurity() noexcept;

}  // namespace qel::com
