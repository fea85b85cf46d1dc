// VARIANT copy and conversion, and VarUI4FromStr, of the automation runtime.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/automation.h"
#include "quibtest/core.h"

namespace {

struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

VARIANT I4(LONG x) { VARIANT v; VariantInit(&v); v.vt = VT_I4; v.lVal = x; return v; }
VARIANT I2(SHORT x) { VARIANT v; VariantInit(&v); v.vt = VT_I2; v.iVal = x; return v; }
VARIANT UI4(ULONG x) { VARIANT v; VariantInit(&v); v.vt = VT_UI4; v.ulVal = x; return v; }
VARIANT R8(double x) { VARIANT v; VariantInit(&v); v.vt = VT_R8; v.dblVal = x; return v; }
VARIANT R4(float x) { VARIANT v; VariantInit(&v); v.vt = VT_R4; v.fltVal = x; return v; }
VARIANT Bool(bool x) { VARIANT v; VariantInit(&v); v.vt = VT_BOOL; v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; return v; }
VARIANT Of(VARTYPE vt) { VARIANT v; VariantInit(&v); v.vt = vt; v.llVal = 0; return v; }
VARIANT Str(const char16_t* s) { VARIANT v; VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = SysAllocString(s); return v; }

std::u16string Text(const VARIANT& v) { return std::u16string(v.bstrVal, SysStringLen(v.bstrVal)); }

struct ChangeCase {
  const char* label;
  VARIANT src;  // owned by the case; strings freed after the run
  VARTYPE to;
  HRESULT hr;
  double number;          // expected numeric result (integers and reals)
  const char16_t* text;   // expected string result
};

TEST(VariantChangeType, ConvertsBetweenTheAutomationTypes) {
  ChangeCase cases[] = {
      {"I4 to I2", I4(1234), VT_I2, S_OK, 1234, nullptr},
      {"I4 too big for I2", I4(40000), VT_I2, DISP_E_OVERFLOW, 0, nullptr},
      {"negative I4 to UI4", I4(-1), VT_UI4, DISP_E_OVERFLOW, 0, nullptr},
      {"UI4 above I4", UI4(0x80000000u), VT_I4, DISP_E_OVERFLOW, 0, nullptr},
      {"R8 rounds half to even", R8(2.5), VT_I4, S_OK, 2, nullptr},
      {"R8 rounds 3.5 up", R8(3.5), VT_I4, S_OK, 4, nullptr},
      {"R8 negative rounds", R8(-1.6), VT_I4, S_OK, -2, nullptr},
      {"R8 beyond I4", R8(3e9), VT_I4, DISP_E_OVERFLOW, 0, nullptr},
      {"NaN to I4", R8(std::nan("")), VT_I4, DISP_E_OVERFLOW, 0, nullptr},
      {"R8 to INT", R8(7.0), VT_INT, S_OK, 7, nullptr},
      {"R8 beyond R4", R8(1e300), VT_R4, DISP_E_OVERFLOW, 0, nullptr},
      {"R4 to R8", R4(0.5f), VT_R8, S_OK, 0.5, nullptr},
      {"BOOL true to I4", Bool(true), VT_I4, S_OK, -1, nullptr},
      {"I4 to BOOL", I4(5), VT_BOOL, S_OK, -1, nullptr},
      {"EMPTY to I4", Of(VT_EMPTY), VT_I4, S_OK, 0, nullptr},
      {"NULL to I4", Of(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
      {"ERROR to I4", Of(VT_ERROR), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
      {"string to I4", Str(u" 42 "), VT_I4, S_OK, 42, nullptr},
      {"signed string to I2", Str(u"-17"), VT_I2, S_OK, -17, nullptr},
      {"decimal string to I4", Str(u"2.5"), VT_I4, S_OK, 2, nullptr},
      {"exponent string to R8", Str(u"1.5e3"), VT_R8, S_OK, 1500, nullptr},
      {"string too big for I4", Str(u"99999999999"), VT_I4, DISP_E_OVERFLOW, 0, nullptr},
      {"junk string", Str(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
      {"empty string", Str(u""), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
      {"hex is not decimal", Str(u"0x10"), VT_I4, DISP_E_TYPEMISMATCH, 0, nullptr},
      {"true string to BOOL", Str(u"True"), VT_BOOL, S_OK, -1, nullptr},
      {"I4 to BSTR", I4(-5), VT_BSTR, S_OK, 0, u"-5"},
      {"R8 to BSTR", R8(2.25), VT_BSTR, S_OK, 0, u"2.25"},
      {"I2 to BSTR", I2(300), VT_BSTR, S_OK, 0, u"300"},
      {"BOOL to BSTR", Bool(false), VT_BSTR, S_OK, 0, u"0"},
      {"EMPTY to BSTR", Of(VT_EMPTY), VT_BSTR, S_OK, 0, u""},
      {"NULL to BSTR", Of(VT_NULL), VT_BSTR, DISP_E_TYPEMISMATCH, 0, nullptr},
      {"I4 to DISPATCH", I4(1), VT_DISPATCH, DISP_E_TYPEMISMATCH, 0, nullptr},
      {"I4 to ERROR", I4(5), VT_ERROR, S_OK, 5, nullptr},
      {"unknown target", I4(1), VT_CY, DISP_E_BADVARTYPE, 0, nullptr},
  };
  for (ChangeCase& c : cases) {
    SCOPED_TRACE(c.label);
    Var out;
    HRESULT hr = VariantChangeType(&out.v, &c.src, 0, c.to);
    EXPECT_EQ(hr, c.hr);
    if (SUCCEEDED(hr)) {
      ASSERT_EQ(out.v.vt, c.to);
      switch (c.to) {
        case VT_I2: EXPECT_EQ(out.v.iVal, c.number); break;
        case VT_I4: case VT_INT: EXPECT_EQ(out.v.lVal, c.number); break;
        case VT_UI4: EXPECT_EQ(out.v.ulVal, c.number); break;
        case VT_R4: EXPECT_FLOAT_EQ(out.v.fltVal, static_cast<float>(c.number)); break;
        case VT_R8: EXPECT_DOUBLE_EQ(out.v.dblVal, c.number); break;
        case VT_BOOL: EXPECT_EQ(out.v.boolVal, c.number); break;
        case VT_ERROR: EXPECT_EQ(out.v.scode, c.number); break;
        case VT_BSTR: EXPECT_EQ(Text(out.v), c.text); break;
        default: break;
      }
    } else {
      EXPECT_EQ(out.v.vt, VT_EMPTY) << "a failed conversion leaves dest untouched";
    }
    VariantClear(&c.src);
  }
}

TEST(VariantChangeType, ReadsByReferenceSources) {
  LONG value = 77;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &value;
  Var out;
  ASSERT_EQ(VariantChangeType(&out.v, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(out.v), u"77");

  VARIANT inner = R8(9.0);
  VARIANT viaVariant;
  VariantInit(&viaVariant);
  viaVariant.vt = VT_BYREF | VT_VARIANT;
  viaVariant.pvarVal = &inner;
  Var number;
  ASSERT_EQ(VariantChangeType(&number.v, &viaVariant, 0, VT_I2), S_OK);
  EXPECT_EQ(number.v.iVal, 9);
}

TEST(VariantChangeType, ConvertsInPlaceAndFreesTheOldString) {
  Var v;
  v.v = Str(u"12");
  std::size_t live = quibtest::LiveAllocations(quibtest::Allocator::TaskMemory);
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.v.vt, VT_I4);
  EXPECT_EQ(v.v.lVal, 12);
  EXPECT_EQ(quibtest::LiveAllocations(quibtest::Allocator::TaskMemory), live - 1);
}

TEST(VariantChangeType, OutOfMemoryForTheStringIsReported) {
  VARIANT src = I4(5);
  Var out;
  quibtest::FailAllocation(quibtest::Allocator::TaskMemory, 1);
  EXPECT_EQ(VariantChangeType(&out.v, &src, 0, VT_BSTR), E_OUTOFMEMORY);
  quibtest::ClearAllocationFaults();
  EXPECT_EQ(out.v.vt, VT_EMPTY);
}

// An object whose value (DISPID_VALUE) is 41.
struct ValueObject : IDispatch {
  ULONG refs = 1;
  HRESULT QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_I4;
    result->lVal = 41;
    return S_OK;
  }
};

TEST(VariantChangeType, ObjectsConvertThroughTheirValueUnlessAskedNotTo) {
  ValueObject object;
  VARIANT src;
  VariantInit(&src);
  src.vt = VT_DISPATCH;
  src.pdispVal = &object;
  Var out;
  ASSERT_EQ(VariantChangeType(&out.v, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(out.v), u"41");
  Var refused;
  EXPECT_EQ(VariantChangeType(&refused.v, &src, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  Var asUnknown;
  ASSERT_EQ(VariantChangeType(&asUnknown.v, &src, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&asUnknown.v);
  EXPECT_EQ(object.refs, 1u);
}

TEST(VariantCopy, DuplicatesStringsAndReferencesObjects) {
  Var src, dest;
  src.v = Str(u"abc");
  dest.v = Str(u"old");
  ASSERT_EQ(VariantCopy(&dest.v, &src.v), S_OK);
  EXPECT_NE(dest.v.bstrVal, src.v.bstrVal);
  EXPECT_EQ(Text(dest.v), u"abc");

  ValueObject object;
  VARIANT o;
  VariantInit(&o);
  o.vt = VT_DISPATCH;
  o.pdispVal = &object;
  Var copy;
  ASSERT_EQ(VariantCopy(&copy.v, &o), S_OK);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&copy.v);
  EXPECT_EQ(object.refs, 1u);

  quibtest::FailAllocation(quibtest::Allocator::TaskMemory, 1);
  Var failed;
  EXPECT_EQ(VariantCopy(&failed.v, &src.v), E_OUTOFMEMORY);
  quibtest::ClearAllocationFaults();
  EXPECT_EQ(failed.v.vt, VT_EMPTY);
}

TEST(VariantClear, StoresItsFailureAsAnError) {
  VARIANT v;
  VariantInit(&v);
  v.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, VT_ERROR);
  EXPECT_EQ(v.scode, DISP_E_BADVARTYPE);
}

TEST(VarUI4FromStr, ReadsDecimalAndRefusesJunkAndOverflow) {
  struct Case {
    const char16_t* text;
    HRESULT hr;
    ULONG value;
  } cases[] = {
      {u"0", S_OK, 0},
      {u"4294967295", S_OK, 4294967295u},
      {u"  17 ", S_OK, 17},
      {u"+8", S_OK, 8},
      {u"4294967296", DISP_E_OVERFLOW, 0},
      {u"99999999999999999999999", DISP_E_OVERFLOW, 0},
      {u"-1", DISP_E_OVERFLOW, 0},
      {u"", DISP_E_TYPEMISMATCH, 0},
      {u"12x", DISP_E_TYPEMISMATCH, 0},
      {u"x12", DISP_E_TYPEMISMATCH, 0},
      {u"1 2", DISP_E_TYPEMISMATCH, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
    ULONG value = 12345;
    EXPECT_EQ(VarUI4FromStr(c.text, 0, 0, &value), c.hr);
    EXPECT_EQ(value, SUCCEEDED(c.hr) ? c.value : 12345u);
  }
}

}  // namespace
