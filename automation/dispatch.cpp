// IDispatch of the dual face. Placeholder until the type information lands.
#include "automation/dispatch.h"

namespace RecorderDispatch {

HRESULT GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return E_NOTIMPL;
}

HRESULT GetIDsOfNames(LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT Invoke(IquibVoiceRec*, DISPID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

}  // namespace RecorderDispatch
