// Late-bound clients of the recorder: the type library registered from the
// library's own file, every member driven by name through GetIDsOfNames and
// Invoke with the variants a script passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include <string>
#include <vector>

#include "automation/contract.h"
#include "platform/automation.h"
#include "platform/registry.h"
#include "platform/windowing.h"
#include "quib_test_support.h"
#include "quibtest/core.h"
#include "quibtest/oleaut.h"
#include "quibtest/registry.h"
#include "quibtest/voicectl.h"

namespace {

using quibtest::LoadedLibrary;
using quibtest::Ref;

VARIANT I4(LONG x) { VARIANT v; VariantInit(&v); v.vt = VT_I4; v.lVal = x; return v; }
VARIANT R8(double x) { VARIANT v; VariantInit(&v); v.vt = VT_R8; v.dblVal = x; return v; }
VARIANT Str(const std::u16string& s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s.c_str());
  return v;
}

class DispatchClient : public ::testing::Test {
 protected:
  void SetUp() override {
    quibtest::UseRegistry(":memory:");
    live_ = quibtest::LiveTypeLibraries();
    library_ = std::make_unique<LoadedLibrary>();
    ASSERT_NE(library_->getClassObject, nullptr);
    ASSERT_EQ(library_->CreateInstance(CLSID_quibVoiceRec, IID_IDispatch, dispatch_.put_void()), S_OK);
    parent_ = CreateWindowWithProc(nullptr, WS_VISIBLE, 0, 0, 240, 320, 0, 0);
    quibtest::ResetVoiceSource();
  }
  void TearDown() override {
    dispatch_.reset();
    library_.reset();
    DestroyWindow(parent_);
    EXPECT_EQ(quibtest::LiveTypeLibraries(), live_) << "unload releases the type information";
    quibtest::ResetRegistry();
  }
  void Register() {
    Ref<ITypeLib> lib;
    std::u16string path = quibtest::Wide(QUIB_LIBRARY_PATH);
    ASSERT_EQ(LoadTypeLib(path.c_str(), lib.put()), S_OK);
    ASSERT_EQ(RegisterTypeLib(lib.get(), path.c_str(), u"/"), S_OK);
  }
  DISPID Id(const char16_t* name) {
    std::u16string copy = name;
    LPOLESTR names[] = {copy.data()};
    DISPID id = 12345;
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return id;
  }
  HRESULT Call(const char16_t* name, std::vector<VARIANT> args, VARIANT* result = nullptr,
               WORD flags = DISPATCH_METHOD) {
    std::reverse(args.begin(), args.end());  // the last argument comes first
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO exception{};
    UINT argError = 0;
    HRESULT hr = dispatch_->Invoke(Id(name), IID_NULL, 0, flags, &params, result, &exception, &argError);
    for (VARIANT& v : args) VariantClear(&v);
    return hr;
  }
  LONG Property(const char16_t* name) {
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Call(name, {}, &result, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    return result.lVal;
  }

  long live_ = 0;
  std::unique_ptr<LoadedLibrary> library_;
  Ref<IDispatch> dispatch_;
  HWND parent_ = 0;
};

TEST_F(DispatchClient, DrivesEveryMemberByName) {
  Register();
  std::u16string file = quibtest::Wide(::testing::TempDir() + "dispatch_note.wav");
  EXPECT_EQ(Property(u"Active"), 0);
  EXPECT_EQ(Property(u"HWnd"), 0);
  // Init as a script passes it: a string, a double window handle, a string style.
  ASSERT_EQ(Call(u"Init", {Str(file), R8(static_cast<double>(parent_)), Str(u"0")}), S_OK);
  EXPECT_NE(Property(u"HWnd"), 0);
  EXPECT_NE(Property(u"hwnd"), 0);
  for (const char16_t* name : {u"Show", u"Hide", u"Record", u"Stop", u"Play", u"Stop", u"Save"}) {
    SCOPED_TRACE(std::string(name, name + std::char_traits<char16_t>::length(name)));
    if (std::u16string(name) == u"Record") {
      EXPECT_EQ(Call(name, {Str(file)}), S_OK);
    } else {
      EXPECT_TRUE(SUCCEEDED(Call(name, {})));
    }
  }
  Property(u"Active");
  EXPECT_EQ(Call(u"PlayFile", {Str(file)}), S_OK);
  EXPECT_EQ(Call(u"Discard", {}), S_OK);
  EXPECT_EQ(Property(u"HWnd"), 0);
  // Members that need a control report S_FALSE: no error for the caller.
  EXPECT_EQ(Call(u"Play", {}), S_OK);
  EXPECT_EQ(Call(u"Init", {I4(1), I4(2)}), DISP_E_BADPARAMCOUNT);
}

TEST_F(DispatchClient, NamesResolveThroughTheCacheOrTheTypeInformation) {
  Register();
  struct Case {
    std::vector<std::u16string> names;
    HRESULT hr;
    std::vector<DISPID> ids;
  } cases[] = {
      {{u"Play"}, S_OK, {4}},
      {{u"play"}, S_OK, {4}},
      {{u"hwnd"}, S_OK, {2}},
      {{u"HWnd"}, S_OK, {2}},
      {{u"Init", u"hwnd"}, S_OK, {1, 1}},
      {{u"Init", u"style"}, S_OK, {1, 2}},
      {{u"Nothing"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
      {{u"Init", u"colour"}, DISP_E_UNKNOWNNAME, {1, DISPID_UNKNOWN}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.names[0].begin(), c.names[0].end()));
    std::vector<std::u16string> copies = c.names;
    std::vector<LPOLESTR> names;
    for (auto& n : copies) names.push_back(n.data());
    std::vector<DISPID> ids(names.size(), 12345);
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), 0, ids.data()), c.hr);
    EXPECT_EQ(ids, c.ids);
  }
  DISPID untouched = 12345;
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, nullptr, 0, 0, &untouched), S_OK);
  EXPECT_EQ(untouched, 12345);
}

