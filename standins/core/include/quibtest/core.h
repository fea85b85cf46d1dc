// Test hooks of the core stand-in: allocation faults and counts, heap events,
// reported system information. Tests include this; the system never does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#define QUIB_TESTHOOK __attribute__((visibility("default")))

namespace quibtest {

enum class Allocator { Object, RuntimeHeap, PrivateHeap, TaskMemory };

// Makes the nth request from now (1 = the next) of that allocator fail; with
// persistent, that one and every later request fail. Heap creation counts as a
// request of the PrivateHeap allocator.
QUIB_TESTHOOK void FailAllocation(Allocator allocator, unsigned nth, bool persistent = false);
QUIB_TESTHOOK void ClearAllocationFaults();
// Requests made of an allocator since the process started (failed ones too).
QUIB_TESTHOOK std::size_t AllocationRequests(Allocator allocator);
// Blocks allocated and not yet freed (for PrivateHeap: blocks in live heaps).
QUIB_TESTHOOK std::size_t LiveAllocations(Allocator allocator);

// Private heaps: live ones, and the order in which heaps were made and destroyed.
struct HeapEvent {
  enum Kind { Created, Destroyed } kind;
  void* heap;
};
QUIB_TESTHOOK std::size_t LiveHeaps();
QUIB_TESTHOOK std::vector<HeapEvent> HeapEvents();
QUIB_TESTHOOK void ClearHeapEvents();

// What the version and system-information queries report. Defaults: a
// 3.0 version record with platform id 3 and this machine's processor count.
struct ReportedSystem {
  std::uint32_t platformId;
  std::uint32_t majorVersion;
  std::uint32_t minorVersion;
  std::uint32_t processors;
};
QUIB_TESTHOOK void SetReportedSystem(const ReportedSystem& system);
QUIB_TESTHOOK void ResetReportedSystem();
QUIB_TESTHOOK ReportedSystem DefaultReportedSystem();

}  // namespace quibtest
