// SinkList: inline single sink, then a doubling run-time heap array of slots.
#include "events/sink_list.h"

#include <cstring>

#include "platform/heaps.h"

namespace {

constexpr LONG kFirstArrayCapacity = 4;
constexpr LONG kLargestCapacity = 0x7FFFFFFF;

// Bytes per slot in the array: the pointer, and its kept cookie where one is kept.
constexpr std::size_t kSlotBytes = sizeof(IUnknown*) + (SinkList::kKeptCookies ? sizeof(DWORD) : 0);

DWORD PointerCookie(IUnknown* sink) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(sink)); }

}  // namespace

LONG SinkList::DoubledCapacity(LONG current) {
  if (current <= 0 || current > kLargestCapacity / 2) return 0;
  LONG doubled = current * 2;
  if (static_cast<std::size_t>(doubled) > static_cast<std::size_t>(-1) / kSlotBytes) return 0;
  return doubled;
}

DWORD* SinkList::Cookies() const { return reinterpret_cast<DWORD*>(slots + capacity); }

IUnknown** SinkList::SlotBegin() { return capacity < 2 ? &single : slots; }
IUnknown** SinkList::SlotEnd() { return SlotBegin() + capacity; }

DWORD SinkList::CookieAt(LONG index) const {
  IUnknown* sink = SinkAt(index);
  if (!sink) return 0;
#if QUIB_SINKLIST_KEPT_COOKIES
  return capacity == 1 ? singleCookie : Cookies()[index];
#else
  return PointerCookie(sink);
#endif
}

// A cookie held by a stored sink.
bool SinkList::CookieInUse(DWORD cookie) const {
  for (LONG i = 0; i < capacity; ++i)
    if (SinkAt(i) && CookieAt(i) == cookie) return true;
  return false;
}

// The cookie a sink about to be stored gets: the one it holds already when it
// is stored, else the low half of its pointer moved past cookies in use.
DWORD SinkList::ChooseCookie(IUnknown* sink) const {
  if constexpr (!kKeptCookies) {
    return PointerCookie(sink);
  } else {
    for (LONG i = 0; i < capacity; ++i)
      if (SinkAt(i) == sink) return CookieAt(i);
    DWORD cookie = PointerCookie(sink);
    if (cookie == 0) cookie = 1;
    while (CookieInUse(cookie))
      if (++cookie == 0) cookie = 1;
    return cookie;
  }
}

DWORD SinkList::AddSink(IUnknown* sink) {
  DWORD cookie = ChooseCookie(sink);
  if (capacity == 0) {
    single = sink;
#if QUIB_SINKLIST_KEPT_COOKIES
    singleCookie = cookie;
#endif
    capacity = 1;
    return cookie;
  }
  if (capacity == 1) {
    auto* block = static_cast<IUnknown**>(RtHeapAlloc(kFirstArrayCapacity * kSlotBytes));
    if (!block) return 0;
    std::memset(block, 0, kFirstArrayCapacity * kSlotBytes);
    block[0] = single;
#if QUIB_SINKLIST_KEPT_COOKIES
    reinterpret_cast<DWORD*>(block + kFirstArrayCapacity)[0] = singleCookie;
#endif
    slots = block;
    capacity = kFirstArrayCapacity;
  }
  for (LONG i = 0; i < capacity; ++i) {
    if (!slots[i]) {
      slots[i] = sink;
      if constexpr (kKeptCookies) Cookies()[i] = cookie;
      return cookie;
    }
  }
  LONG grown = DoubledCapacity(capacity);
  if (grown == 0) return 0;
  auto* block = static_cast<IUnknown**>(RtHeapRealloc(slots, static_cast<std::size_t>(grown) * kSlotBytes));
  if (!block) return 0;
  LONG old = capacity;
  if constexpr (kKeptCookies) {
    auto* oldCookies = reinterpret_cast<DWORD*>(block + old);
    auto* newCookies = reinterpret_cast<DWORD*>(block + grown);
    std::memmove(newCookies, oldCookies, static_cast<std::size_t>(old) * sizeof(DWORD));
    std::memset(newCookies + old, 0, static_cast<std::size_t>(grown - old) * sizeof(DWORD));
  }
  std::memset(block + old, 0, static_cast<std::size_t>(grown - old) * sizeof(IUnknown*));
  slots = block;
  capacity = grown;
  slots[old] = sink;
  if constexpr (kKeptCookies) Cookies()[old] = cookie;
  return cookie;
}

bool SinkList::RemoveSink(DWORD cookie, IUnknown** removed) {
  if (removed) *removed = nullptr;
  if (cookie == 0 || capacity == 0) return false;
  for (LONG i = 0; i < capacity; ++i) {
    IUnknown* sink = SinkAt(i);
    if (!sink || CookieAt(i) != cookie) continue;
    if (capacity == 1)
      capacity = 0;
    else
      slots[i] = nullptr;
    if (removed) *removed = sink;
    return true;
  }
  return false;
}

void SinkList::ReleaseAllSinks() {
  for (IUnknown** p = SlotBegin(); p != SlotEnd(); ++p)
    if (*p) (*p)->Release();
  if (capacity > 1) RtHeapFree(slots);
}
