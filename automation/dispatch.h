// IDispatch of the recorder's dual face, served from the type information.
#pragma once

#include "automation/contract.h"

namespace RecorderDispatch {
HRESULT GetTypeInfoCount(UINT* count);
HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** out);
HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids);
HRESULT Invoke(IquibVoiceRec* instance, DISPID member, LCID locale, WORD flags, DISPPARAMS* params,
               VARIANT* result, EXCEPINFO* exception, UINT* argError);
}  // namespace RecorderDispatch
