// VARIANT initialisation and clearing.
#include "platform/automation.h"

void VariantInit(VARIANTARG* value) {
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
}

HRESULT VariantClear(VARIANTARG* value) {
  if (!value) return E_INVALIDARG;
  VARTYPE vt = value->vt;
  if (vt & VT_BYREF) {
    value->vt = VT_EMPTY;
    return S_OK;
  }
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_ERROR: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_HRESULT:
      break;
    case VT_BSTR:
      SysFreeString(value->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (value->punkVal) value->punkVal->Release();
      break;
    default:
      value->vt = VT_ERROR;
      value->scode = DISP_E_BADVARTYPE;
      return DISP_E_BADVARTYPE;
  }
  value->vt = VT_EMPTY;
  return S_OK;
}

// ---- Copy and conversion ----------------------------------------------------

#include <cerrno>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool IsClearable(VARTYPE vt) {
  if (vt & VT_BYREF) return true;
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_ERROR: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_HRESULT: case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
      return true;
    default:
      return false;
  }
}

// A value read out of a variant, in the widest form of its kind.
struct Scalar {
  enum Kind { Empty, Null, Integer, Real, Boolean, Text, Error, Object } kind = Empty;
  long long integer = 0;
  double real = 0;
  const OLECHAR* text = nullptr;
  UINT textLength = 0;
  IUnknown* object = nullptr;
  bool isDispatch = false;
};

