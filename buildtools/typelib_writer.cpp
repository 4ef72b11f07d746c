// Build step: rewrites the IDL compiler's type library through the system's
// own type library writer, adding what the IDL compiler refuses to write.
//
//   typelib_writer <in.tlb> <out.tlb> [--nonextensible=<type>]...
//                  [--name-as-helpstring=<enum>]... [--win32]
//
// --win32 writes the library for 32-bit hosts (SYS_WIN32, 4-byte function
// table entries) instead of 64-bit ones.
//
// Everything else (names, order, identifiers, flags, types, parameter names,
// help strings) is copied from the input unchanged, so the IDL stays the one
// place where the published description is written.

#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/com_ptr.h"

namespace {

using qel::com::Bstr;
using qel::com::ComPtr;

struct Failure : std::runtime_error {
  Failure(const char* what, HRESULT hr) : std::runtime_error(what), hr(hr) {}
  HRESULT hr;
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw Failure(what, hr);
}

struct Options {
  std::wstring input;
  std::wstring output;
  std::set<std::wstring> nonextensible;
  std::set<std::wstring> nameAsHelpstring;
  bool win32 = false;
};

// Releases a TYPEATTR/FUNCDESC/VARDESC with the call its type info wants.
template <class Desc, void (STDMETHODCALLTYPE ITypeInfo::*ReleaseFn)(Desc*)>
class InfoDesc {
 public:
  explicit InfoDesc(ITypeInfo* info) : m_info(info) {}
  InfoDesc(const InfoDesc&) = delete;
  InfoDesc& operator=(const InfoDesc&) = delete;
  ~InfoDesc() {
    if (m_desc) (m_info->*ReleaseFn)(m_desc);
  }
  Desc** Put() { return &m_desc; }
  Desc* operator->() const { return m_desc; }
  Desc* Get() const { return m_desc; }

 private:
  ITypeInfo* m_info;
  Desc* m_desc = nullptr;
};
using TypeAttr = InfoDesc<TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDesc = InfoDesc<FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using VarDesc = InfoDesc<VARDESC, &ITypeInfo::ReleaseVarDesc>;

struct Documentation {
  Bstr name;
  Bstr docString;
  DWORD helpContext = 0;
};

Documentation Document(ITypeInfo* info, MEMBERID memid) {
  Documentation doc;
  Check(
      info->GetDocumentation(memid, doc.name.Put(), doc.docString.Put(), &doc.helpContext, nullptr),
      "GetDocumentation");
  return doc;
}

std::vector<Bstr> Names(ITypeInfo* info, MEMBERID memid, UINT capacity) {
  std::vector<BSTR> raw(capacity + 1, nullptr);
  UINT count = 0;
  Check(info->GetNames(memid, raw.data(), static_cast<UINT>(raw.size()), &count), "GetNames");
  std::vector<Bstr> names;
  for (UINT i = 0; i < count; ++i) names.push_back(Bstr::Attach(raw[i]));
  return names;
}

bool SameLibrary(ITypeInfo* info, ITypeLib* library) {
  ComPtr<ITypeLib> containing;
  UINT index = 0;
  if (FAILED(info->GetContainingTypeLib(containing.Put(), &index))) return false;
  TLIBATTR* a = nullptr;
  TLIBATTR* b = nullptr;
  bool same = false;
  if (SUCCEEDED(containing->GetLibAttr(&a)) && SUCCEEDED(library->GetLibAttr(&b)))
    same = IsEqualGUID(a->guid, b->guid);
  if (a) containing->ReleaseTLibAttr(a);
  if (b) library->ReleaseTLibAttr(b);
  return same;
}

// The system's writer (Wine's) sizes a 32-bit interface's function table
// with its base's entries (IDispatch, from the 64-bit stdole2) at 8 bytes
// each. The saved file's table sizes are set here from the functions' own
// offsets instead: the last entry's offset plus one 4-byte entry.
uint32_t ReadU32(const std::vector<char>& data, size_t offset) {
  if (offset + 4 > data.size()) throw Failure("a truncated type library", E_FAIL);
  uint32_t value = 0;
  std::memcpy(&value, data.data() + offset, 4);
  return value;
}
int16_t ReadI16(const std::vector<char>& data, size_t offset) {
  if (offset + 2 > data.size()) throw Failure("a truncated type library", E_FAIL);
  int16_t value = 0;
  std::memcpy(&value, data.data() + offset, 2);
  return value;
}

void FixFunctionTableSizes(const std::wstring& path) {
  std::vector<char> data;
  {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The MSFT layout: a 0x54-byte header (4 more with a help DLL), the type
  // infos' offsets, then the segment directory, whose first segment holds
  // the type infos' 0x64-byte records.
  constexpr size_t kHeaderSize = 0x54;
  constexpr uint32_t kHelpDllFlag = 0x100;
  constexpr size_t kTypeInfoSize = 0x64;
  constexpr size_t kFunctionCountAt = 0x18;  // cElement, functions in the low word
  constexpr size_t kSizeVftAt = 0x4e;
  constexpr size_t kVtableOffsetAt = 0x0c;  // in a function record
  if (data.size() < kHeaderSize || std::memcmp(data.data(), "MSFT", 4) != 0)
    throw Failure("not a type library", E_FAIL);
  const uint32_t count = ReadU32(data, 0x20);
  const size_t directory =
      kHeaderSize + ((ReadU32(data, 0x14) & kHelpDllFlag) ? 4 : 0) + 4 * size_t{count};
  const uint32_t records = ReadU32(data, directory);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t record = records + i * kTypeInfoSize;
    const uint32_t functions = ReadU32(data, record + kFunctionCountAt) & 0xFFFF;
    const uint32_t members = ReadU32(data, record + 4);
    if (functions == 0 || ReadI16(data, record + kSizeVftAt) == 0) continue;
    int16_t last = 0;
    size_t function = members + 4;  // after the block's total size
    for (uint32_t f = 0; f < functions; ++f) {
      last = std::max<int16_t>(
          last, static_cast<int16_t>(ReadI16(data, function + kVtableOffsetAt) & ~1));
      function += ReadU32(data, function) & 0xFFFF;
    }
    const int16_t size = static_cast<int16_t>(last + 4);
    std::memcpy(data.data() + record + kSizeVftAt, &size, 2);
  }
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw Failure("writing the type library again", E_FAIL);
}

class Writer {
 public:
  explicit Writer(const Options& options) : m_options(options) {}

