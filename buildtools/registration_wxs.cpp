// Writes the WiX fragment that installs the server and the host tool and
// registers the server through the package's own registry entries: the same
// table the server's registration writes, with the installed paths filled in
// by Windows Installer. Runs under Wine as a step of the package build.
//   registration_wxs <server.exe> machine|user <fragment.wxs>
#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "com/com_ptr.h"
#include "server/registration/registration_entries.h"

namespace {

using namespace qel::com;

// Stand-ins for the installed paths, replaced once the texts are escaped.
constexpr wchar_t kServerMark = L'\x1';
constexpr wchar_t kDirectoryMark = L'\x2';

struct Folder {
  const wchar_t* id;
  const wchar_t* name;
};

// Where the checker goes: one fixed folder for every package that carries it,
// so that they share its components and Windows Installer counts them. The
// directory ids are private properties: no command line can move the folder.
struct Scope {
  const wchar_t* root;               // the registration's RegistryValue root
  const wchar_t* keyPrefix;          // before a key below Software\Classes
  const wchar_t* settingsRoot;       // the root of InstallDir
  const wchar_t* standardFolder;     // the system folder the checker's folders go in
  std::vector<Folder> folders;       // below it, outermost first; the last holds the files
  const wchar_t* componentGuids[4];  // folders, server, 32-bit view entries, tool
  const wchar_t* appIdGuid;          // the AppID's entries: machine-wide only
};

// Component codes name these folders and these resources: a version whose
// components hold other files or registry keys, or go elsewhere, needs new ones.
const Scope kMachine = {
    L"HKCR",
    L"",
    L"HKLM",
    L"CommonFiles64Folder",
    {{L"QELCompanyDir", L"QEL"}, {L"QELUpdateCheckDir", L"Update Checker"}},
    {L"2995B667-01A7-49D3-8D9D-BC1277A1CF81", L"5CBBD97E-FA58-4B3B-B359-14D36BDA2DC8",
     L"87E8F81E-F374-4353-8A41-FCED60685C36", L"CEAFD1F1-70A1-4F3E-A9F8-90A792FFA4B7"},
    L"458CEA83-5F72-469B-9193-B6A8813169F5"};
// Per user, the counterpart of Common Files: %LOCALAPPDATA%\Programs\Common.
const Scope kUser = {
    L"HKCU",
    L"Software\\Classes\\",
    L"HKCU",
    L"LocalAppDataFolder",
    {{L"QELProgramsDir", L"Programs"},
     {L"QELCommonDir", L"Common"},
     {L"QELCompanyDir", L"QEL"},
     {L"QELUpdateCheckDir", L"Update Checker"}},
    {L"EB1C1935-16CC-4DF9-9303-4F4D3E45BFEB", L"8CE88F84-8D4F-4E02-BEEE-51DA2F737E73",
     L"122AD0B4-9811-4D4C-BF31-627C7F469A07", L"D6A2DA20-59D9-4E37-AAB9-D6D2C8ADD9E1"},
    nullptr};

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
      out += L"[QELUpdateCheckDir]";
    } else {
      out += c;
    }
  }
  return Xml(out);
}

// A binary value as WiX writes it: two hexadecimal digits a byte.
std::wstring Hex(const std::vector<BYTE>& bytes) {
  std::wstring out;
  for (const BYTE b : bytes) {
    wchar_t digits[3] = {};
    swprintf(digits, 3, L"%02X", b);
    out += digits;
  }
  return out;
}

// The entries of one registry view. A component without a file needs a
// registry value as its key path: the first, if `keyPath`.
std::wstring RegistryValues(const Scope& scope, const std::vector<RegistryEntry>& entries,
                            RegistryView view, bool keyPath) {
  std::wstring out;
  bool first = true;
  for (const RegistryEntry& entry : entries) {
    if (entry.view != view) continue;
    out += L"        <RegistryValue Root=\"" + std::wstring(scope.root) + L"\" Key=\"" +
           Formatted(scope.keyPrefix + entry.key) + L"\"";
    if (!entry.name.empty()) out += L" Name=\"" + Formatted(entry.name) + L"\"";
    if (const auto* text = std::get_if<std::wstring>(&entry.value)) {
      out += L" Type=\"string\" Value=\"" + Formatted(*text) + L"\"";
    } else {
      out += L" Type=\"binary\" Value=\"" + Hex(std::get<std::vector<BYTE>>(entry.value)) + L"\"";
    }
    if (keyPath && first) out += L" KeyPath=\"yes\"";
    out += L"/>\n";
    first = false;
  }
  return out;
}

// The folders, nested under the standard folder below TARGETDIR.
std::wstring Directories(const Scope& scope) {
  std::wstring open, close, indent = L"        ";
  const size_t last = scope.folders.size() - 1;
  for (size_t i = 0; i <= last; ++i, indent += L"  ") {
    const Folder& folder = scope.folders[i];
    open += indent + L"<Directory Id=\"" + folder.id + L"\" Name=\"" + folder.name +
            (i == last ? L"\"/>\n" : L"\">\n");
    if (i != last) close = indent + L"</Directory>\n" + close;
  }
  return L"    <DirectoryRef Id=\"TARGETDIR\">\n      <Directory Id=\"" +
         std::wstring(scope.standardFolder) + L"\">\n" + open + close +
         L"      </Directory>\n    </DirectoryRef>\n";
}

