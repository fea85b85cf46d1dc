// TypeInfoHolder over a type information that counts what it is asked: the
// name cache answers exact-case member names, everything else falls through.
#include <gtest/gtest.h>

#include <string>

#include "automation/contract.h"
#include "automation/type_info_holder.h"
#include "platform/automation.h"
#include "quibtest/core.h"

namespace {

// Forwards to the compiled library's type information; counts calls and can
// fail the ones the holder makes while it loads.
struct CountingTypeInfo : ITypeInfo {
  ITypeInfo* inner = nullptr;
  ULONG refs = 1;
  int lookups = 0;
  bool failTypeAttr = false;
  UINT failFuncDesc = 999;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_ITypeInfo) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;  // no ITypeInfo2: the holder keeps this one
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeAttr(TYPEATTR** out) override { return failTypeAttr ? E_OUTOFMEMORY : inner->GetTypeAttr(out); }
  HRESULT GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
  HRESULT GetFuncDesc(UINT i, FUNCDESC** out) override {
    return i == failFuncDesc ? E_OUTOFMEMORY : inner->GetFuncDesc(i, out);
  }
  HRESULT GetVarDesc(UINT, VARDESC**) override { return E_NOTIMPL; }
  HRESULT GetNames(MEMBERID, BSTR*, UINT, UINT*) override { return E_NOTIMPL; }
  HRESULT GetRefTypeOfImplType(UINT, HREFTYPE*) override { return E_NOTIMPL; }
  HRESULT GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    ++lookups;
    return inner->GetIDsOfNames(names, count, ids);
  }
  HRESULT Invoke(void*, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  HRESULT GetDocumentation(MEMBERID m, BSTR* n, BSTR* d, DWORD* c, BSTR* f) override {
    return inner->GetDocumentation(m, n, d, c, f);
  }
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  HRESULT GetRefTypeInfo(HREFTYPE, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
  HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
  HRESULT GetContainingTypeLib(ITypeLib**, UINT*) override { return E_NOTIMPL; }
  void ReleaseTypeAttr(TYPEATTR* a) override { inner->ReleaseTypeAttr(a); }
  void ReleaseFuncDesc(FUNCDESC* d) override { inner->ReleaseFuncDesc(d); }
  void ReleaseVarDesc(VARDESC*) override {}
};

class HolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string path = QUIB_TYPELIB_PATH;
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLib(std::u16string(path.begin(), path.end()).c_str(), &lib), S_OK);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IquibVoiceRec, &info.inner), S_OK);
    lib->Release();
  }
  void TearDown() override {
    TypeInfoHolder::Cleanup(reinterpret_cast<std::uintptr_t>(&holder));
    info.inner->Release();
  }
  // A holder in the loaded state, as EnsureLoaded leaves it.
  void Load() {
    holder.LoadNameCache(&info);
    holder.typeInfo = &info;
  }
  DISPID Lookup(std::u16string name, HRESULT expected = S_OK) {
    LPOLESTR names[] = {name.data()};
    DISPID id = 12345;
    EXPECT_EQ(holder.GetIDsOfNames(names, 1, 0, &id), expected);
    return id;
  }

  CountingTypeInfo info;
  TypeInfoHolder holder{&IID_IquibVoiceRec, &LIBID_QUIBVOICERECLib, 1, 0, nullptr, nullptr, 0};
};

TEST_F(HolderTest, CacheAnswersExactCaseMemberNamesOnly) {
  Load();
  ASSERT_EQ(holder.cacheCount, 11);
  EXPECT_EQ(std::u16string(holder.nameCache[1].name), u"hwnd");
  struct Case {
    const char16_t* name;
    DISPID id;
    int lookups;  // calls that reached the type information
  } cases[] = {
      {u"Play", 4, 0}, {u"play", 4, 1}, {u"hwnd", 2, 0}, {u"HWnd", 2, 1}, {u"Active", 11, 0},
      {u"ACTIVE", 11, 1}, {u"Pla", DISPID_UNKNOWN, 1}, {u"PlayFileX", DISPID_UNKNOWN, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
    info.lookups = 0;
    EXPECT_EQ(Lookup(c.name, c.id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK), c.id);
    EXPECT_EQ(info.lookups, c.lookups);
  }
  std::u16string init = u"Init", hwnd = u"hwnd";
  LPOLESTR names[] = {init.data(), hwnd.data()};
  DISPID ids[2] = {};
  info.lookups = 0;
  EXPECT_EQ(holder.GetIDsOfNames(names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(info.lookups, 1);
}

TEST_F(HolderTest, WithoutTypeAttributesEveryNameGoesToTheTypeInformation) {
  info.failTypeAttr = true;
  Load();
  EXPECT_EQ(holder.cacheCount, 0);
  EXPECT_EQ(holder.nameCache, nullptr);
  info.lookups = 0;
  EXPECT_EQ(Lookup(u"Play"), 4);
  EXPECT_EQ(info.lookups, 1);
}

TEST_F(HolderTest, AnUnreadableFunctionLeavesItsEntryEmpty) {
  info.failFuncDesc = 3;  // Play
  Load();
  ASSERT_EQ(holder.cacheCount, 11);
  EXPECT_EQ(holder.nameCache[3].name, nullptr);
  EXPECT_EQ(holder.nameCache[3].length, 0);
  EXPECT_EQ(holder.nameCache[3].memberId, DISPID_UNKNOWN);
  info.lookups = 0;
  EXPECT_EQ(Lookup(u"Play"), 4);
  EXPECT_EQ(info.lookups, 1);
}

TEST_F(HolderTest, WithoutTheCacheArrayNothingIsCached) {
  quibtest::FailAllocation(quibtest::Allocator::Object, 1);
  Load();
  quibtest::ClearAllocationFaults();
  EXPECT_EQ(holder.cacheCount, 0);
  EXPECT_EQ(holder.nameCache, nullptr);
  EXPECT_EQ(Lookup(u"Stop"), 5);
}

TEST_F(HolderTest, CleanupReleasesOnceAndFreesTheNames) {
  std::size_t tasks = quibtest::LiveAllocations(quibtest::Allocator::TaskMemory);
  Load();
  EXPECT_EQ(quibtest::LiveAllocations(quibtest::Allocator::TaskMemory), tasks + 11);
  ULONG refs = info.refs;
  TypeInfoHolder::Cleanup(reinterpret_cast<std::uintptr_t>(&holder));
  EXPECT_EQ(info.refs, refs - 1);
  EXPECT_EQ(holder.typeInfo, nullptr);
  EXPECT_EQ(holder.nameCache, nullptr);
  EXPECT_EQ(quibtest::LiveAllocations(quibtest::Allocator::TaskMemory), tasks);
  TypeInfoHolder::Cleanup(reinterpret_cast<std::uintptr_t>(&holder));  // later registrations find nothing to do
  EXPECT_EQ(info.refs, refs - 1);
}

}  // namespace
