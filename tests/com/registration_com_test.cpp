// The server's switches and the registry entries they write and remove.

#include <windows.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/bstr.h"
#include "tests/com/com_test_support.h"

namespace qel::test {
namespace {

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{E9631264-9B44-48AB-BB3B-BF40BA1DF84F}";
const wchar_t kProgIdKey[] = L"Software\\Classes\\QELUpdateCheck1_1.UpdateCheck.1";
const wchar_t kIndependentKey[] = L"Software\\Classes\\QELUpdateCheck1_1.UpdateCheck";
const wchar_t kTypeLibKey[] = L"Software\\Classes\\TypeLib\\{44CED971-D167-4345-84DE-C64A3B243389}";
const wchar_t kInterfaceKey[] =
    L"Software\\Classes\\Interface\\{547A2363-289C-4AC8-BD5B-5BA72D9BE7F4}";

// A key's default value, or "<missing>".
std::wstring DefaultValue(HKEY root, const std::wstring& key) {
  wchar_t value[1024] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
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

void ExpectNoClassEntries(HKEY root) {
  for (const wchar_t* key : {kClassKey, kProgIdKey, kIndependentKey})
    EXPECT_FALSE(KeyExists(root, key)) << "still there: " << std::string(key, key + wcslen(key));
}

// Puts the machine-wide registration back however a test ends: the suite
// needs it, and under Wine the per-user type library calls act machine-wide.
struct MachineRegistrationRestorer {
  ~MachineRegistrationRestorer() { EXPECT_EQ(RunServer(L"/RegServer"), 0); }
};

TEST(ServerSwitches, AnythingButOneKnownSwitchFails) {
  for (const wchar_t* arguments :
       {L"", L"/Bogus", L"RegServer", L"/", L"/RegServer /UnregServer", L"--RegServer"}) {
    EXPECT_NE(RunServer(arguments), 0) << std::string(arguments, arguments + wcslen(arguments));
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
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kInterfaceKey));

  // Switches are read in any case, after "/" or "-"; removing twice is fine.
  EXPECT_EQ(RunServer(L"-unregserver"), 0);
  ExpectNoClassEntries(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTypeLibKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kInterfaceKey));
  EXPECT_EQ(RunServer(L"/UNREGSERVER"), 0);

  EXPECT_EQ(RunServer(L"/REGSERVER"), 0);
  ExpectClassEntries(HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(CreateUpdateCheck());
}

TEST(Registration, PerUserEntriesComeAndGo) {
  const MachineRegistrationRestorer restorer;
  ASSERT_EQ(RunServer(L"/RegServerPerUser"), 0);
  ExpectClassEntries(HKEY_CURRENT_USER);
  ASSERT_EQ(RunServer(L"-unregserverperuser"), 0);
  ExpectNoClassEntries(HKEY_CURRENT_USER);
}

}  // namespace
}  // namespace qel::test
