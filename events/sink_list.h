// SinkList: the event sinks connected at a recorder's connection point.
// Zero or one sink costs no heap memory; from the second on, a run-time heap
// array of slots that only grows (4, 8, 16, ...). The list owns one reference
// per stored sink.
//
// Cookies are 32-bit. Where pointers are 32-bit the cookie is the sink
// pointer's value. Where they are wider, each stored sink gets a 32-bit cookie
// kept beside its slot: the low half of its pointer, moved on past any cookie
// another sink of the list already holds; a sink stored again reuses the
// cookie it already has (docs/abi.md).
#pragma once

#include <cstdint>

#include "platform/objectmodel.h"

#if UINTPTR_MAX > 0xFFFFFFFFu
#define QUIB_SINKLIST_KEPT_COOKIES 1
#else
#define QUIB_SINKLIST_KEPT_COOKIES 0
#endif

struct SinkList {
  // Cookies are kept beside the slots only where a pointer does not fit one.
  static constexpr bool kKeptCookies = QUIB_SINKLIST_KEPT_COOKIES;

  union {
    IUnknown* single;  // capacity 1
    IUnknown** slots;  // capacity 2 or more; kept cookies follow the slots
  };
  LONG capacity;       // 0 empty, 1 inline, else slots in the array
#if QUIB_SINKLIST_KEPT_COOKIES
  DWORD singleCookie;  // capacity 1: the cookie of `single` (in the padding)
#endif

  // Takes over the caller's reference. Returns the sink's cookie, or 0 when no
  // memory is available or the array cannot grow further (the list is then
  // unchanged).
  DWORD AddSink(IUnknown* sink);
  // Empties the first slot holding the cookie; the reference goes back to the
  // caller, who finds the sink through `removed` when given.
  bool RemoveSink(DWORD cookie, IUnknown** removed = nullptr);
  // The sink in a slot, or null (empty slot, index out of range). Inline: the
  // firing fetches every sink through it.
  IUnknown* SinkAt(LONG index) const {
    if (index < 0 || index >= capacity) return nullptr;
    return capacity == 1 ? single : slots[index];
  }
  // The cookie of the sink in a slot; 0 for an empty slot or index out of range.
  DWORD CookieAt(LONG index) const;
  IUnknown** SlotBegin();
  IUnknown** SlotEnd();
  // Releases every sink and frees the array; the last thing done to the list.
  void ReleaseAllSinks();

  // The capacity after doubling `current`, or 0 when the doubled capacity or
  // its array would not fit the 32-bit count or the address space.
  static LONG DoubledCapacity(LONG current);

 private:
  DWORD* Cookies() const;  // array form with kept cookies
  DWORD ChooseCookie(IUnknown* sink) const;
  bool CookieInUse(DWORD cookie) const;
};
