// ModuleState: the one module-wide record, from attach to detach, with the
// lock count, the module's heaps and critical sections and the TermCallbackList.
#pragma once

#include <cstdint>

#include "module/object_map.h"
#include "platform/sync.h"

// User data of a term callback. A 32-bit word on the device; pointer-wide
// here, because callers pass object addresses through it.
using TermCallbackData = std::uintptr_t;
using TermCallback = void (*)(TermCallbackData userData);

struct TermCallbackNode {
  TermCallback callback;
  TermCallbackData userData;
  TermCallbackNode* next;  // the node added before this one
};

struct ModuleState {
  DWORD formatSize;                 // 120: walks step over whole ObjectMapEntry records
  HINSTANCE instance;               // the library itself
  HINSTANCE resourceInstance;       // inert
  HINSTANCE typeLibInstance;        // the module whose file carries the type library
  ObjectMapEntry* objectMap;
  LONG lockCount;                   // changed by Lock/Unlock only
  HANDLE defaultHeap;               // holds the extra-heap array, nothing else
  CRITICAL_SECTION firstSection;    // TermCallbackList and type-information loading
  CRITICAL_SECTION secondSection;   // entered by no operation
  CRITICAL_SECTION objectMapSection;  // creation of cached class objects
  DWORD versionWord;                // 0x300, inert
  void* pointerSlot;                // inert
  bool ownsHeaps;
  const GUID* versionId;            // inert
  DWORD extraHeapMask;              // number of extra heaps minus one, or 0
  HANDLE* extraHeaps;
  DWORD heapIndex;                  // inert
  TermCallbackNode* termCallbacks;  // most recently added first

  static ModuleState* Current();

  HRESULT Initialise(ObjectMapEntry* map, HINSTANCE instanceHandle);
  HRESULT Terminate();
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
  HRESULT AddTermCallback(TermCallback callback, TermCallbackData userData);
  void Lock();
  void Unlock();
  LONG LockCount() const;  // relaxed atomic read

 private:
  void CreateExtraHeaps();
};

// The library's record, in static storage.
extern ModuleState g_moduleState;
