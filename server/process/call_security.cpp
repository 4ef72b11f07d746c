#include "server/process/call_security.h"

#include <objbase.h>

#include <vector>

namespace qel::com {

std::wstring CallAccessSddl(const std::wstring& userSid) {
  // COM_RIGHTS_EXECUTE, which COM wants in every entry, and
  // COM_RIGHTS_EXECUTE_LOCAL; nobody is granted COM_RIGHTS_EXECUTE_REMOTE.
  const std::wstring rights = L"CCDC";
  std::wstring sddl =
      L"O:" + userSid + L"G:" + userSid + L"D:(A;;" + rights + L";;;" + userSid + L")";
  // A server that runs as SYSTEM (started by a host that a service runs)
  // needs no second entry.
  if (userSid != L"S-1-5-18") sddl += L"(A;;" + rights + L";;;SY)";
  return sddl;
}

HRESULT CallAccessDescriptor(AbsoluteSecurityDescriptor& descriptor) noexcept {
  try {
    std::vector<BYTE> user;
    const HRESULT hr = ProcessUserSid(user);
    if (FAILED(hr)) return hr;
    const std::wstring userText = SidText(user.data());
    if (userText.empty()) return HRESULT_FROM_WIN32(GetLastError());
    return AbsoluteSecurityDescriptor::FromSddl(CallAccessSddl(userText), descriptor);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT InitializeCallSecurity() noexcept {
  AbsoluteSecurityDescriptor descriptor;
  const HRESULT hr = CallAccessDescriptor(descriptor);
  if (FAILED(hr)) return hr;
  // Packet privacy: a call at a lower level is refused, and hosts' proxies
  // rise to it. Identify: a sink may learn who calls it, not act as it.
  // No custom marshaller a caller names, no activation as this process's
  // identity on a caller's behalf, secured reference counts, and each call
  // made with the identity of the thread that makes it.
  return CoInitializeSecurity(
      descriptor.Get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
      RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
      EOAC_NO_CUSTOM_MARSHAL | EOAC_DISABLE_AAA | EOAC_SECURE_REFS | EOAC_DYNAMIC_CLOAKING,
      nullptr);
}

}  // namespace qel::com
