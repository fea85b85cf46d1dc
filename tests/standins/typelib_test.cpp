// Type libraries of the automation runtime: the compiled library explored as a
// client would, late-bound Invoke on an object, corrupt files refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "automation/contract.h"
#include "platform/automation.h"
#include "quib_test_support.h"
#include "quibtest/oleaut.h"

namespace {

using quibtest::Ref;

std::u16string WidePath(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::vector<unsigned char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::u16string Str(BSTR b) { return b ? std::u16string(b, SysStringLen(b)) : u"(none)"; }

class CompiledLibrary : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(LoadTypeLib(WidePath(QUIB_TYPELIB_PATH).c_str(), lib.put()), S_OK); }
  Ref<ITypeLib> lib;

  Ref<ITypeInfo> Dual() {
    Ref<ITypeInfo> info;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_IquibVoiceRec, info.put()), S_OK);
    return Ref<ITypeInfo>(info.detach());
  }
};

TEST_F(CompiledLibrary, LibraryAttributesAndTypesInOrder) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, LIBID_QUIBVOICERECLib);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0u);
  EXPECT_EQ(attr->syskind, SYS_WIN32);
  EXPECT_EQ(attr->wLibFlags, 0);
  lib->ReleaseTLibAttr(attr);
  BSTR name = nullptr, doc = nullptr;
  DWORD context = 99;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, &context, nullptr), S_OK);
  EXPECT_EQ(Str(name), u"QUIBVOICERECLib");
  EXPECT_EQ(Str(doc), u"quibVoiceRec 1.0 Type Library");
  EXPECT_EQ(context, 0u);
  SysFreeString(name);
  SysFreeString(doc);

  struct Expected {
    const char16_t* name;
    TYPEKIND kind;
    GUID guid;
    WORD flags;
    const char16_t* help;
  } types[] = {
      {u"_IquibVoiceRecEvents", TKIND_DISPATCH, DIID__IquibVoiceRecEvents, 0x1000, u"_IquibVoiceRecEvents Interface"},
      {u"quibVoiceRec", TKIND_COCLASS, CLSID_quibVoiceRec, 0x2, u"quibVoiceRec Class"},
      {u"IquibVoiceRec", TKIND_DISPATCH, IID_IquibVoiceRec, 0x1140, u"IquibVoiceRec Interface"},
  };
  ASSERT_EQ(lib->GetTypeInfoCount(), 3u);
  for (UINT i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    Ref<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfo(i, info.put()), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, types[i].kind);
    EXPECT_EQ(ta->guid, types[i].guid);
    EXPECT_EQ(ta->wTypeFlags, types[i].flags);
    EXPECT_EQ(ta->wMajorVerNum, 0);
    info->ReleaseTypeAttr(ta);
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(name), types[i].name);
    EXPECT_EQ(Str(doc), types[i].help);
    SysFreeString(name);
    SysFreeString(doc);
    Ref<ITypeLib> containing;
    UINT index = 99;
    ASSERT_EQ(info->GetContainingTypeLib(containing.put(), &index), S_OK);
    EXPECT_EQ(containing.get(), lib.get());
    EXPECT_EQ(index, i);
  }
  Ref<ITypeInfo> missing;
  EXPECT_EQ(lib->GetTypeInfo(3, missing.put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(CompiledLibrary, DualInterfaceMembersAsTabled) {
  struct Member {
    MEMBERID id;
    const char16_t* name;
    INVOKEKIND kind;
    SHORT slot;
    std::vector<std::u16string> params;
    std::vector<VARTYPE> types;
    USHORT lastFlags;
    const char16_t* help;
  } members[] = {
      {1, u"Init", INVOKE_FUNC, 7, {u"filename", u"hwnd", u"style"}, {VT_BSTR, VT_I4, VT_I4}, 0, u"method Init"},
      {2, u"hwnd", INVOKE_PROPERTYGET, 8, {u"pVal"}, {VT_PTR}, 0xA, u"property HWnd"},
      {3, u"Record", INVOKE_FUNC, 9, {u"filename"}, {VT_BSTR}, 0, u"method Record"},
      {4, u"Play", INVOKE_FUNC, 10, {}, {}, 0, u"method Play"},
      {5, u"Stop", INVOKE_FUNC, 11, {}, {}, 0, u"method Stop"},
      {6, u"Save", INVOKE_FUNC, 12, {}, {}, 0, u"method Save"},
      {7, u"Discard", INVOKE_FUNC, 13, {}, {}, 0, u"method Discard"},
      {8, u"Show", INVOKE_FUNC, 14, {}, {}, 0, u"method Show"},
      {9, u"Hide", INVOKE_FUNC, 15, {}, {}, 0, u"method Hide"},
      {10, u"PlayFile", INVOKE_FUNC, 16, {u"filename"}, {VT_BSTR}, 0, u"method PlayFile"},
      {11, u"Active", INVOKE_PROPERTYGET, 17, {u"pVal"}, {VT_PTR}, 0xA, u"property Active"},
  };
  Ref<ITypeInfo> info = Dual();
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&ta), S_OK);
  ASSERT_EQ(ta->cFuncs, 11);
  EXPECT_EQ(ta->cbSizeVft, 18 * sizeof(void*));
  EXPECT_EQ(ta->cImplTypes, 1);
  info->ReleaseTypeAttr(ta);
  for (UINT i = 0; i < 11; ++i) {
    const Member& m = members[i];
    SCOPED_TRACE(i);
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &fd), S_OK);
    EXPECT_EQ(fd->memid, m.id);
    EXPECT_EQ(fd->invkind, m.kind);
    EXPECT_EQ(fd->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(fd->callconv, CC_STDCALL);
    EXPECT_EQ(fd->oVft, static_cast<SHORT>(m.slot * sizeof(void*)));
    EXPECT_EQ(fd->wFuncFlags, 0);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(fd->cParams, static_cast<SHORT>(m.params.size()));
    for (std::size_t p = 0; p < m.types.size(); ++p) {
      EXPECT_EQ(fd->lprgelemdescParam[p].tdesc.vt, m.types[p]);
      USHORT expected = p + 1 == m.types.size() ? m.lastFlags : 0;
      EXPECT_EQ(fd->lprgelemdescParam[p].paramdesc.wParamFlags, expected);
      if (m.types[p] == VT_PTR) {
        EXPECT_EQ(fd->lprgelemdescParam[p].tdesc.lptdesc->vt, VT_I4);
      }
    }
    info->ReleaseFuncDesc(fd);
    BSTR names[4] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(m.id, names, 4, &count), S_OK);
    ASSERT_EQ(count, m.params.size() + 1);
    EXPECT_EQ(Str(names[0]), m.name);
    for (UINT p = 1; p < count; ++p) EXPECT_EQ(Str(names[p]), m.params[p - 1]);
    for (UINT p = 0; p < count; ++p) SysFreeString(names[p]);
    BSTR doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(m.id, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Str(doc), m.help);
    SysFreeString(doc);
  }
}

