// ITypeInfo::Invoke of the runtime on an object of the dual interface:
// argument counts, named arguments, coercion, out and return values, failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "automation/contract.h"
#include "platform/automation.h"
#include "quib_test_support.h"
#include "quibtest/core.h"

namespace {

using quibtest::Ref;

// Records what each member received; returns `reply` from every member.
struct FakeRecorder : IquibVoiceRec {
  std::vector<std::string> calls;
  std::u16string text;
  LONG hwnd = 0, style = 0;
  HRESULT reply = S_OK;
  LONG value = 0;

  HRESULT QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  HRESULT Init(BSTR f, LONG h, LONG s) override {
    calls.push_back("Init");
    text = f ? std::u16string(f, SysStringLen(f)) : u"(null)";
    hwnd = h;
    style = s;
    return reply;
  }
  HRESULT get_HWnd(LONG* v) override { calls.push_back("HWnd"); *v = value; return reply; }
  HRESULT Record(BSTR f) override { calls.push_back("Record"); text = std::u16string(f, SysStringLen(f)); return reply; }
  HRESULT Play() override { calls.push_back("Play"); return reply; }
  HRESULT Stop() override { calls.push_back("Stop"); return reply; }
  HRESULT Save() override { calls.push_back("Save"); return reply; }
  HRESULT Discard() override { calls.push_back("Discard"); return reply; }
  HRESULT Show() override { calls.push_back("Show"); return reply; }
  HRESULT Hide() override { calls.push_back("Hide"); return reply; }
  HRESULT PlayFile(BSTR f) override { calls.push_back("PlayFile"); text = std::u16string(f, SysStringLen(f)); return reply; }
  HRESULT get_Active(LONG* v) override { calls.push_back("Active"); *v = value; return reply; }
};

VARIANT I4(LONG x) { VARIANT v; VariantInit(&v); v.vt = VT_I4; v.lVal = x; return v; }
VARIANT R8(double x) { VARIANT v; VariantInit(&v); v.vt = VT_R8; v.dblVal = x; return v; }
VARIANT Str(const char16_t* s) { VARIANT v; VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = SysAllocString(s); return v; }
VARIANT Of(VARTYPE vt) { VARIANT v; VariantInit(&v); v.vt = vt; v.llVal = 0; return v; }

class InvokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadTypeLib(std::u16string(QUIB_TYPELIB_PATH, QUIB_TYPELIB_PATH + sizeof QUIB_TYPELIB_PATH - 1).c_str(),
                          lib.put()),
              S_OK);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IquibVoiceRec, info.put()), S_OK);
  }
  Ref<ITypeLib> lib;
  Ref<ITypeInfo> info;
  FakeRecorder object;
};

struct Case {
  const char* label;
  MEMBERID id;
  WORD flags;
  std::vector<VARIANT> args;  // as the caller lays them out: last parameter first
  std::vector<DISPID> named;
  HRESULT hr;
  UINT argError;          // checked when hr names an argument
  const char* called;     // member reached, or nullptr
};

