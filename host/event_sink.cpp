// The printing event sink.
#include "event_sink.h"

#include <cstdint>

#include "platform/voicectl.h"
#include "platform/windowing.h"

namespace quibhost {

HRESULT EventSink::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IDispatch) || IsEqualGUID(iid, eventInterface_)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT EventSink::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                          UINT*) {
  if (result) VariantInit(result);
  if (member != 1) return DISP_E_MEMBERNOTFOUND;
  if (!params || params->cArgs != 3) return DISP_E_BADPARAMCOUNT;
  // Arguments arrive in reverse order: lParam, wParam, message.
  LONG values[3];
  for (int i = 0; i < 3; ++i) {
    const VARIANT& v = params->rgvarg[i];
    if (v.vt != VT_I4 && v.vt != VT_INT) return DISP_E_TYPEMISMATCH;
    values[i] = v.lVal;
  }
  LONG message = values[2], wParam = values[1], lParam = values[0];
  ++events_;
  std::fprintf(out_, "  event OnMessage(%d, %d, 0x%08X)", static_cast<int>(message), static_cast<int>(wParam),
               static_cast<unsigned>(lParam));
  if (message == static_cast<LONG>(WM_NOTIFY) && lParam != 0) {
    // The control's notification record, at the 32-bit address lParam carries.
    const auto* header =
        reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(lParam)));
    std::fprintf(out_, ": %s", DescribeNotification(static_cast<LONG>(header->code)));
  }
  std::fputc('\n', out_);
  std::fflush(out_);
  return S_OK;
}

const char* DescribeNotification(LONG code) {
  switch (code) {
    case VRN_ERROR: return "-867 a request failed";
    case VRN_CANCEL: return "-866 the control closed, recording discarded";
    case VRN_OK: return "-865 the control closed, recording saved";
    case VRN_RECORD_START: return "-864 recording started";
    case VRN_RECORD_STOP: return "-863 recording stopped";
    case VRN_PLAY_START: return "-862 playing started";
    case VRN_PLAY_STOP: return "-861 playing stopped";
    default: return "an unknown notification";
  }
}

}  // namespace quibhost
