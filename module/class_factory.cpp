// ClassFactory: counted inside its cache critical section; holds the module
// lock count up by one while anyone beyond the ObjectMap's cache holds it.
#include "module/class_factory.h"

#include <new>

#include "module/interface_table.h"
#include "module/module_state.h"
#include "platform/heaps.h"
#include "platform/sync.h"

namespace {

class ClassFactory final : public IClassFactory {
 public:
  ClassFactory() {
    InitializeCriticalSection(&objectSection_);
    InitializeCriticalSection(&cacheSection_);
  }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  void SetCreator(InstanceCreator creator) { creator_ = creator; }

  // Destroys and frees the object.
  void Destroy() {
    refCount_ = 1;
    DeleteCriticalSection(&cacheSection_);
    DeleteCriticalSection(&objectSection_);
    this->~ClassFactory();
    ObjectFree(this);
  }

  HRESULT QueryInterface(REFIID iid, void** out) override;

  ULONG AddRef() override {
    EnterCriticalSection(&cacheSection_);
    LONG count = InterlockedIncrement(&refCount_);
    if (count == 2) g_moduleState.Lock();
    LeaveCriticalSection(&cacheSection_);
    return static_cast<ULONG>(count);
  }

  ULONG Release() override {
    EnterCriticalSection(&cacheSection_);
    LONG count = InterlockedDecrement(&refCount_);
    LeaveCriticalSection(&cacheSection_);
    if (count == 0) {
      Destroy();
      return 0;
    }
    if (count == 1) g_moduleState.Unlock();
    return static_cast<ULONG>(count);
  }

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && !IsEqualGUID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return creator_(outer, iid, out);
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock)
      g_moduleState.Lock();
    else
      g_moduleState.Unlock();
    return S_OK;
  }

 private:
  ~ClassFactory() = default;

  LONG refCount_ = 0;
  CRITICAL_SECTION objectSection_;  // entered by no operation
  InstanceCreator creator_ = nullptr;
  CRITICAL_SECTION cacheSection_;   // held across count changes and the lock step
};

constexpr InterfaceTableRow kClassFactoryTable[] = {
    {&IID_IClassFactory, 0, kInterfaceTableOffset},
    {nullptr, 0, kInterfaceTableEnd},
};

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
  return InterfaceTableQuery(static_cast<IClassFactory*>(this), kClassFactoryTable, iid, out);
}

}  // namespace

HRESULT CreateClassFactory(void* instanceCreator, REFIID iid, void** out) {
  void* memory = ObjectAlloc(sizeof(ClassFactory));
  if (!memory) return E_OUTOFMEMORY;
  auto* factory = new (memory) ClassFactory;
  factory->SetCreator(reinterpret_cast<InstanceCreator>(instanceCreator));
  HRESULT hr = factory->QueryInterface(iid, out);
  if (hr != S_OK) factory->Destroy();
  return hr;
}
