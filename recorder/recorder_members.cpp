// The members of IquibVoiceRec. Placeholder: every member reports that no
// control is live.
#include "recorder/recorder_members.h"

namespace RecorderMembers {
HRESULT Init(Recorder*, BSTR, LONG, LONG) { return S_FALSE; }
HRESULT GetHWnd(Recorder*, LONG*) { return S_FALSE; }
HRESULT Record(Recorder*, BSTR) { return S_FALSE; }
HRESULT Play(Recorder*) { return S_FALSE; }
HRESULT Stop(Recorder*) { return S_FALSE; }
HRESULT Save(Recorder*) { return S_FALSE; }
HRESULT Discard(Recorder*) { return S_FALSE; }
HRESULT Show(Recorder*) { return S_FALSE; }
HRESULT Hide(Recorder*) { return S_FALSE; }
HRESULT PlayFile(Recorder*, BSTR) { return S_OK; }
HRESULT GetActive(Recorder*, LONG* value) {
  if (!value) return E_POINTER;
  *value = 0;
  return S_OK;
}
}  // namespace RecorderMembers
