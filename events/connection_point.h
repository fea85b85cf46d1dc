// The EventConnectionPoint: the recorder's IConnectionPoint face for
// _IquibVoiceRecEvents. Its only data is the recorder's SinkList.
#pragma once

#include "recorder/recorder.h"

namespace EventConnectionPoint {
HRESULT QueryInterface(Recorder* self, REFIID iid, void** out);
HRESULT GetConnectionInterface(IID* out);
HRESULT GetConnectionPointContainer(Recorder* self, IConnectionPointContainer** out);
HRESULT Advise(Recorder* self, IUnknown* sink, DWORD* cookie);
HRESULT Unadvise(Recorder* self, DWORD cookie);
HRESULT EnumConnections(Recorder* self, IEnumConnections** out);
}  // namespace EventConnectionPoint
