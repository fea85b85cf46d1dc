// The recorder object's faces, its plain and aggregated forms, construction
// and teardown.
//
// Each face is a class without data, placed into its FaceSlot; the object is
// found from a face by the face's fixed distance from the object's start. The
// faces come in two forms that differ only in their IUnknown methods: the
// object's own (plain) and the delegating ones (inside an outer object).
#include "recorder/recorder.h"

#include <cstddef>
#include <new>

#include "automation/dispatch.h"
#include "events/connection_point.h"
#include "events/container.h"
#include "module/module_state.h"
#include "platform/heaps.h"
#include "recorder/control_hook.h"
#include "recorder/recorder_members.h"

const InterfaceTableRow kRecorderInterfaceTable[] = {
    {&IID_IquibVoiceRec, offsetof(Recorder, dual), kInterfaceTableOffset},
    {&IID_IDispatch, offsetof(Recorder, dual), kInterfaceTableOffset},
    {&IID_IConnectionPointContainer, offsetof(Recorder, container), kInterfaceTableOffset},
    {nullptr, 0, kInterfaceTableEnd},
};

namespace {

// An AggregatedRecorder: its own (non-delegating) IUnknown, its own count,
// and the contained recorder whose count word holds the outer object.
struct AggregatedRecorder {
  FaceSlot own;
  LONG refCount;
  Recorder contained;

  IUnknown* Own() { return std::launder(reinterpret_cast<IUnknown*>(&own)); }
  static AggregatedRecorder* FromOwn(IUnknown* face) {
    return reinterpret_cast<AggregatedRecorder*>(reinterpret_cast<char*>(face) - offsetof(AggregatedRecorder, own));
  }
  static AggregatedRecorder* FromContained(Recorder* r) {
    return reinterpret_cast<AggregatedRecorder*>(reinterpret_cast<char*>(r) - offsetof(AggregatedRecorder, contained));
  }
};

void DestroyPlain(Recorder* r) {
  r->refCount = 1;  // callbacks during teardown cannot reach 0 again
  g_moduleState.Unlock();
  RecorderReleaseResources(r);
  ObjectFree(r);
}

void DestroyAggregated(AggregatedRecorder* a) {
  a->refCount = 1;
  g_moduleState.Unlock();
  RecorderReleaseResources(&a->contained);
  ObjectFree(a);
}

// IUnknown of a plain recorder: the table and the object's own count.
struct PlainUnknown {
  static HRESULT QueryInterface(Recorder* r, REFIID iid, void** out) {
    return InterfaceTableQuery(r, kRecorderInterfaceTable, iid, out);
  }
  static ULONG AddRef(Recorder* r) { return ++r->refCount; }
  static ULONG Release(Recorder* r) {
    ULONG count = --r->refCount;
    if (count == 0) DestroyPlain(r);
    return count;
  }
};

// IUnknown of a contained recorder: everything goes to the outer object; the
// recorder's table answers what the outer object refuses.
struct DelegatingUnknown {
  static HRESULT QueryInterface(Recorder* r, REFIID iid, void** out) {
    HRESULT hr = r->outer->QueryInterface(iid, out);
    if (FAILED(hr) && static_cast<IUnknown*>(r->Dual()) != r->outer)
      hr = InterfaceTableQuery(r, kRecorderInterfaceTable, iid, out);
    return hr;
  }
  static ULONG AddRef(Recorder* r) { return r->outer->AddRef(); }
  static ULONG Release(Recorder* r) { return r->outer->Release(); }
};

template <class Unknown>
class ContainerFace final : public IConnectionPointContainer {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override { return Unknown::QueryInterface(Self(), iid, out); }
  ULONG AddRef() override { return Unknown::AddRef(Self()); }
  ULONG Release() override { return Unknown::Release(Self()); }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override {
    return ConnectionPointContainer::EnumConnectionPoints(Self(), out);
  }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    return ConnectionPointContainer::FindConnectionPoint(Self(), iid, out);
  }

 private:
  Recorder* Self() { return Recorder::FromContainer(this); }
};

template <class Unknown>
class DualFace final : public IquibVoiceRec {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override { return Unknown::QueryInterface(Self(), iid, out); }
  ULONG AddRef() override { return Unknown::AddRef(Self()); }
  ULONG Release() override { return Unknown::Release(Self()); }

  HRESULT GetTypeInfoCount(UINT* count) override { return RecorderDispatch::GetTypeInfoCount(count); }
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) override {
    return RecorderDispatch::GetTypeInfo(index, locale, out);
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
    return RecorderDispatch::GetIDsOfNames(names, count, locale, ids);
  }
  HRESULT Invoke(DISPID member, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override {
    return RecorderDispatch::Invoke(this, member, locale, flags, params, result, exception, argError);
  }

  HRESULT Init(BSTR filename, LONG hwnd, LONG style) override {
    return RecorderMembers::Init(Self(), filename, hwnd, style);
  }
  HRESULT get_HWnd(LONG* value) override { return RecorderMembers::GetHWnd(Self(), value); }
  HRESULT Record(BSTR filename) override { return RecorderMembers::Record(Self(), filename); }
  HRESULT Play() override { return RecorderMembers::Play(Self()); }
  HRESULT Stop() override { return RecorderMembers::Stop(Self()); }
  HRESULT Save() override { return RecorderMembers::Save(Self()); }
  HRESULT Discard() override { return RecorderMembers::Discard(Self()); }
  HRESULT Show() override { return RecorderMembers::Show(Self()); }
  HRESULT Hide() override { return RecorderMembers::Hide(Self()); }
  HRESULT PlayFile(BSTR filename) override { return RecorderMembers::PlayFile(Self(), filename); }
  HRESULT get_Active(LONG* value) override { return RecorderMembers::GetActive(Self(), value); }

 private:
  Recorder* Self() { return Recorder::FromDual(this); }
};

