// The Windows build's doctor: reads the registry as a host of this user finds
// it (per-user entries first, then machine-wide ones), looks at the files the
// entries name, and creates UpdateCheck as a host does.
#include <objbase.h>
#include <windows.h>

#include <string>
#include <vector>

#include "QELUpdateCheck.h"
#include "com/com_ptr.h"
#include "com/registry_values.h"
#include "common/text.h"
#include "common/unique_resource.h"
#include "server/registration/registration.h"
#include "tools/doctor/doctor.h"
#include "tools/system_message.h"

namespace qel::tool {
namespace {

std::string Utf8(const std::wstring& text) {
  return TextToUtf8(std::u16string(text.begin(), text.end()));
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// "1.2.3.4" from the file's fixed version information; empty without it.
std::string FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionLS));
}

ClassEntry ClassIn(HKEY root) {
  const std::wstring classKey = L"Software\\Classes\\CLSID\\" + GuidText(CLSID_UpdateCheck);
  ClassEntry entry;
  entry.registered = com::RegistryKeyExists(root, classKey);
  if (!entry.registered) return entry;
  const std::wstring command = com::RegistryDefaultText(root, classKey + L"\\LocalServer32");
  if (command.empty()) return entry;
  const std::wstring path = com::ExecutableOfCommand(command);
  entry.localServer32 = Utf8(command);
  entry.serverPath = Utf8(path);
  entry.serverExists = FileExists(path);
  if (entry.serverExists) entry.serverVersion = FileVersion(path);
  return entry;
}

// A type library path may end in "\N", the resource number inside the file.
bool LibraryFileExists(const std::wstring& path) {
  if (FileExists(path)) return true;
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash + 1 == path.size()) return false;
  if (path.find_first_not_of(L"0123456789", slash + 1) != std::wstring::npos) return false;
  return FileExists(path.substr(0, slash));
}

TypeLibraryEntry LibraryFor(const wchar_t* kind) {
  // The library is version 1.0; registration writes it under its own locale
  // (409) and the neutral one (0).
  const std::wstring versionKey =
      L"Software\\Classes\\TypeLib\\" + GuidText(LIBID_QELUpdateCheck1_1) + L"\\1.0\\";
  TypeLibraryEntry entry;
  entry.kind = Utf8(kind);
  for (const auto& [root, scope] :
       {std::pair{HKEY_CURRENT_USER, "per-user"}, std::pair{HKEY_LOCAL_MACHINE, "machine-wide"}}) {
    for (const wchar_t* locale : {L"0", L"409"}) {
      const std::wstring path = com::RegistryDefaultText(root, versionKey + locale + L"\\" + kind);
      if (path.empty()) continue;
      entry.scope = scope;
      entry.path = Utf8(path);
      entry.exists = LibraryFileExists(path);
      return entry;
    }
  }
  return entry;
}

ProgIdEntry ProgIdFor(const wchar_t* name) {
  ProgIdEntry entry;
  entry.name = Utf8(name);
  for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const std::wstring clsid =
        com::RegistryDefaultText(root, L"Software\\Classes\\" + std::wstring(name) + L"\\CLSID");
    if (clsid.empty()) continue;
    entry.clsid = Utf8(clsid);
    entry.ours = CompareStringOrdinal(clsid.c_str(), -1, GuidText(CLSID_UpdateCheck).c_str(), -1,
                                      TRUE) == CSTR_EQUAL;
    return entry;
  }
  return entry;
}

std::string CreateMeaning(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "created";
    case REGDB_E_CLASSNOTREG:
      return "class not registered";
    case CO_E_SERVER_EXEC_FAILURE:
      return "the server was started but did not make the class available";
    default:
      break;
  }
  std::string message = SystemMessage(static_cast<int32_t>(hr));
  if (message.empty() && HRESULT_FACILITY(hr) == FACILITY_WIN32) {
    message = SystemMessage(static_cast<int32_t>(HRESULT_CODE(hr)));
  }
  return message.empty() ? "no text for this result" : message;
}

// Creates the object as a host does, through the dual interface, and lets go.
HRESULT CreateAsAHost() {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init)) return init;
  HRESULT hr = E_FAIL;
  {
    com::ComPtr<_UpdateCheck> check;
    hr = CoCreateInstance(CLSID_UpdateCheck, nullptr, CLSCTX_LOCAL_SERVER, IID__UpdateCheck,
                          check.PutVoid());
  }
  CoUninitialize();
  return hr;
}

}  // namespace

DoctorFindings Diagnose() {
  DoctorFindings findings;
  // Wine's ntdll names itself; its COM differs from Windows' in what it finds.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  findings.underWine = ntdll && GetProcAddress(ntdll, "wine_get_version");
  findings.machine = ClassIn(HKEY_LOCAL_MACHINE);
  findings.user = ClassIn(HKEY_CURRENT_USER);
  for (const wchar_t* kind : {L"win64", L"win32"})
    findings.typeLibraries.push_back(LibraryFor(kind));
  for (const wchar_t* name : {com::kProgId, com::kVersionIndependentProgId}) {
    findings.progIds.push_back(ProgIdFor(name));
  }
  const HRESULT hr = CreateAsAHost();
  findings.createResult = static_cast<int32_t>(hr);
  findings.createMeaning = CreateMeaning(hr);
  return findings;
}

}  // namespace qel::tool