// Who may start the server, in a component of its own: the server's
// components keep the resources their codes were given for.
std::wstring AppIdComponent(const Scope& scope, const std::vector<RegistryEntry>& appIdEntries) {
  if (!scope.appIdGuid) return {};
  return L"      <Component Id=\"QELUpdateCheckAppId\" Guid=\"" + std::wstring(scope.appIdGuid) +
         L"\" Win64=\"yes\">\n" + RegistryValues(scope, appIdEntries, RegistryView::Native, true) +
         L"      </Component>\n";
}

std::wstring Fragment(const Scope& scope, const std::vector<RegistryEntry>& entries,
                      const std::vector<RegistryEntry>& appIdEntries) {
  const std::wstring top = scope.folders.front().id;
  std::wstring path = L"[" + std::wstring(scope.standardFolder) + L"]";
  for (const Folder& folder : scope.folders) path += std::wstring(folder.name) + L"\\";
  std::wstring out =
      L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      L"<!-- QEL Update Checker: the automation server, the host tool and the server's\n"
      L"     registration (" +
      std::wstring(scope.root) +
      L"), in a shared folder of its own:\n"
      L"     " +
      path +
      L"\n"
      L"     Generated from the server's registration table; do not edit.\n"
      L"     Every package that carries the checker installs it there with these\n"
      L"     same components, and Windows Installer counts them: the last package\n"
      L"     removed takes the checker with it. A product defines the Directory\n"
      L"     TARGETDIR but not " +
      scope.standardFolder +
      L", which this fragment defines (a\n"
      L"     product's own files there go in a DirectoryRef to it), references the\n"
      L"     group QELUpdateCheck from a feature and sets the preprocessor variable\n"
      L"     QELBinDir to the folder holding both executables. A package built\n"
      L"     with wixl then needs versioned_files.py (examples/installer/) for\n"
      L"     QELServerExe and QELToolExe: wixl leaves them unversioned; and\n"
      L"     binary_values.py for the fragment: wixl writes binary values as text.\n"
      L"     -->\n"
      L"<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      L"  <Fragment>\n" +
      Directories(scope) + L"    <DirectoryRef Id=\"" + top +
      L"\">\n"
      L"      <!-- In the topmost folder, so that the last removal takes the folders too;\n"
      L"           the value records where the files are. -->\n"
      L"      <Component Id=\"QELUpdateCheckFolders\" Guid=\"" +
      scope.componentGuids[0] +
      L"\" Win64=\"yes\">\n"
      L"        <RegistryValue Root=\"" +
      scope.settingsRoot +
      L"\" Key=\"Software\\QEL\\Update Checker\" Name=\"InstallDir\" "
      L"Type=\"string\" Value=\"[QELUpdateCheckDir]\" KeyPath=\"yes\"/>\n"
      L"        <RemoveFolder Id=\"QELRemoveFolders\" On=\"uninstall\"/>\n"
      L"      </Component>\n"
      L"    </DirectoryRef>\n"
      L"    <DirectoryRef Id=\"QELUpdateCheckDir\">\n"
      L"      <Component Id=\"QELUpdateCheckServer\" Guid=\"" +
      scope.componentGuids[1] +
      L"\" Win64=\"yes\">\n"
      L"        <File Id=\"QELServerExe\" Name=\"QELUpdateCheck1_1.exe\" "
      L"Source=\"$(var.QELBinDir)/QELUpdateCheck1_1.exe\" KeyPath=\"yes\"/>\n" +
      RegistryValues(scope, entries, RegistryView::Native, false) +
      L"      </Component>\n"
      L"      <Component Id=\"QELUpdateCheckServer32\" Guid=\"" +
      scope.componentGuids[2] + L"\" Win64=\"no\">\n" +
      RegistryValues(scope, entries, RegistryView::Wow32, true) +
      L"      </Component>\n"
      L"      <Component Id=\"QELUpdateCheckTool\" Guid=\"" +
      scope.componentGuids[3] +
      L"\" Win64=\"yes\">\n"
      L"        <File Id=\"QELToolExe\" Name=\"updatecheck.exe\" "
      L"Source=\"$(var.QELBinDir)/updatecheck.exe\" KeyPath=\"yes\"/>\n"
      L"      </Component>\n" +
      AppIdComponent(scope, appIdEntries) +
      L"    </DirectoryRef>\n"
      L"    <ComponentGroup Id=\"QELUpdateCheck\">\n"
      L"      <ComponentRef Id=\"QELUpdateCheckFolders\"/>\n"
      L"      <ComponentRef Id=\"QELUpdateCheckServer\"/>\n"
      L"      <ComponentRef Id=\"QELUpdateCheckServer32\"/>\n"
      L"      <ComponentRef Id=\"QELUpdateCheckTool\"/>\n" +
      (scope.appIdGuid ? L"      <ComponentRef Id=\"QELUpdateCheckAppId\"/>\n" : L"") +
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
  std::vector<RegistryEntry> appIdEntries;
  if (scope.appIdGuid) hr = AppIdEntries(appIdEntries);
  if (FAILED(hr)) return Fail(L"cannot make the AppID's entries", hr);

  const std::wstring text = Fragment(scope, entries, appIdEntries);
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
