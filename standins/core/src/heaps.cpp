// Allocators of the core stand-in, each with fault injection and live counts.
#include "platform/heaps.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/errors.h"
#include "quibtest/core.h"

namespace {

using quibtest::Allocator;
constexpr int kAllocators = 4;

struct Fault {
  unsigned countdown = 0;  // 0: none armed
  bool persistent = false;
  bool tripped = false;
};

struct AllocatorState {
  std::atomic<std::size_t> requests{0};
  std::atomic<std::size_t> live{0};
};

std::mutex g_faultLock;
Fault g_faults[kAllocators];
AllocatorState g_state[kAllocators];

// Counts one request and says whether it must fail.
bool Request(Allocator which) {
  int i = static_cast<int>(which);
  g_state[i].requests.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard<std::mutex> hold(g_faultLock);
  Fault& f = g_faults[i];
  if (f.tripped) return f.persistent;
  if (f.countdown == 0) return false;
  if (--f.countdown == 0) {
    f.tripped = true;
    return true;
  }
  return false;
}

void AddLive(Allocator which, long delta) {
  g_state[static_cast<int>(which)].live.fetch_add(static_cast<std::size_t>(delta), std::memory_order_relaxed);
}

// Blocks carry a header with their size so that realloc can be counted.
void* CountedAlloc(Allocator which, std::size_t bytes) {
  if (Request(which)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  AddLive(which, 1);
  return p;
}

void* CountedRealloc(Allocator which, void* block, std::size_t bytes) {
  if (!block) return CountedAlloc(which, bytes);
  if (Request(which)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* p = std::realloc(block, bytes == 0 ? 1 : bytes);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

void CountedFree(Allocator which, void* block) {
  if (!block) return;
  std::free(block);
  AddLive(which, -1);
}

// Private heaps: a heap is a set of blocks, all freed when it is destroyed.
struct PrivateHeap {
  std::mutex lock;
  std::unordered_set<void*> blocks;
};

std::mutex g_heapLock;
std::unordered_set<PrivateHeap*> g_heaps;
std::vector<quibtest::HeapEvent> g_heapEvents;

PrivateHeap* FindHeap(HANDLE h) {
  std::lock_guard<std::mutex> hold(g_heapLock);
  auto it = g_heaps.find(static_cast<PrivateHeap*>(h));
  return it == g_heaps.end() ? nullptr : *it;
}

}  // namespace

void* ObjectAlloc(std::size_t bytes) { return CountedAlloc(Allocator::Object, bytes); }
void ObjectFree(void* block) { CountedFree(Allocator::Object, block); }

void* RtHeapAlloc(std::size_t bytes) { return CountedAlloc(Allocator::RuntimeHeap, bytes); }
void* RtHeapRealloc(void* block, std::size_t bytes) { return CountedRealloc(Allocator::RuntimeHeap, block, bytes); }
void RtHeapFree(void* block) { CountedFree(Allocator::RuntimeHeap, block); }

void* CoTaskMemAlloc(std::size_t bytes) { return CountedAlloc(Allocator::TaskMemory, bytes); }
void* CoTaskMemRealloc(void* block, std::size_t bytes) { return CountedRealloc(Allocator::TaskMemory, block, bytes); }
void CoTaskMemFree(void* block) { CountedFree(Allocator::TaskMemory, block); }

HANDLE HeapCreate(DWORD, std::size_t, std::size_t) {
  if (Request(Allocator::PrivateHeap)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* heap = new (std::nothrow) PrivateHeap;
  if (!heap) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(g_heapLock);
  g_heaps.insert(heap);
  g_heapEvents.push_back({quibtest::HeapEvent::Created, heap});
  return heap;
}

void* HeapAlloc(HANDLE h, DWORD, std::size_t bytes) {
  PrivateHeap* heap = FindHeap(h);
  if (!heap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (Request(Allocator::PrivateHeap)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(heap->lock);
  heap->blocks.insert(p);
  AddLive(Allocator::PrivateHeap, 1);
  return p;
}

BOOL HeapFree(HANDLE h, DWORD, void* block) {
  PrivateHeap* heap = FindHeap(h);
  if (!heap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!block) return TRUE;
  std::lock_guard<std::mutex> hold(heap->lock);
  if (heap->blocks.erase(block) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::free(block);
  AddLive(Allocator::PrivateHeap, -1);
  return TRUE;
}

BOOL HeapDestroy(HANDLE h) {
  PrivateHeap* heap = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_heapLock);
    auto it = g_heaps.find(static_cast<PrivateHeap*>(h));
    if (it == g_heaps.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    heap = *it;
    g_heaps.erase(it);
    g_heapEvents.push_back({quibtest::HeapEvent::Destroyed, heap});
  }
  for (void* p : heap->blocks) {
    std::free(p);
    AddLive(Allocator::PrivateHeap, -1);
  }
  delete heap;
  return TRUE;
}

namespace quibtest {

void FailAllocation(Allocator allocator, unsigned nth, bool persistent) {
  std::lock_guard<std::mutex> hold(g_faultLock);
  g_faults[static_cast<int>(allocator)] = Fault{nth, persistent, false};
}

void ClearAllocationFaults() {
  std::lock_guard<std::mutex> hold(g_faultLock);
  for (Fault& f : g_faults) f = Fault{};
}

std::size_t AllocationRequests(Allocator allocator) {
  return g_state[static_cast<int>(allocator)].requests.load(std::memory_order_relaxed);
}

std::size_t LiveAllocations(Allocator allocator) {
  return g_state[static_cast<int>(allocator)].live.load(std::memory_order_relaxed);
}

std::size_t LiveHeaps() {
  std::lock_guard<std::mutex> hold(g_heapLock);
  return g_heaps.size();
}

std::vector<HeapEvent> HeapEvents() {
  std::lock_guard<std::mutex> hold(g_heapLock);
  return g_heapEvents;
}

void ClearHeapEvents() {
  std::lock_guard<std::mutex> hold(g_heapLock);
  g_heapEvents.clear();
}

}  // namespace quibtest
