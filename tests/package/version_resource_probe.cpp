// Reads an executable's version resource back, as Explorer and installers do,
// and checks it against the version the product's tool reports.
//   version_resource_probe <file.exe> <MAJOR.MINOR.BUILD>
// Prints the file version; exits 1 with the differences, 0 when all agree.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring StringValue(const std::vector<BYTE>& block, const wchar_t* name) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return {};
  return static_cast<const wchar_t*>(value);
}

int Run(const wchar_t* file, const std::wstring& expected) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
  if (size == 0) {
    fwprintf(stderr, L"%ls: no version resource (error %lu)\n", file, GetLastError());
    return 1;
  }
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(file, 0, size, block.data())) {
    fwprintf(stderr, L"%ls: cannot read the version resource\n", file);
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    fwprintf(stderr, L"%ls: no fixed file information\n", file);
    return 1;
  }
  wchar_t numeric[64] = {};
  swprintf(numeric, 64, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
           LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
           LOWORD(fixed->dwFileVersionLS));
  wchar_t product[64] = {};
  swprintf(product, 64, L"%u.%u.%u.%u", HIWORD(fixed->dwProductVersionMS),
           LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
           LOWORD(fixed->dwProductVersionLS));

  std::wstring name = file;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  const std::wstring stem = name.substr(0, name.rfind(L'.'));
  const struct {
    const wchar_t* what;
    std::wstring actual;
    std::wstring wanted;
  } checks[] = {
      {L"FILEVERSION", numeric, expected + L".0"},
      {L"PRODUCTVERSION", product, expected + L".0"},
      {L"FileVersion", StringValue(block, L"FileVersion"), expected},
      {L"ProductVersion", StringValue(block, L"ProductVersion"), expected},
      {L"ProductName", StringValue(block, L"ProductName"), L"QEL Update Checker"},
      {L"CompanyName", StringValue(block, L"CompanyName"), L"QEL"},
      {L"OriginalFilename", StringValue(block, L"OriginalFilename"), name},
      {L"InternalName", StringValue(block, L"InternalName"), stem},
  };
  int status = 0;
  for (const auto& check : checks) {
    if (CompareStringOrdinal(check.actual.c_str(), -1, check.wanted.c_str(), -1, TRUE) !=
        CSTR_EQUAL) {
      fwprintf(stderr, L"%ls: %ls is \"%ls\", not \"%ls\"\n", file, check.what,
               check.actual.c_str(), check.wanted.c_str());
      status = 1;
    }
  }
  for (const wchar_t* present : {L"FileDescription", L"LegalCopyright"}) {
    if (StringValue(block, present).empty()) {
      fwprintf(stderr, L"%ls: no %ls\n", file, present);
      status = 1;
    }
  }
  wprintf(L"%ls\n", numeric);
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: version_resource_probe <file.exe> <MAJOR.MINOR.BUILD>\n");
    return 2;
  }
  return Run(argv[1], argv[2]);
}