  void Run() {
    Check(LoadTypeLibEx(m_options.input.c_str(), REGKIND_NONE, m_source.Put()), "LoadTypeLibEx");
    Check(CreateTypeLib2(m_options.win32 ? SYS_WIN32 : SYS_WIN64, m_options.output.c_str(),
                         m_target.Put()),
          "CreateTypeLib2");
    CopyLibraryAttributes();
    const UINT count = m_source->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
      ComPtr<ITypeInfo> info;
      Check(m_source->GetTypeInfo(i, info.Put()), "GetTypeInfo");
      CopyType(InterfaceSide(info));
    }
    for (const auto& name : m_options.nonextensible) RequireCopied(name);
    for (const auto& name : m_options.nameAsHelpstring) RequireCopied(name);
    Check(m_target->SaveAllChanges(), "SaveAllChanges");
    if (m_options.win32) FixFunctionTableSizes(m_options.output);
  }

 private:
  void CopyLibraryAttributes() {
    TLIBATTR* attr = nullptr;
    Check(m_source->GetLibAttr(&attr), "GetLibAttr");
    const TLIBATTR copy = *attr;
    m_source->ReleaseTLibAttr(attr);
    Check(m_target->SetGuid(copy.guid), "SetGuid");
    Check(m_target->SetLcid(copy.lcid), "SetLcid");
    Check(m_target->SetVersion(copy.wMajorVerNum, copy.wMinorVerNum), "SetVersion");
    Check(m_target->SetLibFlags(copy.wLibFlags), "SetLibFlags");

    Bstr name, docString, helpFile;
    DWORD helpContext = 0;
    Check(m_source->GetDocumentation(-1, name.Put(), docString.Put(), &helpContext, helpFile.Put()),
          "GetDocumentation");
    Check(m_target->SetName(name.Get()), "SetName");
    if (docString.Get()) Check(m_target->SetDocString(docString.Get()), "SetDocString");
    if (helpFile.Get()) Check(m_target->SetHelpFileName(helpFile.Get()), "SetHelpFileName");
    Check(m_target->SetHelpContext(helpContext), "SetHelpContext");
  }

