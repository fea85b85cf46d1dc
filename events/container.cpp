// The recorder's connection point container and its ConnectionMap.
#include "events/container.h"

#include <cstddef>
#include <cstdint>

#include "events/enumerator.h"

namespace ConnectionPointContainer {

namespace {
// The distance from the container face to each connection point face, then -1.
// Constant data: every use sees the same values, and no thread writes them.
constexpr LONG kConnectionMap[] = {
    static_cast<LONG>(offsetof(Recorder, connectionPoint)) - static_cast<LONG>(offsetof(Recorder, container)),
    -1,
};
constexpr int kConnectionPoints = sizeof kConnectionMap / sizeof kConnectionMap[0] - 1;
}  // namespace

const LONG* GetConnectionMap(int* count) {
  if (count) *count = kConnectionPoints;
  return kConnectionMap;
}

namespace {
// A caller through the operation table can pass a null IID for the reference
// parameter. The compiler may assume a reference is never null, so the address
// is hidden from it before the test.
bool Present(const IID* iid) {
  auto address = reinterpret_cast<std::uintptr_t>(iid);
  asm volatile("" : "+r"(address));
  return address != 0;
}

IConnectionPoint* ConnectionPointAt(Recorder* self, LONG entry) {
  auto* container = reinterpret_cast<char*>(self->Container());
  return reinterpret_cast<IConnectionPoint*>(container + entry);
}
}  // namespace

HRESULT EnumConnectionPoints(Recorder* self, IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ConnectionPointEnumerator* enumerator = nullptr;
  if (FAILED(ConnectionPointEnumerator::CreateEnumerator(&enumerator))) return E_OUTOFMEMORY;

  int count = 0;
  const LONG* map = GetConnectionMap(&count);
  IConnectionPoint* points[kConnectionPoints];
  for (int i = 0; i < count; ++i) points[i] = ConnectionPointAt(self, map[i]);

  HRESULT hr = enumerator->InitData(points, points + count, self->Container(), CopyMode);
  if (FAILED(hr)) {
    enumerator->Destroy();
    return hr;
  }
  hr = enumerator->QueryInterface(IID_IEnumConnectionPoints, reinterpret_cast<void**>(out));
  if (hr != S_OK) enumerator->Destroy();
  return hr;
}

HRESULT FindConnectionPoint(Recorder* self, REFIID iid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!Present(&iid)) return E_POINTER;
  int count = 0;
  const LONG* map = GetConnectionMap(&count);
  for (int i = 0; map[i] != -1; ++i) {
    IConnectionPoint* point = ConnectionPointAt(self, map[i]);
    IID served;
    if (SUCCEEDED(point->GetConnectionInterface(&served)) && IsEqualGUID(served, iid)) {
      *out = point;
      point->AddRef();
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

}  // namespace ConnectionPointContainer
