// The type libraries embedded in the server, read back as hosts read them:
// resource 1 for 64-bit hosts and resource 2 for 32-bit ones, alike but for
// the kind of system and the size of a function table entry.

#include <windows.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "common/text.h"
#include "tests/com/com_test_support.h"

namespace qel::test {
namespace {

using com::Bstr;

// The identifiers as published, written out here rather than taken from the
// generated declarations, which come from the same IDL as the library.
GUID GuidOf(const wchar_t* text) {
  GUID guid{};
  CLSIDFromString(text, &guid);
  return guid;
}
const GUID kLibrary = GuidOf(L"{44CED971-D167-4345-84DE-C64A3B243389}");
const GUID kClass = GuidOf(L"{E9631264-9B44-48AB-BB3B-BF40BA1DF84F}");
const GUID kInterface = GuidOf(L"{547A2363-289C-4AC8-BD5B-5BA72D9BE7F4}");
const GUID kEvents = GuidOf(L"{5BC960AA-2605-4A00-B726-FA5E15D80B78}");
const GUID kErrors = GuidOf(L"{BB522F88-DF18-45E0-A8EA-F12CC6F2E9A6}");
const GUID kStdOle2 = GuidOf(L"{00020430-0000-0000-C000-000000000046}");

struct Parameter {
  const char16_t* name;  // nullptr: the member's result
  VARTYPE type;
};
struct Member {
  const char16_t* name;
  INVOKEKIND kind;
  MEMBERID id;
  std::vector<Parameter> parameters;
};

// The dual interface's members, in function table order.
const std::vector<Member> kMembers = {
    {u"IsActive", INVOKE_FUNC, 0x60030007, {{nullptr, VT_BOOL}}},
    {u"StartCheck", INVOKE_FUNC, 0x60030008, {{u"strURL", VT_BSTR}}},
    {u"IsUpgradeAvailable",
     INVOKE_FUNC,
     0x6003000A,
     {{u"lMajor", VT_I4}, {u"lMinor", VT_I4}, {u"lBuild", VT_I4}, {nullptr, VT_BOOL}}},
    {u"Major", INVOKE_PROPERTYGET, 0x68030004, {{nullptr, VT_I4}}},
    {u"Minor", INVOKE_PROPERTYGET, 0x68030003, {{nullptr, VT_I4}}},
    {u"Build", INVOKE_PROPERTYGET, 0x68030002, {{nullptr, VT_I4}}},
    {u"UpdateURL", INVOKE_PROPERTYGET, 0x68030001, {{nullptr, VT_BSTR}}},
    {u"VersionHistory", INVOKE_PROPERTYGET, 0x68030000, {{nullptr, VT_BSTR}}},
};

std::u16string NameOf(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
  Bstr name;
  info->GetDocumentation(id, name.Put(), nullptr, nullptr, nullptr);
  return name.Text();
}

std::u16string DocOf(ITypeInfo* info, MEMBERID id) {
  Bstr doc;
  info->GetDocumentation(id, nullptr, doc.Put(), nullptr, nullptr);
  return doc.Text();
}

std::vector<std::u16string> NamesOf(ITypeInfo* info, MEMBERID id) {
  BSTR names[8] = {};
  UINT count = 0;
  info->GetNames(id, names, 8, &count);
  std::vector<std::u16string> result;
  for (UINT i = 0; i < count; ++i) result.push_back(Bstr::Attach(names[i]).Text());
  return result;
}

ComPtr<ITypeInfo> ImplType(ITypeInfo* info, UINT index) {
  HREFTYPE href = 0;
  ComPtr<ITypeInfo> result;
  if (SUCCEEDED(info->GetRefTypeOfImplType(index, &href))) info->GetRefTypeInfo(href, result.Put());
  return result;
}

// TYPEATTR, released with its type info.
class Attr {
 public:
  explicit Attr(ITypeInfo* info) : m_info(info) { m_info->GetTypeAttr(&m_attr); }
  ~Attr() {
    if (m_attr) m_info->ReleaseTypeAttr(m_attr);
  }
  Attr(const Attr&) = delete;
  Attr& operator=(const Attr&) = delete;
  const TYPEATTR* operator->() const { return m_attr; }

