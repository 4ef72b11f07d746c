// Who may call the server and who may start it, as Windows will check it.
// Wine's CoInitializeSecurity checks nothing and Wine never reads an AppID's
// launch permission, so the descriptors are checked here on their own: entry
// by entry, and through AccessCheck, which is how COM checks a caller.

#include <windows.h>

#include <objbase.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "com/security_descriptor.h"
#include "com/unique_handle.h"
#include "server/process/call_security.h"
#include "server/registration/registration_entries.h"

namespace qel::test {
namespace {

using com::UniqueHandle;

struct Entry {
  std::wstring sid;
  ACCESS_MASK mask;
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Entry& entry) {
  return out << std::string(entry.sid.begin(), entry.sid.end()) << " 0x" << std::hex << entry.mask;
}

// The DACL's entries, each an allowing one, or the test fails.
std::vector<Entry> AllowedEntries(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  std::vector<Entry> entries;
  EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  EXPECT_TRUE(present && dacl) << "no DACL: anyone could call";
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    EXPECT_TRUE(GetAce(dacl, i, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << "entry " << i;
    entries.push_back({com::SidText(const_cast<DWORD*>(&allowed->SidStart)), allowed->Mask});
  }
  return entries;
}

std::wstring ProcessUserText() {
  std::vector<BYTE> user;
  EXPECT_EQ(com::ProcessUserSid(user), S_OK);
  return user.empty() ? std::wstring() : com::SidText(user.data());
}

TEST(CallSecurity, OwnerGroupAndEntriesOfTheCallDescriptor) {
  constexpr ACCESS_MASK kLocalCall = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL;
  const std::wstring user = ProcessUserText();
  ASSERT_FALSE(user.empty());
  const struct {
    const char* server;
    std::wstring user;
    std::vector<Entry> entries;
  } cases[] = {
      {"started by this user", user, {{user, kLocalCall}, {L"S-1-5-18", kLocalCall}}},
      {"started as SYSTEM (by a service's host)", L"S-1-5-18", {{L"S-1-5-18", kLocalCall}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    com::AbsoluteSecurityDescriptor descriptor;
    // What the server passes to CoInitializeSecurity, for the user it runs as.
    ASSERT_EQ(c.user == user ? com::CallAccessDescriptor(descriptor)
                             : com::AbsoluteSecurityDescriptor::FromSddl(
                                   com::CallAccessSddl(c.user), descriptor),
              S_OK);
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor.Get()));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
    EXPECT_EQ(control & SE_SELF_RELATIVE, 0) << "CoInitializeSecurity takes an absolute one";
    PSID owner = nullptr, group = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted));
    ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor.Get(), &group, &defaulted));
    EXPECT_EQ(owner ? com::SidText(owner) : L"<none>", c.user);
    EXPECT_EQ(group ? com::SidText(group) : L"<none>", c.user);
    PACL sacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor.Get(), &present, &sacl, &defaulted));
    EXPECT_FALSE(present) << "CoInitializeSecurity takes no system ACL";
    EXPECT_EQ(AllowedEntries(descriptor.Get()), c.entries);
  }
}

// This user's token as COM impersonates a caller for AccessCheck, with the
// groups named for deny only: a caller who is not in them.
UniqueHandle CallerToken(std::vector<const wchar_t*> denyOnly = {}) {
  UniqueHandle process, token, restricted;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.Put()));
  EXPECT_TRUE(DuplicateTokenEx(process.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityIdentification,
                               TokenImpersonation, token.Put()));
  if (denyOnly.empty()) return token;
  std::vector<com::LocalMemory> sids(denyOnly.size());
  std::vector<SID_AND_ATTRIBUTES> disabled;
  for (size_t i = 0; i < denyOnly.size(); ++i) {
    EXPECT_TRUE(ConvertStringSidToSidW(denyOnly[i], sids[i].Put()));
    disabled.push_back({sids[i].Get(), 0});
  }
  EXPECT_TRUE(CreateRestrictedToken(token.Get(), 0, static_cast<DWORD>(disabled.size()),
                                    disabled.data(), 0, nullptr, 0, nullptr, restricted.Put()));
  return restricted;
}

