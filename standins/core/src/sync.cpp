// Critical sections over re-entrant mutexes, and atomic counters.
#include "platform/sync.h"

#include <mutex>
#include <new>

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

namespace {
std::recursive_mutex* MutexOf(CRITICAL_SECTION* section) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}
}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section) { new (section->opaque) std::recursive_mutex; }
void EnterCriticalSection(CRITICAL_SECTION* section) { MutexOf(section)->lock(); }
void LeaveCriticalSection(CRITICAL_SECTION* section) { MutexOf(section)->unlock(); }
void DeleteCriticalSection(CRITICAL_SECTION* section) { MutexOf(section)->~recursive_mutex(); }

LONG InterlockedIncrement(LONG volatile* value) {
  return __atomic_add_fetch(const_cast<LONG*>(value), 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(LONG volatile* value) {
  return __atomic_sub_fetch(const_cast<LONG*>(value), 1, __ATOMIC_SEQ_CST);
}