TEST_F(CompiledLibrary, NamesResolveIgnoringCaseWithParameterPositions) {
  Ref<ITypeInfo> info = Dual();
  struct Case {
    std::vector<std::u16string> names;
    HRESULT hr;
    std::vector<MEMBERID> ids;
  } cases[] = {
      {{u"HWnd"}, S_OK, {2}},
      {{u"hwnd"}, S_OK, {2}},
      {{u"HWND"}, S_OK, {2}},
      {{u"play"}, S_OK, {4}},
      {{u"Init", u"hwnd"}, S_OK, {1, 1}},
      {{u"Init", u"style"}, S_OK, {1, 2}},
      {{u"init", u"FILENAME", u"Style"}, S_OK, {1, 0, 2}},
      {{u"Init", u"nosuch"}, DISP_E_UNKNOWNNAME, {1, DISPID_UNKNOWN}},
      {{u"Nosuch", u"hwnd"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN, DISPID_UNKNOWN}},
      {{u"Active", u"pVal"}, S_OK, {11, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.names[0].begin(), c.names[0].end()));
    std::vector<LPOLESTR> names;
    std::vector<std::u16string> copies = c.names;
    for (auto& n : copies) names.push_back(n.data());
    std::vector<MEMBERID> ids(names.size(), 12345);
    EXPECT_EQ(info->GetIDsOfNames(names.data(), static_cast<UINT>(names.size()), ids.data()), c.hr);
    EXPECT_EQ(ids, c.ids);
  }
}