TEST_F(DispatchClient, TypeInfoCountAndTheSharedTypeInformation) {
  Register();
  UINT count = 0;
  EXPECT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(dispatch_->GetTypeInfoCount(nullptr), E_POINTER);
  EXPECT_EQ(dispatch_->GetTypeInfo(0, 0, nullptr), E_POINTER);
  Ref<ITypeInfo> first, second;
  ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, first.put()), S_OK);
  ULONG refs = quibtest::RefCountOf(first.get());
  ASSERT_EQ(dispatch_->GetTypeInfo(5, 0, second.put()), S_OK);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(quibtest::RefCountOf(first.get()), refs + 1);
  // The dual face's slots are the ones the type information records.
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attr), S_OK);
  UINT funcs = attr->cFuncs;
  first->ReleaseTypeAttr(attr);
  Ref<IquibVoiceRec> dual;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IquibVoiceRec, dual.put_void()), S_OK);
  for (UINT i = 0; i < funcs; ++i) {
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(first->GetFuncDesc(i, &fd), S_OK);
    EXPECT_EQ(fd->oVft / static_cast<SHORT>(sizeof(void*)), static_cast<SHORT>(7 + i));
    std::vector<VARIANT> args;
    for (SHORT p = 0; p < fd->cParams; ++p)
      if (!(fd->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL))
        args.push_back(fd->lprgelemdescParam[p].tdesc.vt == VT_BSTR ? Str(u"") : I4(0));
    std::reverse(args.begin(), args.end());
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VARIANT result;
    VariantInit(&result);
    // Reached: a success, or the member's own failure (Init refuses window 0).
    HRESULT hr = first->Invoke(dual.get(), fd->memid, static_cast<WORD>(fd->invkind), &params, &result, nullptr, nullptr);
    EXPECT_TRUE(hr == S_OK || hr == DISP_E_EXCEPTION) << "member " << fd->memid << " gave " << std::hex << hr;
    VariantClear(&result);
    for (VARIANT& v : args) VariantClear(&v);
    first->ReleaseFuncDesc(fd);
  }
}