  // A dual interface reads back as its dispatch side; it is written as the
  // interface with its function table, and the writer makes the dispatch side.
  static ComPtr<ITypeInfo> InterfaceSide(const ComPtr<ITypeInfo>& info) {
    TypeAttr attr(info.Get());
    Check(info->GetTypeAttr(attr.Put()), "GetTypeAttr");
    if (attr->typekind != TKIND_DISPATCH || !(attr->wTypeFlags & TYPEFLAG_FDUAL)) return info;
    HREFTYPE href = 0;
    Check(info->GetRefTypeOfImplType(-1, &href), "GetRefTypeOfImplType(-1)");
    ComPtr<ITypeInfo> side;
    Check(info->GetRefTypeInfo(href, side.Put()), "GetRefTypeInfo");
    return side;
  }

  void CopyType(const ComPtr<ITypeInfo>& info) {
    TypeAttr attr(info.Get());
    Check(info->GetTypeAttr(attr.Put()), "GetTypeAttr");
    const Documentation doc = Document(info.Get(), MEMBERID_NIL);
    const std::wstring name = doc.name.Get() ? doc.name.Get() : L"";

    ComPtr<ICreateTypeInfo> created;
    Check(m_target->CreateTypeInfo(doc.name.Get(), attr->typekind, created.Put()),
          "CreateTypeInfo");
    ComPtr<ICreateTypeInfo2> target;
    Check(created.As(target), "ICreateTypeInfo2");

    Check(target->SetGuid(attr->guid), "SetGuid");
    Check(target->SetVersion(attr->wMajorVerNum, attr->wMinorVerNum), "SetVersion");
    if (doc.docString.Get()) Check(target->SetDocString(doc.docString.Get()), "SetDocString");
    Check(target->SetHelpContext(doc.helpContext), "SetHelpContext");
    WORD flags = attr->wTypeFlags;
    if (m_options.nonextensible.count(name)) flags |= TYPEFLAG_FNONEXTENSIBLE;
    Check(target->SetTypeFlags(flags), "SetTypeFlags");
    if (attr->typekind == TKIND_ALIAS) Check(target->SetTypeDescAlias(&attr->tdescAlias), "Alias");

    const bool coclass = attr->typekind == TKIND_COCLASS;
    for (UINT i = 0; i < attr->cImplTypes; ++i) CopyImplType(info.Get(), target.Get(), i, coclass);
    for (UINT i = 0; i < attr->cFuncs; ++i) CopyFunc(info.Get(), target.Get(), i, m_options.win32);
    const bool namesAsHelp = m_options.nameAsHelpstring.count(name) != 0;
    for (UINT i = 0; i < attr->cVars; ++i) CopyVar(info.Get(), target.Get(), i, namesAsHelp);

    Check(target->LayOut(), "LayOut");
    ComPtr<ITypeInfo> written;
    Check(target.As(written), "ITypeInfo of a written type");
    m_written[name] = written;
  }

  void CopyImplType(ITypeInfo* info, ICreateTypeInfo2* target, UINT index, bool coclass) {
    HREFTYPE href = 0;
    Check(info->GetRefTypeOfImplType(index, &href), "GetRefTypeOfImplType");
    ComPtr<ITypeInfo> referenced;
    Check(info->GetRefTypeInfo(href, referenced.Put()), "GetRefTypeInfo");
    // A type of this library is referred to as its copy; others (stdole's
    // IDispatch) as they are.
    if (SameLibrary(referenced.Get(), m_source.Get())) {
      const Documentation doc = Document(referenced.Get(), MEMBERID_NIL);
      const auto found = m_written.find(doc.name.Get());
      if (found == m_written.end())
        throw Failure("a type referred to before it is written", E_FAIL);
      referenced = found->second;
    }
    HREFTYPE newHref = 0;
    Check(target->AddRefTypeInfo(referenced.Get(), &newHref), "AddRefTypeInfo");
    Check(target->AddImplType(index, newHref), "AddImplType");
    if (!coclass) return;  // only a class's interfaces carry flags
    INT implFlags = 0;
    Check(info->GetImplTypeFlags(index, &implFlags), "GetImplTypeFlags");
    Check(target->SetImplTypeFlags(index, implFlags), "SetImplTypeFlags");
  }

