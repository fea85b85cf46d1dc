// IDispatch of the dual face: every operation is served by the module's
// TypeInfoHolder for IquibVoiceRec.
#include "automation/dispatch.h"

#include "automation/type_info_holder.h"

namespace RecorderDispatch {

HRESULT GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT GetTypeInfo(UINT, LCID locale, ITypeInfo** out) {
  if (!out) return E_POINTER;
  return g_recorderTypeInfo.GetTypeInfo(locale, out);
}

HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return g_recorderTypeInfo.GetIDsOfNames(names, count, locale, ids);
}

HRESULT Invoke(IquibVoiceRec* instance, DISPID member, LCID locale, WORD flags, DISPPARAMS* params,
               VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  return g_recorderTypeInfo.Invoke(instance, member, locale, flags, params, result, exception, argError);
}

}  // namespace RecorderDispatch
