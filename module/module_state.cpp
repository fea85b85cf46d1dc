// ModuleState: initialisation, termination, class-object lookup, term callbacks.
#include "module/module_state.h"

#include <atomic>

#include "platform/heaps.h"
#include "platform/sysinfo.h"

ModuleState g_moduleState;

namespace {

ModuleState* g_current = nullptr;

// Nothing reads this identifier; its value is free.
constexpr GUID kModuleVersionId = {0x3F1D0C42, 0x7A1E, 0x4C55, {0x9B, 0x3E, 0x12, 0x6A, 0x0D, 0x44, 0x5E, 0x71}};

IUnknown* LoadCache(ObjectMapEntry* entry) {
  return std::atomic_ref<IUnknown*>(entry->cachedClassObject).load(std::memory_order_acquire);
}

}  // namespace

ModuleState* ModuleState::Current() { return g_current; }

HRESULT ModuleState::Initialise(ObjectMapEntry* map, HINSTANCE instanceHandle) {
  versionId = &kModuleVersionId;
  g_current = this;
  formatSize = 120;
  versionWord = 0x300;

  objectMap = map;
  instance = resourceInstance = typeLibInstance = instanceHandle;
  lockCount = 0;
  defaultHeap = nullptr;

  InitializeCriticalSection(&firstSection);
  InitializeCriticalSection(&secondSection);
  InitializeCriticalSection(&objectMapSection);

  pointerSlot = nullptr;
  ownsHeaps = true;
  extraHeapMask = 0;
  heapIndex = 0;
  extraHeaps = nullptr;
  termCallbacks = nullptr;

  for (ObjectMapEntry* e = objectMap; e->clsid; ++e)
    if (e->objectMain) e->objectMain(true);

  defaultHeap = HeapCreate(0, 0, 0);
  CreateExtraHeaps();
  return S_OK;
}

// No extra heaps on platform id 2 with major version 5 or more, or with one
// processor; otherwise one heap per slot of the smallest power of two above n.
// Without a default heap, or without room for the array, the module runs
// without extra heaps.
void ModuleState::CreateExtraHeaps() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExW(&version);
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  if ((version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5) ||
      system.dwNumberOfProcessors <= 1 || !defaultHeap)
    return;

  std::uint32_t mask = 0xFFFFFFFFu;
  std::uint32_t work = 2u * system.dwNumberOfProcessors;
  for (int i = 0; i < 32 && (work & 0x80000000u) == 0; ++i) {
    mask >>= 1;
    work <<= 1;
  }
  mask >>= 1;

  auto* heaps = static_cast<HANDLE*>(HeapAlloc(defaultHeap, 0, (std::size_t{mask} + 1) * sizeof(HANDLE)));
  if (!heaps) return;
  for (std::uint32_t i = 0; i <= mask; ++i) heaps[i] = HeapCreate(0, 0, 0);
  extraHeaps = heaps;
  extraHeapMask = mask;
}

HRESULT ModuleState::Terminate() {
  for (ObjectMapEntry* e = objectMap; e->clsid; ++e) {
    if (IUnknown* cached = LoadCache(e)) cached->Release();
    std::atomic_ref<IUnknown*>(e->cachedClassObject).store(nullptr, std::memory_order_release);
    if (e->objectMain) e->objectMain(false);
  }

  DeleteCriticalSection(&firstSection);
  DeleteCriticalSection(&secondSection);
  DeleteCriticalSection(&objectMapSection);

  for (TermCallbackNode* node = termCallbacks; node;) {
    node->callback(node->userData);
    TermCallbackNode* next = node->next;
    ObjectFree(node);
    node = next;
  }
  termCallbacks = nullptr;

  if (defaultHeap && ownsHeaps) {
    if (extraHeaps)
      for (std::uint32_t i = 0; i <= extraHeapMask; ++i)
        if (extraHeaps[i]) HeapDestroy(extraHeaps[i]);
    HeapDestroy(defaultHeap);
  }
  defaultHeap = nullptr;
  extraHeaps = nullptr;
  extraHeapMask = 0;
  return S_OK;
}

HRESULT ModuleState::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;

  ObjectMapEntry* entry = nullptr;
  for (ObjectMapEntry* e = objectMap; e->clsid; ++e) {
    if (e->classObjectCreator && IsEqualGUID(*e->clsid, clsid)) {
      entry = e;
      break;
    }
  }
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;

  HRESULT hr = S_OK;
  if (!LoadCache(entry)) {
    EnterCriticalSection(&objectMapSection);
    if (!LoadCache(entry)) {
      void* created = nullptr;
      hr = entry->classObjectCreator(reinterpret_cast<void*>(entry->instanceCreator), IID_IUnknown, &created);
      if (created)
        std::atomic_ref<IUnknown*>(entry->cachedClassObject)
            .store(static_cast<IUnknown*>(created), std::memory_order_release);
    }
    LeaveCriticalSection(&objectMapSection);
  }
  if (IUnknown* cached = LoadCache(entry)) hr = cached->QueryInterface(iid, out);
  if (!*out && hr == S_OK) return CLASS_E_CLASSNOTAVAILABLE;
  return hr;
}

HRESULT ModuleState::AddTermCallback(TermCallback callback, TermCallbackData userData) {
  auto* node = static_cast<TermCallbackNode*>(ObjectAlloc(sizeof(TermCallbackNode)));
  if (!node) return E_OUTOFMEMORY;
  node->callback = callback;
  node->userData = userData;
  EnterCriticalSection(&firstSection);
  node->next = termCallbacks;
  termCallbacks = node;
  LeaveCriticalSection(&firstSection);
  return S_OK;
}

void ModuleState::Lock() { InterlockedIncrement(&lockCount); }
void ModuleState::Unlock() { InterlockedDecrement(&lockCount); }
LONG ModuleState::LockCount() const {
  return __atomic_load_n(&lockCount, __ATOMIC_RELAXED);
}
