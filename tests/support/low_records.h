// A notification record at an address that a 32-bit lParam can carry, for
// tests that send WM_NOTIFY themselves.
#pragma once

#include <sys/mman.h>

#include <cstdint>

#include "platform/windowing.h"

namespace quibtest {

// One record in a page below 4 GiB; null when no such page can be mapped.
inline NMHDR* LowRecord() {
  static NMHDR* record = [] {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_32BIT
    if (sizeof(void*) > 4) flags |= MAP_32BIT;
#endif
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, flags, -1, 0);
    return page == MAP_FAILED ? nullptr : static_cast<NMHDR*>(page);
  }();
  return record;
}

inline LPARAM AddressOf(NMHDR* record) { return static_cast<LPARAM>(reinterpret_cast<std::uintptr_t>(record)); }

}  // namespace quibtest
