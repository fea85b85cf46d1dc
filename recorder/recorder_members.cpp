// The members of IquibVoiceRec: each drives the voice recorder control by a
// window message, or reports it. Without a live control a member reports
// S_FALSE and sends nothing.
#include "recorder/recorder_members.h"

#include "platform/sound.h"
#include "platform/voicectl.h"
#include "platform/windowing.h"
#include "recorder/control_hook.h"

namespace {

constexpr LONG kControlX = 50;
constexpr LONG kControlY = 160;
constexpr UINT kControlId = 0;

void SendToControl(Recorder* self, UINT message) { SendMessageW(self->controlWindow, message, 0, 0); }

void ShowControl(Recorder* self, int command) {
  ShowWindow(self->controlWindow, command);
  UpdateWindow(self->controlWindow);
}

}  // namespace

namespace RecorderMembers {

HRESULT Init(Recorder* self, BSTR filename, LONG hwnd, LONG style) {
  if (self->controlWindow) self->Dual()->Discard();

  VoiceRecorderSpec record;
  std::memset(&record, 0, sizeof record);
  record.size = static_cast<WORD>(sizeof record);
  record.style = static_cast<DWORD>(style);
  record.x = kControlX;
  record.y = kControlY;
  record.parent = static_cast<HWND>(hwnd);
  record.id = kControlId;
  record.fileName = filename;

  self->controlWindow = VoiceRecorder_Create(&record);
  if (!self->controlWindow) {
    MessageBoxW(0, u"Could not initialize voice control!", u"quibVoice", MB_OK | MB_ICONEXCLAMATION);
    return S_FALSE;
  }
  // A control forgotten after Save, or after it closed, still holds the hook:
  // end it, so that the control created now is hooked as well.
  if (self->hooked) ControlHook::Remove(self);
  ControlHook::Install(self, self->controlWindow);
  ShowControl(self, SW_HIDE);  // hidden until Show, whatever the style asks for
  return S_OK;
}

HRESULT GetHWnd(Recorder* self, LONG* value) {
  if (!value) return E_POINTER;
  if (!self->controlWindow) return S_FALSE;
  *value = static_cast<LONG>(self->controlWindow);
  return S_OK;
}

HRESULT Record(Recorder* self, BSTR) {
  if (!self->controlWindow) return S_FALSE;
  HWND recordButton = GetWindow(self->controlWindow, GW_CHILD);
  SendMessageW(self->controlWindow, WM_COMMAND, MakeWParam(VRC_RECORD, 0), static_cast<LPARAM>(recordButton));
  return S_OK;
}

HRESULT Play(Recorder* self) {
  if (!self->controlWindow) return S_FALSE;
  SendToControl(self, VRM_PLAY);
  return S_OK;
}

HRESULT Stop(Recorder* self) {
  if (!self->controlWindow) return S_FALSE;
  SendToControl(self, VRM_STOP);
  return S_OK;
}

HRESULT Save(Recorder* self) {
  if (!self->controlWindow) return S_FALSE;
  // The hook stays: notifications sent while the control saves still fire.
  SendToControl(self, VRM_OK);
  self->controlWindow = 0;
  return S_OK;
}

HRESULT Discard(Recorder* self) {
  if (!self->controlWindow) return S_FALSE;
  // The hook goes first: nothing the control does on cancelling fires.
  ControlHook::Remove(self);
  SendToControl(self, VRM_CANCEL);
  self->controlWindow = 0;
  return S_OK;
}

HRESULT Show(Recorder* self) {
  if (!self->controlWindow) return S_FALSE;
  ShowControl(self, SW_SHOW);
  return S_OK;
}

HRESULT Hide(Recorder* self) {
  if (!self->controlWindow) return S_FALSE;
  ShowControl(self, SW_HIDE);
  return S_OK;
}

HRESULT PlayFile(Recorder*, BSTR filename) {
  PlaySoundW(filename, nullptr, SND_FILENAME | SND_ASYNC);  // a sound that cannot play is not an error
  return S_OK;
}

HRESULT GetActive(Recorder* self, LONG* value) {
  if (!value) return E_POINTER;
  *value = self->controlWindow ? 1 : 0;
  return S_OK;
}

}  // namespace RecorderMembers
