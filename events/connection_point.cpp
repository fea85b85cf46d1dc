// The EventConnectionPoint: connects, disconnects and lists the recorder's
// event sinks. Its only data is the recorder's SinkList.
#include "events/connection_point.h"

#include "events/enumerator.h"

namespace EventConnectionPoint {

// Its own lookup: the connection point answers IUnknown with itself.
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

HRESULT Advise(Recorder* self, IUnknown* sink, DWORD* cookie) {
  if (!sink || !cookie) return E_POINTER;
  IID events;
  GetConnectionInterface(&events);
  void* face = nullptr;
  HRESULT hr = sink->QueryInterface(events, &face);
  if (FAILED(hr) || !face) {
    // A success without a pointer breaks the sink's contract: nothing to store.
    *cookie = 0;
    return hr == E_NOINTERFACE || SUCCEEDED(hr) ? CONNECT_E_CANNOTCONNECT : hr;
  }
  auto* events_sink = static_cast<IUnknown*>(face);
  *cookie = self->sinks.AddSink(events_sink);
  if (*cookie) return S_OK;
  events_sink->Release();
  return CONNECT_E_ADVISELIMIT;
}

HRESULT Unadvise(Recorder* self, DWORD cookie) {
  IUnknown* sink = nullptr;
  if (!self->sinks.RemoveSink(cookie, &sink)) return CONNECT_E_NOCONNECTION;
  sink->Release();  // after it has left the list
  return S_OK;
}

HRESULT EnumConnections(Recorder* self, IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ConnectionEnumerator* enumerator = nullptr;
  if (FAILED(ConnectionEnumerator::CreateEnumerator(&enumerator))) return E_OUTOFMEMORY;

  SinkList& list = self->sinks;
  // One record per slot; an empty list still gets a (one-record) block, so
  // that no allocator can answer a request of 0 bytes with a failure.
  std::size_t slots = list.capacity > 0 ? static_cast<std::size_t>(list.capacity) : 1;
  auto* records = static_cast<CONNECTDATA*>(ObjectAlloc(slots * sizeof(CONNECTDATA)));
  if (!records) {
    enumerator->Destroy();
    return E_OUTOFMEMORY;
  }
  CONNECTDATA* next = records;
  for (LONG i = 0; i < list.capacity; ++i) {
    IUnknown* sink = list.SinkAt(i);
    if (!sink) continue;
    sink->AddRef();
    next->pUnk = sink;
    next->dwCookie = list.CookieAt(i);
    ++next;
  }
  enumerator->InitData(records, next, nullptr, AdoptMode);
  HRESULT hr = enumerator->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(out));
  if (hr != S_OK) enumerator->Destroy();
  return hr;
}

}  // namespace EventConnectionPoint
