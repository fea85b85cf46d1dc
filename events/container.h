// The recorder's IConnectionPointContainer face and its ConnectionMap.
#pragma once

#include "recorder/recorder.h"

namespace ConnectionPointContainer {
HRESULT EnumConnectionPoints(Recorder* self, IEnumConnectionPoints** out);
HRESULT FindConnectionPoint(Recorder* self, REFIID iid, IConnectionPoint** out);
}  // namespace ConnectionPointContainer
