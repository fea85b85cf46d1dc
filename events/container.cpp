// The connection point container. Placeholder until the connection point lands.
#include "events/container.h"

namespace ConnectionPointContainer {

HRESULT EnumConnectionPoints(Recorder*, IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return E_NOTIMPL;
}

HRESULT FindConnectionPoint(Recorder*, REFIID, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return CONNECT_E_NOCONNECTION;
}

}  // namespace ConnectionPointContainer