TEST_F(InvokeTest, CoercionAndErrorsAsATable) {
  Case cases[] = {
      {"Play", 4, DISPATCH_METHOD, {}, {}, S_OK, 0, "Play"},
      {"method or get reaches a method", 4, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK, 0, "Play"},
      {"property get as method|get", 2, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, {}, S_OK, 0, "HWnd"},
      {"property get asked as put", 2, DISPATCH_PROPERTYPUT, {I4(1)}, {DISPID_PROPERTYPUT}, DISP_E_MEMBERNOTFOUND, 0, nullptr},
      {"unknown member", 99, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND, 0, nullptr},
      {"too many arguments", 4, DISPATCH_METHOD, {I4(1)}, {}, DISP_E_BADPARAMCOUNT, 0, nullptr},
      {"too few arguments", 1, DISPATCH_METHOD, {I4(1), I4(2)}, {}, DISP_E_BADPARAMCOUNT, 0, nullptr},
      {"Init exact types", 1, DISPATCH_METHOD, {I4(3), I4(2), Str(u"a.wav")}, {}, S_OK, 0, "Init"},
      {"Init from doubles", 1, DISPATCH_METHOD, {R8(3.0), R8(2.4), Str(u"a.wav")}, {}, S_OK, 0, "Init"},
      {"Init from strings", 1, DISPATCH_METHOD, {Str(u"3"), Str(u"2"), Str(u"a.wav")}, {}, S_OK, 0, "Init"},
      {"Init with a number as the file name", 1, DISPATCH_METHOD, {I4(3), I4(2), I4(17)}, {}, S_OK, 0, "Init"},
      {"Init junk hwnd", 1, DISPATCH_METHOD, {I4(3), Str(u"abc"), Str(u"a.wav")}, {}, DISP_E_TYPEMISMATCH, 1, nullptr},
      {"Init overflowing style", 1, DISPATCH_METHOD, {R8(1e12), I4(2), Str(u"a.wav")}, {}, DISP_E_OVERFLOW, 0, nullptr},
      {"Init null file name", 1, DISPATCH_METHOD, {I4(3), I4(2), Of(VT_NULL)}, {}, DISP_E_TYPEMISMATCH, 2, nullptr},
      {"Init object as hwnd", 1, DISPATCH_METHOD, {I4(3), Of(VT_UNKNOWN), Str(u"a.wav")}, {}, DISP_E_TYPEMISMATCH, 1, nullptr},
      {"Init named style and hwnd", 1, DISPATCH_METHOD, {I4(2), I4(3), Str(u"a.wav")}, {1, 2}, S_OK, 0, "Init"},
      {"named argument out of range", 1, DISPATCH_METHOD, {I4(2), I4(3), Str(u"a.wav")}, {7}, DISP_E_PARAMNOTFOUND, 0, nullptr},
      {"named argument twice", 1, DISPATCH_METHOD, {I4(2), I4(3), Str(u"a.wav")}, {1, 1}, DISP_E_PARAMNOTFOUND, 1, nullptr},
      {"named argument clashing with a positional one", 1, DISPATCH_METHOD, {I4(2), I4(3), Str(u"a.wav")}, {0}, DISP_E_PARAMNOTFOUND, 2, nullptr},
      {"Record by string", 3, DISPATCH_METHOD, {Str(u"r.wav")}, {}, S_OK, 0, "Record"},
      {"PlayFile from a double", 10, DISPATCH_METHOD, {R8(1.5)}, {}, S_OK, 0, "PlayFile"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.label);
    object.calls.clear();
    DISPPARAMS params{c.args.data(), c.named.data(), static_cast<UINT>(c.args.size()),
                      static_cast<UINT>(c.named.size())};
    VARIANT result;
    VariantInit(&result);
    UINT argError = 999;
    HRESULT hr = info->Invoke(static_cast<IquibVoiceRec*>(&object), c.id, c.flags, &params, &result, nullptr, &argError);
    EXPECT_EQ(hr, c.hr);
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_PARAMNOTFOUND) {
      EXPECT_EQ(argError, c.argError);
    }
    if (c.called) {
      ASSERT_EQ(object.calls.size(), 1u);
      EXPECT_EQ(object.calls[0], c.called);
    } else {
      EXPECT_TRUE(object.calls.empty());
    }
    VariantClear(&result);
    for (VARIANT& v : c.args) VariantClear(&v);
  }
}

TEST_F(InvokeTest, ArgumentsArriveConvertedInDeclaredOrder) {
  std::vector<VARIANT> args = {Str(u"768"), R8(2.5), Str(u"note.wav")};  // style, hwnd, filename
  DISPPARAMS params{args.data(), nullptr, 3, 0};
  ASSERT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 1, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(object.text, u"note.wav");
  EXPECT_EQ(object.hwnd, 2);  // 2.5 rounds to even
  EXPECT_EQ(object.style, 768);

  std::vector<VARIANT> named = {I4(5), I4(6), Str(u"n.wav")};  // named: style=5, hwnd=6
  DISPID ids[] = {2, 1};
  DISPPARAMS byName{named.data(), ids, 3, 2};
  ASSERT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 1, DISPATCH_METHOD, &byName, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(object.style, 5);
  EXPECT_EQ(object.hwnd, 6);
  for (VARIANT& v : args) VariantClear(&v);
  for (VARIANT& v : named) VariantClear(&v);
}

TEST_F(InvokeTest, ReturnValueComesBackInTheResult) {
  object.value = 0x1234;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 11, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                         nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 0x1234);
  // Without a result variant the value is dropped.
  EXPECT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 2, DISPATCH_PROPERTYGET, &none, nullptr, nullptr,
                         nullptr),
            S_OK);
}

TEST_F(InvokeTest, FailureBecomesAnExceptionAndSuccessCodesAreNoError) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  object.reply = E_FAIL;
  EXCEPINFO exception{};
  exception.scode = 0;
  EXPECT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 5, DISPATCH_METHOD, &none, nullptr, &exception, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_FAIL);
  EXPECT_EQ(exception.bstrDescription, nullptr);
  object.reply = S_FALSE;
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 5, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(InvokeTest, IntegerCallsAllocateNothing) {
  std::vector<VARIANT> args = {I4(1), I4(2), Str(u"f.wav")};
  DISPPARAMS params{args.data(), nullptr, 3, 0};
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  using quibtest::Allocator;
  std::size_t before[4];
  for (int a = 0; a < 4; ++a) before[a] = quibtest::AllocationRequests(static_cast<Allocator>(a));
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 1, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(info->Invoke(static_cast<IquibVoiceRec*>(&object), 2, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                           &result, nullptr, nullptr),
              S_OK);
  }
  for (int a = 0; a < 4; ++a) EXPECT_EQ(quibtest::AllocationRequests(static_cast<Allocator>(a)), before[a]);
  for (VARIANT& v : args) VariantClear(&v);
}

}  // namespace