 private:
  ITypeInfo* m_info;
  TYPEATTR* m_attr = nullptr;
};

struct Embedded {
  const char* name;
  const wchar_t* resourceSuffix;  // after the executable's path
  SYSKIND syskind;
  SHORT pointerSize;
};
void PrintTo(const Embedded& library, std::ostream* os) { *os << library.name; }

class TypeLibraryCom : public ::testing::TestWithParam<Embedded> {
 protected:
  void SetUp() override {
    const std::wstring path = ServerPath() + GetParam().resourceSuffix;
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, m_library.Put()), S_OK);
  }
  ComPtr<ITypeInfo> Info(REFGUID guid) {
    ComPtr<ITypeInfo> info;
    m_library->GetTypeInfoOfGuid(guid, info.Put());
    return info;
  }
  ComPtr<ITypeLib> m_library;
};

TEST_P(TypeLibraryCom, TheLibrary) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(m_library->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, kLibrary));
  EXPECT_EQ(attr->lcid, 0x409u);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->syskind, GetParam().syskind);
  m_library->ReleaseTLibAttr(attr);
  Bstr name, doc, helpFile;
  ASSERT_EQ(m_library->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, helpFile.Put()), S_OK);
  EXPECT_EQ(name.Text(), u"QELUpdateCheck1_1");
  EXPECT_EQ(doc.Text(), u"QEL Update Checker V1.1");
  EXPECT_EQ(helpFile.Text(), u"");

  // In this order; nothing else.
  const std::vector<std::u16string> expected = {u"UpdateCheckErrors", u"_UpdateCheck",
                                                u"__UpdateCheck", u"UpdateCheck"};
  std::vector<std::u16string> types;
  for (UINT i = 0; i < m_library->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(m_library->GetTypeInfo(i, info.Put()), S_OK);
    types.push_back(NameOf(info.Get()));
  }
  EXPECT_EQ(types, expected);
}

TEST_P(TypeLibraryCom, TheErrorNumbers) {
  const ComPtr<ITypeInfo> info = Info(kErrors);
  ASSERT_TRUE(info);
  const Attr attr(info.Get());
  EXPECT_EQ(attr->typekind, TKIND_ENUM);
  ASSERT_EQ(attr->cVars, 4);
  const struct {
    const char16_t* name;
    int32_t value;
  } expected[] = {{u"uceBusy", -2147219003},
                  {u"uceAsync", -2147219002},
                  {u"uceNotFound", -2147219001},
                  {u"uceInvalidFile", -2147219000}};
  for (UINT i = 0; i < 4; ++i) {
    VARDESC* var = nullptr;
    ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
    EXPECT_EQ(var->varkind, VAR_CONST);
    ASSERT_TRUE(var->lpvarValue);
    EXPECT_EQ(var->lpvarValue->vt, VT_I4);
    EXPECT_EQ(var->lpvarValue->lVal, expected[i].value);
    EXPECT_EQ(NameOf(info.Get(), var->memid), expected[i].name);
    EXPECT_EQ(DocOf(info.Get(), var->memid), expected[i].name);
    info->ReleaseVarDesc(var);
  }
}