TEST_F(CompiledLibrary, CoclassNamesItsDefaultSourceInterface) {
  Ref<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_quibVoiceRec, coclass.put()), S_OK);
  INT flags[2] = {};
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags[0]), S_OK);
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags[1]), S_OK);
  EXPECT_EQ(flags[0], IMPLTYPEFLAG_FDEFAULT);
  EXPECT_EQ(flags[1], IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  HREFTYPE ref = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
  Ref<ITypeInfo> events;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, events.put()), S_OK);
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(events->GetTypeAttr(&ta), S_OK);
  EXPECT_EQ(ta->guid, DIID__IquibVoiceRecEvents);
  EXPECT_EQ(ta->cFuncs, 1);
  events->ReleaseTypeAttr(ta);
  FUNCDESC* fd = nullptr;
  ASSERT_EQ(events->GetFuncDesc(0, &fd), S_OK);
  EXPECT_EQ(fd->memid, 1);
  EXPECT_EQ(fd->funckind, FUNC_DISPATCH);
  ASSERT_EQ(fd->cParams, 3);
  EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_INT);
  EXPECT_EQ(fd->lprgelemdescParam[1].tdesc.vt, VT_I4);
  EXPECT_EQ(fd->lprgelemdescParam[2].tdesc.vt, VT_I4);
  events->ReleaseFuncDesc(fd);
  EXPECT_EQ(coclass->GetImplTypeFlags(2, &flags[0]), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(CompiledLibrary, BaseInterfaceComesFromTheStandardLibrary) {
  Ref<ITypeInfo> info = Dual();
  HREFTYPE ref = 0;
  ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
  Ref<ITypeInfo> base;
  ASSERT_EQ(info->GetRefTypeInfo(ref, base.put()), S_OK);
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(base->GetTypeAttr(&ta), S_OK);
  EXPECT_EQ(ta->guid, IID_IDispatch);
  EXPECT_EQ(ta->cFuncs, 4);
  base->ReleaseTypeAttr(ta);
  Ref<ITypeLib> stdole;
  UINT index = 0;
  ASSERT_EQ(base->GetContainingTypeLib(stdole.put(), &index), S_OK);
  TLIBATTR* la = nullptr;
  ASSERT_EQ(stdole->GetLibAttr(&la), S_OK);
  EXPECT_EQ(la->guid, LIBID_stdole);
  EXPECT_EQ(la->wMajorVerNum, 2);
  stdole->ReleaseTLibAttr(la);
  Ref<ITypeLib> byName;
  ASSERT_EQ(LoadTypeLib(u"stdole2.tlb", byName.put()), S_OK);
  EXPECT_EQ(byName.get(), stdole.get());
}

TEST_F(CompiledLibrary, TypeInfosKeepTheirLibraryAlive) {
  long live = quibtest::LiveTypeLibraries();
  Ref<ITypeInfo> info = Dual();
  Ref<ITypeInfo2> info2;
  ASSERT_EQ(info->QueryInterface(IID_ITypeInfo2, info2.put_void()), S_OK);
  ULONG flags = 0;
  EXPECT_EQ(info2->GetTypeFlags(&flags), S_OK);
  EXPECT_EQ(flags, 0x1140u);
  UINT index = 99;
  EXPECT_EQ(info2->GetFuncIndexOfMemId(11, INVOKE_PROPERTYGET, &index), S_OK);
  EXPECT_EQ(index, 10u);
  lib.reset();
  EXPECT_EQ(quibtest::LiveTypeLibraries(), live);
  info.reset();
  info2.reset();
  EXPECT_EQ(quibtest::LiveTypeLibraries(), live - 1);
}

TEST_F(CompiledLibrary, IsNameAndFindName) {
  std::u16string name = u"HWND";
  BOOL found = FALSE;
  ASSERT_EQ(lib->IsName(name.data(), 0, &found), S_OK);
  EXPECT_TRUE(found);
  EXPECT_EQ(name, u"hwnd");
  ITypeInfo* infos[2] = {};
  MEMBERID ids[2] = {};
  USHORT count = 2;
  std::u16string play = u"play";
  ASSERT_EQ(lib->FindName(play.data(), 0, infos, ids, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(ids[0], 4);
  infos[0]->Release();
}

// ---- Corrupt libraries ------------------------------------------------------

void Put32(std::vector<unsigned char>& d, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t Get32(const std::vector<unsigned char>& d, std::size_t at) {
  return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<std::uint32_t>(d[at + 3]) << 24;
}
// Offset of section s's first record (directory at 16, 8 bytes a row).
std::size_t SectionAt(const std::vector<unsigned char>& d, int s) { return Get32(d, 16 + 8 * s); }

HRESULT LoadBytes(const std::vector<unsigned char>& bytes) {
  std::string path = ::testing::TempDir() + "corrupt.tlb";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLib(WidePath(path).c_str(), &lib);
  if (lib) lib->Release();
  std::remove(path.c_str());
  return hr;
}

TEST(CorruptLibrary, IsRefusedWithoutReadingPastTheData) {
  const std::vector<unsigned char> good = ReadAll(QUIB_TYPELIB_PATH);
  ASSERT_GT(good.size(), 96u);
  ASSERT_EQ(LoadBytes(good), S_OK);
  using Edit = void (*)(std::vector<unsigned char>&);
  struct Case {
    const char* label;
    Edit edit;
    HRESULT hr;
  } cases[] = {
      {"empty", [](auto& d) { d.clear(); }, TYPE_E_CANTLOADLIBRARY},
      {"header cut short", [](auto& d) { d.resize(40); }, TYPE_E_INVDATAREAD},
      {"last byte missing", [](auto& d) { d.pop_back(); }, TYPE_E_INVDATAREAD},
      {"truncated, size field adjusted", [](auto& d) { d.resize(d.size() / 2); Put32(d, 8, static_cast<std::uint32_t>(d.size())); }, TYPE_E_INVDATAREAD},
      {"bad magic", [](auto& d) { d[0] = 'X'; d[1] = 'X'; }, TYPE_E_CANTLOADLIBRARY},
      {"future format version", [](auto& d) { d[4] = 2; }, TYPE_E_UNSUPFORMAT},
      {"section offset past the end", [](auto& d) { Put32(d, 16 + 8 * 6, 0x7FFFFFF0); }, TYPE_E_INVDATAREAD},
      {"section offset inside the header", [](auto& d) { Put32(d, 16 + 8 * 7, 8); }, TYPE_E_INVDATAREAD},
      {"huge function count", [](auto& d) { Put32(d, 16 + 8 * 7 + 4, 0x10000000); }, TYPE_E_INVDATAREAD},
      {"two library records", [](auto& d) { Put32(d, 16 + 4, 2); }, TYPE_E_INVDATAREAD},
      {"name index out of range", [](auto& d) { Put32(d, SectionAt(d, 0) + 28, 5000); }, TYPE_E_INVDATAREAD},
      {"string length past the text", [](auto& d) { Put32(d, SectionAt(d, 2) + 4, 0x40000000); }, TYPE_E_INVDATAREAD},
      {"name offset odd", [](auto& d) { Put32(d, SectionAt(d, 1), 1); }, TYPE_E_INVDATAREAD},
      {"type's functions past the table", [](auto& d) { Put32(d, SectionAt(d, 6) + 36, 0xFFFFFFF0); }, TYPE_E_INVDATAREAD},
      {"type's function count too big", [](auto& d) { Put32(d, SectionAt(d, 6) + 40, 500); }, TYPE_E_INVDATAREAD},
      {"unknown type kind", [](auto& d) { d[SectionAt(d, 6) + 24] = 9; }, TYPE_E_INVDATAREAD},
      {"parameter count past the table", [](auto& d) { Put32(d, SectionAt(d, 7) + 32, 0xFFFFFFFF); }, TYPE_E_INVDATAREAD},
      {"slot beyond the table", [](auto& d) { Put32(d, SectionAt(d, 7) + 40 + 24, 900); }, TYPE_E_INVDATAREAD},
      {"unknown parameter type", [](auto& d) { d[SectionAt(d, 8) + 8] = 0x7F; }, TYPE_E_INVDATAREAD},
      {"implemented type out of range", [](auto& d) { Put32(d, SectionAt(d, 9), 77); }, TYPE_E_INVDATAREAD},
      {"external import out of range", [](auto& d) { Put32(d, SectionAt(d, 5), 3); }, TYPE_E_INVDATAREAD},
      {"duplicate names ignoring case", [](auto& d) { Put32(d, SectionAt(d, 1) + 8, Get32(d, SectionAt(d, 1))); Put32(d, SectionAt(d, 1) + 12, Get32(d, SectionAt(d, 1) + 4)); }, TYPE_E_INVDATAREAD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<unsigned char> bytes = good;
    c.edit(bytes);
    EXPECT_EQ(LoadBytes(bytes), c.hr);
  }
  ITypeLib* none = nullptr;
  EXPECT_EQ(LoadTypeLib(u"/nonexistent/x.tlb", &none), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
