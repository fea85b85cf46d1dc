// SinkList: the event sinks connected at a recorder's connection point.
// Zero or one sink costs no heap memory; from the second on, a run-time heap
// array of slots that only grows (4, 8, 16, ...). The list owns one reference
// per stored sink.
#pragma once

#include "platform/objectmodel.h"

struct SinkList {
  union {
    IUnknown* single;  // capacity 1
    IUnknown** slots;  // capacity 2 or more
  };
  LONG capacity;       // 0 empty, 1 inline, else slots in the array

  // Takes over the caller's reference. Returns the sink's cookie, or 0 when no
  // memory is available (the list is then unchanged).
  DWORD AddSink(IUnknown* sink);
  // Empties the first slot holding the cookie; the reference goes back to the caller.
  bool RemoveSink(DWORD cookie);
  // The sink in a slot, or null (empty slot, index out of range).
  IUnknown* SinkAt(LONG index) const;
  // The cookie that names the sink stored in a slot.
  static DWORD CookieOf(IUnknown* sink);
  IUnknown** SlotBegin();
  IUnknown** SlotEnd();
  // Releases every sink and frees the array; the last thing done to the list.
  void ReleaseAllSinks();
};
