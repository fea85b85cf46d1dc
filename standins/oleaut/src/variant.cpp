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