TEST_F(DispatchClient, CallsBeforeRegistrationFailAndEachAddsOneCleanup) {
  using quibtest::Allocator;
  Ref<ITypeInfo> info;
  std::u16string play = u"Play";
  LPOLESTR names[] = {play.data()};
  DISPID id = 12345;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  std::size_t nodes = quibtest::LiveAllocations(Allocator::Object);
  EXPECT_EQ(dispatch_->GetTypeInfo(0, 0, info.put()), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(info.get(), nullptr);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), nodes + 1);
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(id, 12345);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), nodes + 2);
  EXPECT_EQ(dispatch_->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), nodes + 3);
  Register();
  EXPECT_EQ(dispatch_->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(quibtest::LiveTypeLibraries(), live_ + 1);
  // Loaded now: no more registrations.
  std::size_t loaded = quibtest::LiveAllocations(Allocator::Object);
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 4);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), loaded);
}

TEST_F(DispatchClient, RegistrationWritesWhatClientsExpect) {
  Register();
  auto read = [](const std::u16string& key, const char16_t* value = nullptr) {
    HKEY h = 0;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != 0) return std::u16string(u"(missing)");
    WCHAR buffer[300] = {};
    DWORD size = sizeof buffer, type = 0;
    LONG rc = RegQueryValueExW(h, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(h);
    return rc == 0 ? std::u16string(buffer) : std::u16string(u"(no value)");
  };
  const std::u16string lib = u"TypeLib\\{6E3A5C13-2B7D-4F18-A9C4-5D0E7B31F2A8}\\1.0";
  EXPECT_EQ(read(lib), u"quibVoiceRec 1.0 Type Library");
  EXPECT_EQ(read(lib + u"\\0\\win32"), quibtest::Wide(QUIB_LIBRARY_PATH));
  EXPECT_EQ(read(lib + u"\\FLAGS"), u"0");
  EXPECT_EQ(read(lib + u"\\HELPDIR"), u"/");
  for (const char16_t* iid : {u"{6E3A5C21-2B7D-4F18-A9C4-5D0E7B31F2A8}", u"{6E3A5C23-2B7D-4F18-A9C4-5D0E7B31F2A8}"}) {
    std::u16string key = std::u16string(u"Interface\\") + iid;
    EXPECT_EQ(read(key + u"\\TypeLib"), u"{6E3A5C13-2B7D-4F18-A9C4-5D0E7B31F2A8}");
    EXPECT_EQ(read(key + u"\\TypeLib", u"Version"), u"1.0");
    EXPECT_NE(read(key + u"\\ProxyStubClsid32"), u"(missing)");
  }
  EXPECT_EQ(read(u"Interface\\{6E3A5C21-2B7D-4F18-A9C4-5D0E7B31F2A8}"), u"IquibVoiceRec");
  EXPECT_EQ(UnRegisterTypeLib(LIBID_QUIBVOICERECLib, 1, 0, 0, SYS_WIN32), S_OK);
  EXPECT_EQ(read(lib), u"(missing)");
  EXPECT_EQ(read(u"Interface\\{6E3A5C23-2B7D-4F18-A9C4-5D0E7B31F2A8}"), u"(missing)");
  EXPECT_EQ(read(u"TypeLib\\{6E3A5C13-2B7D-4F18-A9C4-5D0E7B31F2A8}"), u"(missing)");
  ITypeLib* none = nullptr;
  EXPECT_EQ(LoadRegTypeLib(LIBID_QUIBVOICERECLib, 1, 0, 0, &none), TYPE_E_LIBNOTREGISTERED);
}

}  // namespace