  static void CopyFunc(ITypeInfo* info, ICreateTypeInfo2* target, UINT index, bool win32) {
    FuncDesc desc(info);
    Check(info->GetFuncDesc(index, desc.Put()), "GetFuncDesc");
    RefuseUserDefined(desc->elemdescFunc.tdesc);
    for (SHORT p = 0; p < desc->cParams; ++p) RefuseUserDefined(desc->lprgelemdescParam[p].tdesc);
    // The input is a 64-bit library; a 32-bit function table has the same
    // entries at half the offsets.
    FUNCDESC copy = *desc.Get();
    if (win32) copy.oVft = static_cast<SHORT>(copy.oVft / 8 * 4);
    Check(target->AddFuncDesc(index, &copy), "AddFuncDesc");

    std::vector<Bstr> names = Names(info, desc->memid, desc->cParams);
    std::vector<LPOLESTR> raw;
    for (auto& n : names) raw.push_back(n.Get());
    Check(target->SetFuncAndParamNames(index, raw.data(), static_cast<UINT>(raw.size())),
          "SetFuncAndParamNames");
    const Documentation doc = Document(info, desc->memid);
    if (doc.docString.Get()) Check(target->SetFuncDocString(index, doc.docString.Get()), "Doc");
    Check(target->SetFuncHelpContext(index, doc.helpContext), "SetFuncHelpContext");
  }

  static void CopyVar(ITypeInfo* info, ICreateTypeInfo2* target, UINT index, bool nameAsHelp) {
    VarDesc desc(info);
    Check(info->GetVarDesc(index, desc.Put()), "GetVarDesc");
    RefuseUserDefined(desc->elemdescVar.tdesc);
    Check(target->AddVarDesc(index, desc.Get()), "AddVarDesc");
    const Documentation doc = Document(info, desc->memid);
    Check(target->SetVarName(index, doc.name.Get()), "SetVarName");
    BSTR help = nameAsHelp ? doc.name.Get() : doc.docString.Get();
    if (help) Check(target->SetVarDocString(index, help), "SetVarDocString");
    Check(target->SetVarHelpContext(index, doc.helpContext), "SetVarHelpContext");
  }

  // References to user-defined types inside members would need their
  // HREFTYPEs translated; the library has none, and this says so if it grows one.
  static void RefuseUserDefined(const TYPEDESC& type) {
    for (const TYPEDESC* t = &type; t;
         t = (t->vt == VT_PTR || t->vt == VT_SAFEARRAY) ? t->lptdesc : nullptr) {
      if (t->vt == VT_USERDEFINED || t->vt == VT_CARRAY)
        throw Failure("a member refers to a user-defined type", E_NOTIMPL);
    }
  }

  void RequireCopied(const std::wstring& name) const {
    if (!m_written.count(name))
      throw Failure("a type named on the command line is missing", E_FAIL);
  }

  const Options& m_options;
  ComPtr<ITypeLib> m_source;
  ComPtr<ICreateTypeLib2> m_target;
  std::map<std::wstring, ComPtr<ITypeInfo>> m_written;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  std::vector<std::wstring> positional;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const std::wstring nonextensible = L"--nonextensible=";
    const std::wstring nameAsHelp = L"--name-as-helpstring=";
    if (arg.rfind(nonextensible, 0) == 0) {
      options.nonextensible.insert(arg.substr(nonextensible.size()));
    } else if (arg.rfind(nameAsHelp, 0) == 0) {
      options.nameAsHelpstring.insert(arg.substr(nameAsHelp.size()));
    } else if (arg == L"--win32") {
      options.win32 = true;
    } else if (arg.rfind(L"--", 0) == 0) {
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return false;
  options.input = positional[0];
  options.output = positional[1];
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(
        "usage: typelib_writer <in.tlb> <out.tlb> [--nonextensible=<type>]... "
        "[--name-as-helpstring=<enum>]... [--win32]\n",
        stderr);
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int code = 0;
  try {
    Writer(options).Run();
  } catch (const Failure& failure) {
    std::fprintf(stderr, "typelib_writer: %s failed: 0x%08lX\n", failure.what(),
                 static_cast<unsigned long>(failure.hr));
    code = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "typelib_writer: %s\n", e.what());
    code = 1;
  }
  CoUninitialize();
  if (code != 0) DeleteFileW(options.output.c_str());
  return code;
}
