// The automation runtime: BSTR, VARIANT, DISPPARAMS and the routines on them.
#pragma once

#include "platform/objectmodel.h"

using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using SCODE = LONG;
using DATE = double;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_USERDEFINED = 29,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

// Laid out as the platform's: a 16-bit type tag, three reserved words, then
// the value; 32-bit numbers sit in the first four bytes of the value.
struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    USHORT uiVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    std::int64_t llVal;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    ULONG* pulVal;
    INT* pintVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;
  };
};
using VARIANTARG = VARIANT;

// Arguments of IDispatch::Invoke, in reverse order.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;

// BSTR: a length-prefixed wide string; lengths are in characters.
QUIB_PLATFORM_API BSTR SysAllocString(const OLECHAR* text);
QUIB_PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
QUIB_PLATFORM_API void SysFreeString(BSTR text);
QUIB_PLATFORM_API UINT SysStringLen(BSTR text);

QUIB_PLATFORM_API void VariantInit(VARIANTARG* value);
// Frees what the variant holds and sets it to VT_EMPTY. A variant it cannot
// clear (an unknown type) is set to VT_ERROR holding the failure code.
QUIB_PLATFORM_API HRESULT VariantClear(VARIANTARG* value);
