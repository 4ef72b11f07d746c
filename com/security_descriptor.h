// Security descriptors made from their SDDL text: self-relative, as the
// registry holds one, or absolute, as CoInitializeSecurity takes one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_resource.h"

namespace qel::com {

// What the SDDL and SID text conversions hand out.
using LocalMemory = UniqueResource<HLOCAL, &LocalFree>;

// The self-relative descriptor `sddl` describes.
HRESULT SelfRelativeFromSddl(const std::wstring& sddl, std::vector<BYTE>& bytes) noexcept;

// An absolute descriptor that owns its owner, group and lists. It moves, and
// its parts stay where they are; a copy would share them, so there is none.
class AbsoluteSecurityDescriptor {
 public:
  AbsoluteSecurityDescriptor() = default;
  AbsoluteSecurityDescriptor(AbsoluteSecurityDescriptor&&) = default;
  AbsoluteSecurityDescriptor& operator=(AbsoluteSecurityDescriptor&&) = default;
  AbsoluteSecurityDescriptor(const AbsoluteSecurityDescriptor&) = delete;
  AbsoluteSecurityDescriptor& operator=(const AbsoluteSecurityDescriptor&) = delete;

  static HRESULT FromSddl(const std::wstring& sddl,
                          AbsoluteSecurityDescriptor& descriptor) noexcept;

  PSECURITY_DESCRIPTOR Get() noexcept { return &m_descriptor; }

 private:
  SECURITY_DESCRIPTOR m_descriptor{};
  std::vector<BYTE> m_dacl, m_sacl, m_owner, m_group;
};

// The user this process runs as: a copy of its token's user SID.
HRESULT ProcessUserSid(std::vector<BYTE>& sid) noexcept;

// A SID's text form (S-1-5-...); empty on failure.
std::wstring SidText(PSID sid);

}  // namespace qel::com