bool Granted(PSECURITY_DESCRIPTOR descriptor, HANDLE token, ACCESS_MASK desired) {
  GENERIC_MAPPING mapping{COM_RIGHTS_EXECUTE, COM_RIGHTS_EXECUTE, COM_RIGHTS_EXECUTE,
                          COM_RIGHTS_EXECUTE};
  BYTE privileges[256] = {};
  DWORD privilegesSize = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  EXPECT_TRUE(AccessCheck(descriptor, token, desired, &mapping,
                          reinterpret_cast<PPRIVILEGE_SET>(privileges), &privilegesSize, &granted,
                          &status))
      << GetLastError();
  return status && granted == desired;
}

// COM asks a local call for COM_RIGHTS_EXECUTE_LOCAL and a call from another
// machine, whoever makes it, for COM_RIGHTS_EXECUTE_REMOTE; a launch or an
// activation also for its local or remote right. (Wine can make no token
// that holds the NETWORK group; see docs/maintainers.md.)
TEST(CallSecurity, AccessCheckGrantsLocalCallsAndLaunchesOnly) {
  com::AbsoluteSecurityDescriptor call, localService;
  ASSERT_EQ(com::CallAccessDescriptor(call), S_OK);
  // A server started by a host that runs as LOCAL SERVICE.
  ASSERT_EQ(
      com::AbsoluteSecurityDescriptor::FromSddl(com::CallAccessSddl(L"S-1-5-19"), localService),
      S_OK);
  std::vector<com::RegistryEntry> appId;
  ASSERT_EQ(com::AppIdEntries(appId), S_OK);
  // The launch permission as registration writes it.
  std::vector<BYTE> launch;
  for (const com::RegistryEntry& entry : appId)
    if (entry.name == L"LaunchPermission") launch = std::get<std::vector<BYTE>>(entry.value);
  ASSERT_FALSE(launch.empty());

  // This user, elevated: Administrators, INTERACTIVE, Authenticated Users,
  // Everyone and the rest.
  const UniqueHandle user = CallerToken();
  // Not elevated: Administrators for deny only.
  const UniqueHandle filtered = CallerToken({L"S-1-5-32-544"});
  // Not logged on here (a service's or a scheduled task's host).
  const UniqueHandle notInteractive = CallerToken({L"S-1-5-4"});
  // Neither logged on here nor authenticated.
  const UniqueHandle unauthenticated = CallerToken({L"S-1-5-4", L"S-1-5-11"});
  constexpr ACCESS_MASK kCall = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL;
  constexpr ACCESS_MASK kRemoteCall = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_REMOTE;
  constexpr ACCESS_MASK kLaunch = kCall | COM_RIGHTS_ACTIVATE_LOCAL;
  constexpr ACCESS_MASK kRemoteLaunch = kRemoteCall | COM_RIGHTS_ACTIVATE_REMOTE;
  const struct {
    const char* what;
    PSECURITY_DESCRIPTOR descriptor;
    HANDLE token;
    ACCESS_MASK desired;
    bool granted;
  } cases[] = {
      {"the server's user calls, elevated", call.Get(), user.Get(), kCall, true},
      {"the server's user calls, not elevated", call.Get(), filtered.Get(), kCall, true},
      {"the server's user calls from another machine", call.Get(), user.Get(), kRemoteCall, false},
      {"another user calls, whatever its groups", localService.Get(), user.Get(), kCall, false},
      {"a user logged on here starts it", launch.data(), user.Get(), kLaunch, true},
      {"a service's host starts it", launch.data(), notInteractive.Get(), kLaunch, true},
      {"an unauthenticated caller starts it", launch.data(), unauthenticated.Get(), kLaunch, false},
      {"the user starts it from another machine", launch.data(), user.Get(), kRemoteLaunch, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Granted(c.descriptor, c.token, c.desired), c.granted) << c.what;
  }
}

}  // namespace
}  // namespace qel::test
