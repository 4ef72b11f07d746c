#include "com/security_descriptor.h"

#include <sddl.h>

#include <utility>

#include "com/unique_handle.h"

namespace qel::com {
namespace {

HRESULT LastError() { return HRESULT_FROM_WIN32(GetLastError()); }

// A part's buffer, or null for a part the descriptor lacks.
BYTE* Part(std::vector<BYTE>& bytes) { return bytes.empty() ? nullptr : bytes.data(); }

}  // namespace

HRESULT SelfRelativeFromSddl(const std::wstring& sddl, std::vector<BYTE>& bytes) noexcept {
  try {
    LocalMemory descriptor;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1,
            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Put()), &size)) {
      return LastError();
    }
    const BYTE* begin = static_cast<const BYTE*>(descriptor.Get());
    bytes.assign(begin, begin + size);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT AbsoluteSecurityDescriptor::FromSddl(const std::wstring& sddl,
                                             AbsoluteSecurityDescriptor& descriptor) noexcept {
  try {
    std::vector<BYTE> selfRelative;
    const HRESULT hr = SelfRelativeFromSddl(sddl, selfRelative);
    if (FAILED(hr)) return hr;
    AbsoluteSecurityDescriptor made;
    DWORD size = sizeof(made.m_descriptor), dacl = 0, sacl = 0, owner = 0, group = 0;
    // The first call only measures the parts.
    MakeAbsoluteSD(selfRelative.data(), &made.m_descriptor, &size, nullptr, &dacl, nullptr, &sacl,
                   nullptr, &owner, nullptr, &group);
    made.m_dacl.resize(dacl);
    made.m_sacl.resize(sacl);
    made.m_owner.resize(owner);
    made.m_group.resize(group);
    if (!MakeAbsoluteSD(selfRelative.data(), &made.m_descriptor, &size,
                        reinterpret_cast<PACL>(Part(made.m_dacl)), &dacl,
                        reinterpret_cast<PACL>(Part(made.m_sacl)), &sacl, Part(made.m_owner),
                        &owner, Part(made.m_group), &group)) {
      return LastError();
    }
    descriptor = std::move(made);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ProcessUserSid(std::vector<BYTE>& sid) noexcept {
  try {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return LastError();
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (user.empty() || !GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size))
      return LastError();
    const PSID userSid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    sid.resize(GetLengthSid(userSid));
    if (!CopySid(static_cast<DWORD>(sid.size()), sid.data(), userSid)) return LastError();
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

std::wstring SidText(PSID sid) {
  LocalMemory text;
  if (!ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.Put()))) return {};
  return static_cast<const wchar_t*>(text.Get());
}

}  // namespace qel::com