TEST_P(TypeLibraryCom, TheDualInterface) {
  const ComPtr<ITypeInfo> dispatchSide = Info(kInterface);
  ASSERT_TRUE(dispatchSide);
  {
    const Attr attr(dispatchSide.Get());
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    const WORD flags =
        TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(attr->wTypeFlags & flags, flags);
  }
  const ComPtr<ITypeInfo> info = ImplType(dispatchSide.Get(), static_cast<UINT>(-1));
  ASSERT_TRUE(info);
  const Attr attr(info.Get());
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(IsEqualGUID(attr->guid, kInterface));
  const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE |
                     TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
  EXPECT_EQ(attr->wTypeFlags & flags, flags);
  ASSERT_EQ(attr->cImplTypes, 1);
  const ComPtr<ITypeInfo> base = ImplType(info.Get(), 0);
  ASSERT_TRUE(base);
  EXPECT_EQ(NameOf(base.Get()), u"IDispatch");
  ComPtr<ITypeLib> baseLibrary;
  UINT index = 0;
  ASSERT_EQ(base->GetContainingTypeLib(baseLibrary.Put(), &index), S_OK);
  TLIBATTR* baseAttr = nullptr;
  ASSERT_EQ(baseLibrary->GetLibAttr(&baseAttr), S_OK);
  EXPECT_TRUE(IsEqualGUID(baseAttr->guid, kStdOle2));
  baseLibrary->ReleaseTLibAttr(baseAttr);

  ASSERT_EQ(attr->cFuncs, static_cast<WORD>(kMembers.size()));
  // The table's size as the library stores it, in the host's entries.
  EXPECT_EQ(attr->cbSizeVft, (7 + kMembers.size()) * GetParam().pointerSize);
  for (UINT i = 0; i < kMembers.size(); ++i) {
    const Member& member = kMembers[i];
    SCOPED_TRACE(TextToUtf8(member.name));
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
    EXPECT_EQ(func->memid, member.id);
    EXPECT_EQ(func->invkind, member.kind);
    EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(func->callconv, CC_STDCALL);
    // Behind IDispatch's seven entries. Wine's reader gives every library's
    // offsets in the reading process's entries.
    EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(func->cParams, static_cast<SHORT>(member.parameters.size()));
    const std::vector<std::u16string> names = NamesOf(info.Get(), func->memid);
    ASSERT_GE(names.size(), 1u);
    EXPECT_EQ(names[0], member.name);
    for (SHORT p = 0; p < func->cParams; ++p) {
      const Parameter& expected = member.parameters[p];
      const ELEMDESC& param = func->lprgelemdescParam[p];
      if (expected.name) {
        EXPECT_EQ(param.tdesc.vt, expected.type);
        EXPECT_EQ(param.paramdesc.wParamFlags, PARAMFLAG_FIN);
        ASSERT_GT(names.size(), static_cast<size_t>(p + 1));
        EXPECT_EQ(names[p + 1], expected.name);
      } else {
        ASSERT_EQ(param.tdesc.vt, VT_PTR);
        EXPECT_EQ(param.tdesc.lptdesc->vt, expected.type);
        EXPECT_EQ(param.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
      }
    }
    info->ReleaseFuncDesc(func);
  }
}

TEST_P(TypeLibraryCom, TheEventInterface) {
  const ComPtr<ITypeInfo> info = Info(kEvents);
  ASSERT_TRUE(info);
  const Attr attr(info.Get());
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  const WORD flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
  EXPECT_EQ(attr->wTypeFlags & flags, flags);
  EXPECT_EQ(attr->wTypeFlags & TYPEFLAG_FDUAL, 0);
  // The system's writer lists IDispatch's own entries too, all restricted;
  // the one member a host can see is the event.
  std::vector<std::u16string> visible;
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
    if (!(func->wFuncFlags & FUNCFLAG_FRESTRICTED)) {
      visible.push_back(NameOf(info.Get(), func->memid));
      EXPECT_EQ(func->memid, 1);
      EXPECT_EQ(func->invkind, INVOKE_FUNC);
      EXPECT_EQ(func->funckind, FUNC_DISPATCH);
      EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_VOID);
      ASSERT_EQ(func->cParams, 2);
      EXPECT_EQ(func->lprgelemdescParam[0].tdesc.vt, VT_I4);
      EXPECT_EQ(func->lprgelemdescParam[1].tdesc.vt, VT_BSTR);
      EXPECT_EQ(NamesOf(info.Get(), func->memid),
                (std::vector<std::u16string>{u"UpdateCheckComplete", u"lErrorNumber",
                                             u"strErrorDescription"}));
    }
    info->ReleaseFuncDesc(func);
  }
  EXPECT_EQ(visible, std::vector<std::u16string>{u"UpdateCheckComplete"});
}

TEST_P(TypeLibraryCom, TheClass) {
  const ComPtr<ITypeInfo> info = Info(kClass);
  ASSERT_TRUE(info);
  const Attr attr(info.Get());
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->wTypeFlags & TYPEFLAG_FCANCREATE, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(NameOf(info.Get()), u"UpdateCheck");
  ASSERT_EQ(attr->cImplTypes, 2);
  const struct {
    GUID guid;
    INT flags;
  } expected[] = {{kInterface, IMPLTYPEFLAG_FDEFAULT},
                  {kEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
  for (UINT i = 0; i < 2; ++i) {
    const ComPtr<ITypeInfo> implemented = ImplType(info.Get(), i);
    ASSERT_TRUE(implemented);
    const Attr implementedAttr(implemented.Get());
    EXPECT_TRUE(IsEqualGUID(implementedAttr->guid, expected[i].guid));
    INT implFlags = 0;
    EXPECT_EQ(info->GetImplTypeFlags(i, &implFlags), S_OK);
    EXPECT_EQ(implFlags, expected[i].flags);
  }
}

INSTANTIATE_TEST_SUITE_P(Resources, TypeLibraryCom,
                         ::testing::Values(Embedded{"win64", L"", SYS_WIN64, 8},
                                           Embedded{"win32", L"\\2", SYS_WIN32, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel::test
