// Writes the WiX fragment that installs the server and the host tool and
// registers the server through the package's own registry entries: the same
// table the server's registration writes, with the installed paths filled in
// by Windows Installer. Runs under Wine as a step of the package build.
//   registration_wxs <server.exe> machine|user <fragment.wxs>
#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "server/com_ptr.h"
#include "server/registration_entries.h"

namespace {

using namespace qel::com;

// Stand-ins for the installed paths, replaced once the texts are escaped.
constexpr wchar_t kServerMark = L'\x1';
constexpr wchar_t kDirectoryMark = L'\x2';

struct Scope {
  const wchar_t* root;               // the RegistryValue root
  const wchar_t* keyPrefix;          // before a key below Software\Classes
  const wchar_t* componentGuids[3];  // server, 32-bit view entries, tool
};

// Component codes stay fixed from version to version.
constexpr Scope kMachine = {
    L"HKCR",
    L"",
    {L"B7371CC2-6E80-4775-B0EF-D5BB230197B2", L"833E1B28-8CF2-49D5-ABB7-79FB3BF07073",
     L"F9EB41A0-78D2-4EE6-B98E-24462E3E1F24"}};
constexpr Scope kUser = {
    L"HKCU",
    L"Software\\Classes\\",
    {L"C14E9AA2-8041-407A-B32F-4B265080631A", L"C320B31B-ED2A-48ED-9AC2-67D840B060DA",
     L"BEC7426A-D33F-4812-9A76-634728A9ABE4"}};

std::wstring Xml(const std::wstring& text) {
  std::wstring out;
  for (const wchar_t c : text) {
    switch (c) {
      case L'&':
        out += L"&amp;";
        break;
      case L'<':
        out += L"&lt;";
        break;
      case L'>':
        out += L"&gt;";
        break;
      case L'"':
        out += L"&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A Windows Installer formatted text that comes out as the given text, with
// the marks turned into the installed paths.
std::wstring Formatted(const std::wstring& text) {
  std::wstring out;
  for (const wchar_t c : text) {
    if (c == L'[') {
      out += L"[\\[]";
    } else if (c == L']') {
      out += L"[\\]]";
    } else if (c == kServerMark) {
      out += L"[#QELServerExe]";
    } else if (c == kDirectoryMark) {
      out += L"[QELUPDATECHECKDIR]";
    } else {
      out += c;
    }
  }
  return Xml(out);
}

std::wstring RegistryValues(const Scope& scope, const std::vector<RegistryEntry>& entries,
                            RegistryView view) {
  std::wstring out;
  bool first = true;
  for (const RegistryEntry& entry : entries) {
    if (entry.view != view) continue;
    out += L"        <RegistryValue Root=\"" + std::wstring(scope.root) + L"\" Key=\"" +
           Formatted(scope.keyPrefix + entry.key) + L"\"";
    if (!entry.name.empty()) out += L" Name=\"" + Formatted(entry.name) + L"\"";
    out += L" Type=\"string\" Value=\"" + Formatted(entry.value) + L"\"";
    // A component without a file needs a registry value as its key path.
    if (view == RegistryView::Wow32 && first) out += L" KeyPath=\"yes\"";
    out += L"/>\n";
    first = false;
  }
  return out;
}

std::wstring Fragment(const Scope& scope, const std::vector<RegistryEntry>& entries) {
  std::wstring out =
      L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      L"<!-- QEL Update Checker: the automation server, the host tool and the server's\n"
      L"     registration (" +
      std::wstring(scope.root) +
      L"). Generated from the server's registration table; do not edit.\n"
      L"     Needs a Directory with Id QELUPDATECHECKDIR and the preprocessor variable\n"
      L"     QELBinDir (the directory holding both executables). -->\n"
      L"<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      L"  <Fragment>\n"
      L"    <DirectoryRef Id=\"QELUPDATECHECKDIR\">\n"
      L"      <Component Id=\"QELUpdateCheckServer\" Guid=\"" +
      scope.componentGuids[0] +
      L"\" Win64=\"yes\">\n"
      L"        <File Id=\"QELServerExe\" Name=\"QELUpdateCheck1_1.exe\" "
      L"Source=\"$(var.QELBinDir)/QELUpdateCheck1_1.exe\" KeyPath=\"yes\"/>\n" +
      RegistryValues(scope, entries, RegistryView::Native) +
      L"      </Component>\n"
      L"      <Component Id=\"QELUpdateCheckServer32\" Guid=\"" +
      scope.componentGuids[1] + L"\" Win64=\"no\">\n" +
      RegistryValues(scope, entries, RegistryView::Wow32) +
      L"      </Component>\n"
      L"      <Component Id=\"QELUpdateCheckTool\" Guid=\"" +
      scope.componentGuids[2] +
      L"\" Win64=\"yes\">\n"
      L"        <File Id=\"QELToolExe\" Name=\"updatecheck.exe\" "
      L"Source=\"$(var.QELBinDir)/updatecheck.exe\" KeyPath=\"yes\"/>\n"
      L"      </Component>\n"
      L"    </DirectoryRef>\n"
      L"    <ComponentGroup Id=\"QELUpdateCheck\">\n"
      L"      <ComponentRef Id=\"QELUpdateCheckServer\"/>\n"
      L"      <ComponentRef Id=\"QELUpdateCheckServer32\"/>\n"
      L"      <ComponentRef Id=\"QELUpdateCheckTool\"/>\n"
      L"    </ComponentGroup>\n"
      L"  </Fragment>\n"
      L"</Wix>\n";
  return out;
}

int Fail(const wchar_t* what, HRESULT hr) {
  fwprintf(stderr, L"registration_wxs: %ls (0x%08lx)\n", what, static_cast<unsigned long>(hr));
  return 1;
}

int Run(int argc, wchar_t** argv) {
  if (argc != 4 || (wcscmp(argv[2], L"machine") != 0 && wcscmp(argv[2], L"user") != 0)) {
    fwprintf(stderr, L"usage: registration_wxs <server.exe> machine|user <fragment.wxs>\n");
    return 2;
  }
  const Scope& scope = wcscmp(argv[2], L"machine") == 0 ? kMachine : kUser;
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(argv[1], REGKIND_NONE, library.Put());
  if (FAILED(hr)) return Fail(L"cannot load the server's type library", hr);

  const std::wstring server(1, kServerMark);
  const InstalledPaths paths{server, server + L"\\2", std::wstring(1, kDirectoryMark)};
  std::vector<RegistryEntry> entries = ClassEntries(paths);
  hr = LibraryEntries(*library.Get(), paths, entries);
  if (FAILED(hr)) return Fail(L"cannot read the server's type library", hr);

  const std::wstring text = Fragment(scope, entries);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  FILE* out = _wfopen(argv[3], L"wb");
  if (!out) return Fail(L"cannot write the fragment", HRESULT_FROM_WIN32(GetLastError()));
  const bool written = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (fclose(out) != 0 || !written) {
    _wremove(argv[3]);
    return Fail(L"cannot write the fragment", E_FAIL);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const int status = Run(argc, argv);
    CoUninitialize();
    return status;
  } catch (...) {
    return 1;
  }
}
