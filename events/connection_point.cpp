// The EventConnectionPoint. Placeholder: no connections are accepted yet.
#include "events/connection_point.h"

#include "events/container.h"

namespace EventConnectionPoint {

HRESULT QueryInterface(Recorder* self, REFIID iid, void** out) {
  if (!IsEqualGUID(iid, IID_IConnectionPoint) && !IsEqualGUID(iid, IID_IUnknown)) {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  if (!out) return E_POINTER;
  IConnectionPoint* face = self->ConnectionPoint();
  *out = face;
  face->AddRef();
  return S_OK;
}

HRESULT GetConnectionInterface(IID* out) {
  if (!out) return E_POINTER;
  *out = DIID__IquibVoiceRecEvents;
  return S_OK;
}

HRESULT GetConnectionPointContainer(Recorder* self, IConnectionPointContainer** out) {
  return self->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(out));
}

HRESULT Advise(Recorder*, IUnknown* sink, DWORD* cookie) {
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  return E_NOTIMPL;
}

HRESULT Unadvise(Recorder*, DWORD) { return CONNECT_E_NOCONNECTION; }

HRESULT EnumConnections(Recorder*, IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return E_NOTIMPL;
}

}  // namespace EventConnectionPoint
