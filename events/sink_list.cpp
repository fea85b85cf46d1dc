// SinkList. On this build cookies are the low 32 bits of the sink pointer
// (see docs/abi.md); placeholder until the connection point lands.
#include "events/sink_list.h"

#include "platform/heaps.h"

DWORD SinkList::CookieOf(IUnknown* sink) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(sink)); }

IUnknown** SinkList::SlotBegin() { return capacity < 2 ? &single : slots; }
IUnknown** SinkList::SlotEnd() { return SlotBegin() + capacity; }

IUnknown* SinkList::SinkAt(LONG index) const {
  if (index < 0 || index >= capacity) return nullptr;
  return capacity == 1 ? single : slots[index];
}

DWORD SinkList::AddSink(IUnknown*) { return 0; }
bool SinkList::RemoveSink(DWORD) { return false; }

void SinkList::ReleaseAllSinks() {
  for (IUnknown** p = SlotBegin(); p != SlotEnd(); ++p)
    if (*p) (*p)->Release();
  if (capacity > 1) RtHeapFree(slots);
}
