// The recorder's IConnectionPointContainer face and its ConnectionMap.
#pragma once

#include "recorder/recorder.h"

namespace ConnectionPointContainer {
HRESULT EnumConnectionPoints(Recorder* self, IEnumConnectionPoints** out);
// A missing IID (a null reference from a caller through the table) is
// refused with E_POINTER, like a missing out pointer.
HRESULT FindConnectionPoint(Recorder* self, REFIID iid, IConnectionPoint** out);
// The distances from the container face to each connection point face, ended
// by -1; `count`, when given, receives the number of entries before the -1.
const LONG* GetConnectionMap(int* count);
}  // namespace ConnectionPointContainer
