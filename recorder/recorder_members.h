// The members of IquibVoiceRec (slots 7 to 17), on the recorder object.
#pragma once

#include "recorder/recorder.h"

namespace RecorderMembers {
HRESULT Init(Recorder* self, BSTR filename, LONG hwnd, LONG style);
HRESULT GetHWnd(Recorder* self, LONG* value);
HRESULT Record(Recorder* self, BSTR filename);
HRESULT Play(Recorder* self);
HRESULT Stop(Recorder* self);
HRESULT Save(Recorder* self);
HRESULT Discard(Recorder* self);
HRESULT Show(Recorder* self);
HRESULT Hide(Recorder* self);
HRESULT PlayFile(Recorder* self, BSTR filename);
HRESULT GetActive(Recorder* self, LONG* value);
}  // namespace RecorderMembers
