// The registry entries the server's switches write and remove (its usage and
// the two-copies case are in tests/scripts/server_registration.sh).

#include <windows.h>

#include <oleauto.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/registry_values.h"
#include "com/security_descriptor.h"
#include "tests/com/com_test_support.h"

namespace qel::test {
namespace {

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{E9631264-9B44-48AB-BB3B-BF40BA1DF84F}";
const wchar_t kProgIdKey[] = L"Software\\Classes\\QELUpdateCheck1_1.UpdateCheck.1";
const wchar_t kIndependentKey[] = L"Software\\Classes\\QELUpdateCheck1_1.UpdateCheck";
const wchar_t kTypeLibKey[] = L"Software\\Classes\\TypeLib\\{44CED971-D167-4345-84DE-C64A3B243389}";
const wchar_t kInterfaceKey[] =
    L"Software\\Classes\\Interface\\{547A2363-289C-4AC8-BD5B-5BA72D9BE7F4}";
const wchar_t kEventsKey[] =
    L"Software\\Classes\\Interface\\{5BC960AA-2605-4A00-B726-FA5E15D80B78}";
const wchar_t kAppIdKey[] = L"Software\\Classes\\AppID\\{48DDA4AD-018C-4538-B6E8-76863638F902}";
const wchar_t kAppIdOfExeKey[] = L"Software\\Classes\\AppID\\QELUpdateCheck1_1.exe";

// A key's value (its default value unless named), or "<missing>".
std::wstring DefaultValue(HKEY root, const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t value[1024] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

bool KeyExists(HKEY root, const wchar_t* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

std::wstring Lower(std::wstring text) {
  CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Every class and name entry, as written for `root`.
void ExpectClassEntries(HKEY root) {
  const std::wstring classKey = kClassKey;
  EXPECT_EQ(Lower(DefaultValue(root, classKey + L"\\LocalServer32")),
            Lower(L"\"" + ServerPath() + L"\""));
  EXPECT_EQ(DefaultValue(root, classKey + L"\\ProgID"), L"QELUpdateCheck1_1.UpdateCheck.1");
  EXPECT_EQ(DefaultValue(root, classKey + L"\\VersionIndependentProgID"),
            L"QELUpdateCheck1_1.UpdateCheck");
  EXPECT_EQ(DefaultValue(root, classKey + L"\\TypeLib"), L"{44CED971-D167-4345-84DE-C64A3B243389}");
  EXPECT_EQ(DefaultValue(root, classKey + L"\\Version"), L"1.0");
  EXPECT_EQ(DefaultValue(root, std::wstring(kProgIdKey) + L"\\CLSID"),
            L"{E9631264-9B44-48AB-BB3B-BF40BA1DF84F}");
  EXPECT_EQ(DefaultValue(root, std::wstring(kIndependentKey) + L"\\CLSID"),
            L"{E9631264-9B44-48AB-BB3B-BF40BA1DF84F}");
  EXPECT_EQ(DefaultValue(root, std::wstring(kIndependentKey) + L"\\CurVer"),
            L"QELUpdateCheck1_1.UpdateCheck.1");
}

// The type library for 64-bit and 32-bit hosts, under its own locale and the
// neutral one, and the interfaces a marshaller finds through it.
void ExpectLibraryEntries(HKEY root) {
  const std::wstring version = std::wstring(kTypeLibKey) + L"\\1.0";
  const std::wstring path = Lower(ServerPath());
  const std::wstring directory = path.substr(0, path.find_last_of(L'\\') + 1);
  const wchar_t kTypeLibMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";
  const wchar_t kDispatchMarshaller[] = L"{00020420-0000-0000-C000-000000000046}";
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } expected[] = {
      {version, nullptr, L"qel update checker v1.1"},
      {version + L"\\FLAGS", nullptr, L"8"},
      {version + L"\\HELPDIR", nullptr, directory},
      {version + L"\\409\\win64", nullptr, path},
      {version + L"\\409\\win32", nullptr, path + L"\\2"},
      {version + L"\\0\\win64", nullptr, path},
      {version + L"\\0\\win32", nullptr, path + L"\\2"},
      {kInterfaceKey, nullptr, L"_updatecheck"},
      {kInterfaceKey + std::wstring(L"\\ProxyStubClsid"), nullptr, Lower(kTypeLibMarshaller)},
      {kInterfaceKey + std::wstring(L"\\ProxyStubClsid32"), nullptr, Lower(kTypeLibMarshaller)},
      {kInterfaceKey + std::wstring(L"\\TypeLib"), nullptr,
       L"{44ced971-d167-4345-84de-c64a3b243389}"},
      {kInterfaceKey + std::wstring(L"\\TypeLib"), L"Version", L"1.0"},
      {kEventsKey, nullptr, L"__updatecheck"},
      {kEventsKey + std::wstring(L"\\ProxyStubClsid32"), nullptr, Lower(kDispatchMarshaller)},
      {kEventsKey + std::wstring(L"\\TypeLib"), L"Version", L"1.0"},
  };
  for (const auto& entry : expected) {
    EXPECT_EQ(Lower(DefaultValue(root, entry.key, entry.name)), entry.value)
        << std::string(entry.key.begin(), entry.key.end());
  }
}

// The launch permission as SDDL; empty when it is missing or not binary.
std::wstring LaunchPermission(HKEY root) {
  BYTE data[1024] = {};
  DWORD size = sizeof(data);
  if (RegGetValueW(root, kAppIdKey, L"LaunchPermission", RRF_RT_REG_BINARY, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  com::LocalMemory text;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          data, SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          reinterpret_cast<LPWSTR*>(text.Put()), nullptr)) {
    return {};
  }
  return static_cast<const wchar_t*>(text.Get());
}

// Machine-wide only: who may start the server (COM reads no AppID per user).
void ExpectAppIdEntries(HKEY root) {
  const bool machine = root == HKEY_LOCAL_MACHINE;
  const wchar_t* appId = machine ? L"{48DDA4AD-018C-4538-B6E8-76863638F902}" : L"<missing>";
  EXPECT_EQ(DefaultValue(root, kClassKey, L"AppID"), appId);
  EXPECT_EQ(DefaultValue(root, kAppIdOfExeKey, L"AppID"), appId);
  EXPECT_EQ(DefaultValue(root, kAppIdKey), machine ? L"QEL Update Checker" : L"<missing>");
  EXPECT_EQ(LaunchPermission(root),
            machine ? L"O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCSW;;;IU)(A;;CCDCSW;;;AU)" : L"");
}

void ExpectNoLibraryEntries(HKEY root) {
  for (const wchar_t* key : {kTypeLibKey, kInterfaceKey, kEventsKey})
    EXPECT_FALSE(KeyExists(root, key)) << "still there: " << std::string(key, key + wcslen(key));
}

// Every key and value below root\key, one line each, as a set to compare.
void Snapshot(HKEY root, const std::wstring& key, std::set<std::wstring>& lines) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
  lines.insert(key);
  std::vector<std::wstring> subKeys;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameSize = 256;
    BYTE data[2048];
    DWORD dataSize = sizeof(data);
    DWORD type = 0;
    const LONG status = RegEnumValueW(handle, i, name, &nameSize, nullptr, &type, data, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    std::wstring line = key + L"|" + std::wstring(name, nameSize) + L"|" + std::to_wstring(type);
    if (status == ERROR_SUCCESS) {
      line.append(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
    }
    lines.insert(line);
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameSize = 256;
    if (RegEnumKeyExW(handle, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    subKeys.emplace_back(name, nameSize);
  }
  RegCloseKey(handle);
  for (const std::wstring& subKey : subKeys) Snapshot(root, key + L"\\" + subKey, lines);
}

std::set<std::wstring> Classes(HKEY root) {
  std::set<std::wstring> lines;
  Snapshot(root, L"Software\\Classes", lines);
  return lines;
}

// The lines only one of two snapshots has: their count and the first.
std::string Differences(const std::set<std::wstring>& before, const std::set<std::wstring>& after) {
  std::vector<std::wstring> changed;
  std::set_symmetric_difference(before.begin(), before.end(), after.begin(), after.end(),
                                std::back_inserter(changed));
  if (changed.empty()) return {};
  return std::to_string(changed.size()) +
         " lines differ, the first: " + std::string(changed[0].begin(), changed[0].end());
}

void ExpectNoClassEntries(HKEY root) {
  for (const wchar_t* key : {kClassKey, kProgIdKey, kIndependentKey, kAppIdKey, kAppIdOfExeKey})
    EXPECT_FALSE(KeyExists(root, key)) << "still there: " << std::string(key, key + wcslen(key));
}

// Puts the machine-wide registration back however a test ends: the suite
// needs it.
struct MachineRegistrationRestorer {
  ~MachineRegistrationRestorer() { EXPECT_EQ(RunServer(L"/RegServer"), 0); }
};

// Whose registration it is, and what the doctor reports, both rest on the
// executable read out of LocalServer32 however it was written.
TEST(Registration, ExecutableOfALocalServerCommand) {
  const struct {
    const wchar_t* command;
    const wchar_t* executable;
  } cases[] = {
      {L"\"C:\\Program Files\\QEL\\QELUpdateCheck1_1.exe\"",
       L"C:\\Program Files\\QEL\\QELUpdateCheck1_1.exe"},
      {L"\"C:\\QEL\\QELUpdateCheck1_1.exe\" /Automation", L"C:\\QEL\\QELUpdateCheck1_1.exe"},
      {L"C:\\QEL\\QELUpdateCheck1_1.exe /Automation", L"C:\\QEL\\QELUpdateCheck1_1.exe"},
      {L"C:\\Program Files\\my-app\\QELUpdateCheck1_1.EXE -Embedding",
       L"C:\\Program Files\\my-app\\QELUpdateCheck1_1.EXE"},
      {L"C:\\QEL\\server.exes\\QELUpdateCheck1_1.exe",
       L"C:\\QEL\\server.exes\\QELUpdateCheck1_1.exe"},
      {L"C:\\QEL\\server /Automation", L"C:\\QEL\\server"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(com::ExecutableOfCommand(c.command), c.executable);
  }
}

TEST(Registration, MachineWideEntriesComeAndGo) {
  const MachineRegistrationRestorer restorer;
  // Written by the suite's set-up, which ran "/RegServer".
  ExpectClassEntries(HKEY_LOCAL_MACHINE);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(L"QELUpdateCheck1_1.UpdateCheck", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_UpdateCheck));
  // Found under its own locale, and under the neutral one where a type
  // library marshaller looks for it.
  for (const LCID lcid : {LCID{0x409}, LCID{0}}) {
    com::Bstr libraryPath;
    EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_QELUpdateCheck1_1, 1, 0, lcid, libraryPath.Put()), S_OK);
    EXPECT_EQ(Lower(std::wstring(com::AsWide(libraryPath.Text().c_str()))), Lower(ServerPath()));
  }
  ExpectLibraryEntries(HKEY_LOCAL_MACHINE);
  ExpectAppIdEntries(HKEY_LOCAL_MACHINE);

  // Switches are read in any case, after "/" or "-"; removing twice is fine.
  EXPECT_EQ(RunServer(L"-unregserver"), 0);
  ExpectNoClassEntries(HKEY_LOCAL_MACHINE);
  ExpectNoLibraryEntries(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RunServer(L"/UNREGSERVER"), 0);

  EXPECT_EQ(RunServer(L"/REGSERVER"), 0);
  ExpectClassEntries(HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(CreateUpdateCheck());
}

TEST(Registration, PerUserEntriesComeAndGoAndLeaveTheMachineAlone) {
  // The suite's set-up registered the server machine-wide.
  const std::set<std::wstring> before = Classes(HKEY_LOCAL_MACHINE);
  const wchar_t* const parents[] = {L"Software\\Classes\\TypeLib", L"Software\\Classes\\Interface",
                                    L"Software\\Classes\\CLSID"};
  std::vector<bool> parentsBefore;
  for (const wchar_t* key : parents) parentsBefore.push_back(KeyExists(HKEY_CURRENT_USER, key));

  ASSERT_EQ(RunServer(L"/RegServerPerUser"), 0);
  ExpectClassEntries(HKEY_CURRENT_USER);
  ExpectLibraryEntries(HKEY_CURRENT_USER);
  ExpectAppIdEntries(HKEY_CURRENT_USER);
  ASSERT_EQ(RunServer(L"-unregserverperuser"), 0);
  ExpectNoClassEntries(HKEY_CURRENT_USER);
  ExpectNoLibraryEntries(HKEY_CURRENT_USER);
  // No empty key stays behind either.
  for (size_t i = 0; i < std::size(parents); ++i) {
    EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, parents[i]), parentsBefore[i])
        << std::string(parents[i], parents[i] + wcslen(parents[i]));
  }

  EXPECT_GT(before.size(), 1000u);
  EXPECT_EQ(Differences(before, Classes(HKEY_LOCAL_MACHINE)), "") << "HKLM\\Software\\Classes";
  EXPECT_TRUE(CreateUpdateCheck());
}

// A registration that fails half-way (the test build of the server fails
// it, when asked, once the class's entries are written) leaves the classes
// as they were: what it replaced is put back, and what was not there is gone.
TEST(Registration, AFailedRegistrationLeavesTheRegistryAsItWas) {
  const MachineRegistrationRestorer restorer;
  const std::wstring failing = SiblingPath(L"test_server\\QELUpdateCheck1_1.exe");
  const struct {
    HKEY root;
    const wchar_t* earlier;  // the registration made before, if any
    const wchar_t* failed;
  } cases[] = {
      {HKEY_LOCAL_MACHINE, L"/RegServer", L"/RegServer"},
      {HKEY_CURRENT_USER, nullptr, L"/RegServerPerUser"},
      {HKEY_CURRENT_USER, L"/RegServerPerUser", L"/RegServerPerUser"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.failed, c.failed + wcslen(c.failed)) +
                 (c.earlier ? " over an earlier one" : " over none"));
    if (c.earlier) {
      EXPECT_EQ(RunServer(c.earlier), 0);
    }
    const std::set<std::wstring> before = Classes(c.root);
    SetEnvironmentVariableW(L"QEL_TEST_REGISTRATION_FAULT", L"1");
    EXPECT_EQ(RunServer(c.failed, failing), 1);
    SetEnvironmentVariableW(L"QEL_TEST_REGISTRATION_FAULT", nullptr);
    EXPECT_EQ(Differences(before, Classes(c.root)), "");
  }
  EXPECT_EQ(RunServer(L"/UnregServerPerUser"), 0);
  // The earlier machine-wide registration works.
  EXPECT_TRUE(CreateUpdateCheck());
}

}  // namespace
}  // namespace qel::test