HRESULT ReadScalar(const VARIANT* v, Scalar& s) {
  VARTYPE vt = v->vt;
  bool byref = (vt & VT_BYREF) != 0;
  VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
  if (byref && !v->byref) return E_INVALIDARG;
  if (byref && base == VT_VARIANT) {
    if (v->pvarVal->vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
    return ReadScalar(v->pvarVal, s);
  }
#define QUIB_READ(field, ptrField) (byref ? *v->ptrField : v->field)
  switch (base) {
    case VT_EMPTY: if (byref) return DISP_E_BADVARTYPE; s.kind = Scalar::Empty; return S_OK;
    case VT_NULL: if (byref) return DISP_E_BADVARTYPE; s.kind = Scalar::Null; return S_OK;
    case VT_I2: s.kind = Scalar::Integer; s.integer = QUIB_READ(iVal, piVal); return S_OK;
    case VT_I4: s.kind = Scalar::Integer; s.integer = QUIB_READ(lVal, plVal); return S_OK;
    case VT_INT: s.kind = Scalar::Integer; s.integer = QUIB_READ(intVal, pintVal); return S_OK;
    case VT_UI4: s.kind = Scalar::Integer; s.integer = QUIB_READ(ulVal, pulVal); return S_OK;
    case VT_R4: s.kind = Scalar::Real; s.real = QUIB_READ(fltVal, pfltVal); return S_OK;
    case VT_R8: s.kind = Scalar::Real; s.real = QUIB_READ(dblVal, pdblVal); return S_OK;
    case VT_BOOL: s.kind = Scalar::Boolean; s.integer = QUIB_READ(boolVal, pboolVal) ? -1 : 0; return S_OK;
    case VT_ERROR: s.kind = Scalar::Error; s.integer = QUIB_READ(scode, pscode); return S_OK;
    case VT_BSTR: {
      BSTR b = QUIB_READ(bstrVal, pbstrVal);
      s.kind = Scalar::Text;
      s.text = b;
      s.textLength = SysStringLen(b);
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      s.kind = Scalar::Object;
      s.object = QUIB_READ(punkVal, ppunkVal);
      s.isDispatch = base == VT_DISPATCH;
      return S_OK;
    default:
      return DISP_E_BADVARTYPE;
  }
#undef QUIB_READ
}

bool IsBlank(OLECHAR c) { return c == u' ' || c == u'\t'; }

// Decimal text: [blanks][sign]digits[.digits][(e|E)[sign]digits][blanks].
HRESULT ParseNumber(const OLECHAR* text, UINT length, double& out) {
  UINT i = 0, end = length;
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  std::string ascii;
  ascii.reserve(end - i);
  UINT digits = 0;
  UINT j = i;
  auto take = [&](OLECHAR c) { ascii.push_back(static_cast<char>(c)); };
  if (j < end && (text[j] == u'+' || text[j] == u'-')) take(text[j++]);
  while (j < end && text[j] >= u'0' && text[j] <= u'9') take(text[j++]), ++digits;
  if (j < end && text[j] == u'.') {
    take(text[j++]);
    while (j < end && text[j] >= u'0' && text[j] <= u'9') take(text[j++]), ++digits;
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (j < end && (text[j] == u'e' || text[j] == u'E')) {
    take(text[j++]);
    if (j < end && (text[j] == u'+' || text[j] == u'-')) take(text[j++]);
    UINT expDigits = 0;
    while (j < end && text[j] >= u'0' && text[j] <= u'9') take(text[j++]), ++expDigits;
    if (expDigits == 0) return DISP_E_TYPEMISMATCH;
  }
  if (j != end) return DISP_E_TYPEMISMATCH;
  errno = 0;
  out = std::strtod(ascii.c_str(), nullptr);
  if (errno == ERANGE && std::isinf(out)) return DISP_E_OVERFLOW;
  return S_OK;
}

bool EqualsNoCase(const OLECHAR* text, UINT length, const char* word) {
  UINT n = static_cast<UINT>(std::strlen(word));
  if (length != n) return false;
  for (UINT i = 0; i < n; ++i) {
    OLECHAR c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<OLECHAR>(c + 32);
    if (c != static_cast<OLECHAR>(word[i])) return false;
  }
  return true;
}

// An integer value of a real, rounded half to even; false when it is not finite.
bool RoundReal(double d, long long& out) {
  if (!std::isfinite(d) || d > 9.2e18 || d < -9.2e18) return false;
  out = static_cast<long long>(std::nearbyint(d));
  return true;
}

HRESULT ToInteger(const Scalar& s, long long lo, long long hi, long long& out) {
  switch (s.kind) {
    case Scalar::Empty: out = 0; return S_OK;
    case Scalar::Integer: case Scalar::Boolean: out = s.integer; break;
    case Scalar::Real:
      if (!RoundReal(s.real, out)) return DISP_E_OVERFLOW;
      break;
    case Scalar::Text: {
      double d;
      HRESULT hr = ParseNumber(s.text, s.textLength, d);
      if (FAILED(hr)) return hr;
      if (!RoundReal(d, out)) return DISP_E_OVERFLOW;
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  return out < lo || out > hi ? DISP_E_OVERFLOW : S_OK;
}

HRESULT ToReal(const Scalar& s, double& out) {
  switch (s.kind) {
    case Scalar::Empty: out = 0; return S_OK;
    case Scalar::Integer: case Scalar::Boolean: out = static_cast<double>(s.integer); return S_OK;
    case Scalar::Real: out = s.real; return S_OK;
    case Scalar::Text: return ParseNumber(s.text, s.textLength, out);
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT AsciiToBstr(const char* text, BSTR& out) {
  OLECHAR wide[64];
  UINT n = 0;
  for (; text[n] && n < 63; ++n) wide[n] = static_cast<OLECHAR>(text[n]);
  out = SysAllocStringLen(wide, n);
  return out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ToText(const Scalar& s, USHORT flags, BSTR& out) {
  char buffer[40];
  switch (s.kind) {
    case Scalar::Empty: out = SysAllocStringLen(nullptr, 0); return out ? S_OK : E_OUTOFMEMORY;
    case Scalar::Integer: std::snprintf(buffer, sizeof buffer, "%lld", s.integer); break;
    case Scalar::Real: std::snprintf(buffer, sizeof buffer, "%.15G", s.real); break;
    case Scalar::Boolean:
      if (flags & VARIANT_ALPHABOOL) return AsciiToBstr(s.integer ? "True" : "False", out);
      std::snprintf(buffer, sizeof buffer, "%lld", s.integer);
      break;
    case Scalar::Text: out = SysAllocStringLen(s.text, s.textLength); return out ? S_OK : E_OUTOFMEMORY;
    default: return DISP_E_TYPEMISMATCH;
  }
  return AsciiToBstr(buffer, out);
}

HRESULT ToBoolean(const Scalar& s, VARIANT_BOOL& out) {
  if (s.kind == Scalar::Text) {
    if (EqualsNoCase(s.text, s.textLength, "true")) return out = VARIANT_TRUE, S_OK;
    if (EqualsNoCase(s.text, s.textLength, "false")) return out = VARIANT_FALSE, S_OK;
  }
  double d;
  HRESULT hr = ToReal(s, d);
  if (FAILED(hr)) return hr;
  out = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// The value of an object: its DISPID_VALUE property.
HRESULT ValueOfObject(const Scalar& s, USHORT flags, VARIANT& value) {
  if (!s.object || !s.isDispatch || (flags & VARIANT_NOVALUEPROP)) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VariantInit(&value);
  HRESULT hr = static_cast<IDispatch*>(s.object)->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                                          &value, nullptr, nullptr);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) {
    VariantClear(&value);
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT Convert(VARIANT& out, const Scalar& s, USHORT flags, VARTYPE vt, int depth);

HRESULT ConvertObjectValue(VARIANT& out, const Scalar& s, USHORT flags, VARTYPE vt, int depth) {
  if (depth > 0) return DISP_E_TYPEMISMATCH;
  VARIANT value;
  HRESULT hr = ValueOfObject(s, flags, value);
  if (FAILED(hr)) return hr;
  Scalar inner;
  hr = ReadScalar(&value, inner);
  if (SUCCEEDED(hr)) hr = Convert(out, inner, flags, vt, depth + 1);
  VariantClear(&value);
  return hr;
}

// Builds out (assumed empty) from s. On failure out is left VT_EMPTY.
HRESULT Convert(VARIANT& out, const Scalar& s, USHORT flags, VARTYPE vt, int depth) {
  VariantInit(&out);
  bool wantsObjectValue = s.kind == Scalar::Object && vt != VT_DISPATCH && vt != VT_UNKNOWN && vt != VT_EMPTY;
  if (wantsObjectValue) return ConvertObjectValue(out, s, flags, vt, depth);
  if (s.kind == Scalar::Null && vt != VT_NULL && vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
  long long n = 0;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_EMPTY: return S_OK;
    case VT_NULL:
      if (s.kind != Scalar::Null && s.kind != Scalar::Empty) return DISP_E_TYPEMISMATCH;
      out.vt = VT_NULL;
      return S_OK;
    case VT_I2:
      if (FAILED(hr = ToInteger(s, -32768, 32767, n))) return hr;
      out.vt = VT_I2, out.iVal = static_cast<SHORT>(n);
      return S_OK;
    case VT_I4:
    case VT_INT:
      if (FAILED(hr = ToInteger(s, INT32_MIN, INT32_MAX, n))) return hr;
      out.vt = vt, out.lVal = static_cast<LONG>(n);
      return S_OK;
    case VT_UI4:
      if (FAILED(hr = ToInteger(s, 0, UINT32_MAX, n))) return hr;
      out.vt = VT_UI4, out.ulVal = static_cast<ULONG>(n);
      return S_OK;
    case VT_R4: {
      double d;
      if (FAILED(hr = ToReal(s, d))) return hr;
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      out.vt = VT_R4, out.fltVal = static_cast<float>(d);
      return S_OK;
    }
    case VT_R8: {
      double d;
      if (FAILED(hr = ToReal(s, d))) return hr;
      out.vt = VT_R8, out.dblVal = d;
      return S_OK;
    }
    case VT_BOOL: {
      VARIANT_BOOL b;
      if (FAILED(hr = ToBoolean(s, b))) return hr;
      out.vt = VT_BOOL, out.boolVal = b;
      return S_OK;
    }
    case VT_ERROR:
      if (s.kind != Scalar::Error && s.kind != Scalar::Integer) return DISP_E_TYPEMISMATCH;
      if (s.kind == Scalar::Integer && (s.integer < INT32_MIN || s.integer > UINT32_MAX)) return DISP_E_OVERFLOW;
      out.vt = VT_ERROR, out.scode = static_cast<SCODE>(s.integer);
      return S_OK;
    case VT_BSTR: {
      if (s.kind == Scalar::Error) return DISP_E_TYPEMISMATCH;
      BSTR text = nullptr;
      if (FAILED(hr = ToText(s, flags, text))) return hr;
      out.vt = VT_BSTR, out.bstrVal = text;
      return S_OK;
    }
    case VT_DISPATCH: {
      if (s.kind != Scalar::Object) return DISP_E_TYPEMISMATCH;
      IDispatch* d = nullptr;
      if (s.object) {
        if (s.isDispatch) {
          d = static_cast<IDispatch*>(s.object);
          d->AddRef();
        } else if (FAILED(s.object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) {
          return DISP_E_TYPEMISMATCH;
        }
      }
      out.vt = VT_DISPATCH, out.pdispVal = d;
      return S_OK;
    }
    case VT_UNKNOWN:
      if (s.kind != Scalar::Object) return DISP_E_TYPEMISMATCH;
      if (s.object) s.object->AddRef();
      out.vt = VT_UNKNOWN, out.punkVal = s.object;
      return S_OK;
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!IsClearable(src->vt)) return DISP_E_BADVARTYPE;
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) return hr;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
    src->punkVal->AddRef();
  }
  *dest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (vt & VT_BYREF) return DISP_E_BADVARTYPE;
  if (src->vt == vt) return dest == src ? S_OK : VariantCopy(dest, src);
  Scalar s;
  HRESULT hr = ReadScalar(src, s);
  if (FAILED(hr)) return hr;
  VARIANT result;
  hr = Convert(result, s, flags, vt, 0);
  if (FAILED(hr)) return hr;
  // Clearing dest may free what src points at (dest == src): the result is
  // already independent of it.
  HRESULT cleared = VariantClear(dest);
  if (FAILED(cleared)) {
    VariantClear(&result);
    return cleared;
  }
  *dest = result;
  return S_OK;
}

HRESULT VarUI4FromStr(const OLECHAR* text, LCID, ULONG, ULONG* out) {
  if (!text || !out) return E_INVALIDARG;
  std::size_t i = 0;
  while (IsBlank(text[i])) ++i;
  bool negative = false;
  if (text[i] == u'+' || text[i] == u'-') negative = text[i++] == u'-';
  unsigned long long value = 0;
  std::size_t digits = 0;
  bool overflow = false;
  for (; text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
    value = value * 10 + static_cast<unsigned>(text[i] - u'0');
    if (value > 0xFFFFFFFFull) overflow = true, value = 0xFFFFFFFFull + 1;
  }
  while (IsBlank(text[i])) ++i;
  if (digits == 0 || text[i] != 0) return DISP_E_TYPEMISMATCH;
  if (overflow || (negative && value != 0)) return DISP_E_OVERFLOW;
  *out = static_cast<ULONG>(value);
  return S_OK;
}