// The connection point's QueryInterface is its own in both forms.
template <class Unknown>
class ConnectionPointFace final : public IConnectionPoint {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return EventConnectionPoint::QueryInterface(Self(), iid, out);
  }
  ULONG AddRef() override { return Unknown::AddRef(Self()); }
  ULONG Release() override { return Unknown::Release(Self()); }
  HRESULT GetConnectionInterface(IID* out) override { return EventConnectionPoint::GetConnectionInterface(out); }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) override {
    return EventConnectionPoint::GetConnectionPointContainer(Self(), out);
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override { return EventConnectionPoint::Advise(Self(), sink, cookie); }
  HRESULT Unadvise(DWORD cookie) override { return EventConnectionPoint::Unadvise(Self(), cookie); }
  HRESULT EnumConnections(IEnumConnections** out) override {
    return EventConnectionPoint::EnumConnections(Self(), out);
  }

 private:
  Recorder* Self() { return Recorder::FromConnectionPoint(this); }
};

static_assert(sizeof(ContainerFace<PlainUnknown>) == sizeof(FaceSlot));
static_assert(sizeof(DualFace<PlainUnknown>) == sizeof(FaceSlot));
static_assert(sizeof(ConnectionPointFace<PlainUnknown>) == sizeof(FaceSlot));

class OwnUnknownFace final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    AggregatedRecorder* a = AggregatedRecorder::FromOwn(this);
    if (IsEqualGUID(iid, IID_IUnknown)) {
      if (!out) return E_POINTER;
      *out = this;
      AddRef();
      return S_OK;
    }
    return InterfaceTableQuery(&a->contained, kRecorderInterfaceTable, iid, out);
  }
  ULONG AddRef() override { return static_cast<ULONG>(++AggregatedRecorder::FromOwn(this)->refCount); }
  ULONG Release() override {
    AggregatedRecorder* a = AggregatedRecorder::FromOwn(this);
    LONG count = --a->refCount;
    if (count == 0) DestroyAggregated(a);
    return static_cast<ULONG>(count);
  }
};

// Step 1 of construction: the faces in the given form, an empty SinkList, no control.
template <class Unknown>
void ConstructFields(Recorder* r) {
  new (&r->container) ContainerFace<Unknown>;
  new (&r->dual) DualFace<Unknown>;
  new (&r->connectionPoint) ConnectionPointFace<Unknown>;
  r->sinks.slots = nullptr;
  r->sinks.capacity = 0;
  r->controlWindow = 0;
  r->hooked = FALSE;
  r->hook = {0, 0, nullptr};
}

HRESULT CreatePlain(REFIID iid, void** out) {
  void* memory = ObjectAlloc(sizeof(Recorder));
  if (!memory) return E_OUTOFMEMORY;
  auto* r = static_cast<Recorder*>(memory);
  ConstructFields<PlainUnknown>(r);
  r->refCount = 0;
  g_moduleState.Lock();
  HRESULT hr = InterfaceTableQuery(r, kRecorderInterfaceTable, iid, out);
  if (hr != S_OK) DestroyPlain(r);
  return hr;
}

HRESULT CreateAggregated(IUnknown* outer, REFIID iid, void** out) {
  void* memory = ObjectAlloc(sizeof(AggregatedRecorder));
  if (!memory) return E_OUTOFMEMORY;
  auto* a = static_cast<AggregatedRecorder*>(memory);
  new (&a->own) OwnUnknownFace;
  a->refCount = 0;
  ConstructFields<DelegatingUnknown>(&a->contained);
  a->contained.outer = outer;
  g_moduleState.Lock();
  HRESULT hr = a->Own()->QueryInterface(iid, out);
  if (hr != S_OK) DestroyAggregated(a);
  return hr;
}

}  // namespace

IConnectionPointContainer* Recorder::Container() {
  return std::launder(reinterpret_cast<IConnectionPointContainer*>(&container));
}
IquibVoiceRec* Recorder::Dual() { return std::launder(reinterpret_cast<IquibVoiceRec*>(&dual)); }
IConnectionPoint* Recorder::ConnectionPoint() {
  return std::launder(reinterpret_cast<IConnectionPoint*>(&connectionPoint));
}

Recorder* Recorder::FromContainer(IConnectionPointContainer* face) {
  return reinterpret_cast<Recorder*>(reinterpret_cast<char*>(face) - offsetof(Recorder, container));
}
Recorder* Recorder::FromDual(IquibVoiceRec* face) {
  return reinterpret_cast<Recorder*>(reinterpret_cast<char*>(face) - offsetof(Recorder, dual));
}
Recorder* Recorder::FromConnectionPoint(IConnectionPoint* face) {
  return reinterpret_cast<Recorder*>(reinterpret_cast<char*>(face) - offsetof(Recorder, connectionPoint));
}

HRESULT Recorder::QueryInterface(REFIID iid, void** out) { return Container()->QueryInterface(iid, out); }
ULONG Recorder::AddRef() { return Container()->AddRef(); }
ULONG Recorder::Release() { return Container()->Release(); }

HRESULT CreateRecorderInstance(IUnknown* outer, REFIID iid, void** out) {
  return outer ? CreateAggregated(outer, iid, out) : CreatePlain(iid, out);
}

void RecorderReleaseResources(Recorder* r) {
  if (r->controlWindow) RecorderMembers::Discard(r);
  if (r->hooked) ControlHook::Remove(r);
  r->sinks.ReleaseAllSinks();
}
