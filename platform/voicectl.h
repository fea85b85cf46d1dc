// The voice recorder control: a dialog window that records a voice note into
// a file, created from a VoiceRecorderSpec, driven by messages, reporting
// what it does with WM_NOTIFY notifications through its own window.
#pragma once

#include "platform/types.h"
#include "platform/windowing.h"

// The creation record. Its layout is the control's: 28 bytes on a 32-bit
// build; on a 64-bit build the file-name pointer widens and the record is 32
// bytes (see docs/abi.md). size must equal sizeof(VoiceRecorderSpec).
struct VoiceRecorderSpec {
  WORD size;         // sizeof(VoiceRecorderSpec)
  WORD reserved;     // 0
  DWORD style;       // window style of the control (WS_VISIBLE shows it at once)
  LONG x;            // position in the parent
  LONG y;
  HWND parent;       // the parent window
  UINT id;           // the control's id
  LPWSTR fileName;   // where OK writes the recording; copied at creation
};
static_assert(offsetof(VoiceRecorderSpec, style) == 4);
static_assert(offsetof(VoiceRecorderSpec, parent) == 16);
static_assert(offsetof(VoiceRecorderSpec, id) == 20);
static_assert(offsetof(VoiceRecorderSpec, fileName) == 24);
static_assert(sizeof(void*) != 4 || sizeof(VoiceRecorderSpec) == 28);

// Messages to the control window (wParam 0, lParam 0).
constexpr UINT VRM_PLAY = 6401;    // play the recording
constexpr UINT VRM_STOP = 6402;    // stop recording or playing
constexpr UINT VRM_CANCEL = 6403;  // discard the recording and close
constexpr UINT VRM_OK = 6404;      // write the recording to the file and close

// WM_COMMAND ids of the control's buttons. Command VRC_RECORD (wParam 202,
// lParam the record button) starts recording.
constexpr WORD VRC_RECORD = 202;
constexpr WORD VRC_PLAY = 203;
constexpr WORD VRC_STOP = 204;

// Notification codes (NMHDR::code of WM_NOTIFY, sent through the control
// window). VRN_CANCEL and VRN_OK are the two with which the control reports
// that it has closed; its window is destroyed right after them.
constexpr INT VRN_ERROR = -867;         // a request failed (nothing to play, no source, file not written)
constexpr INT VRN_CANCEL = -866;        // closed; the recording was discarded
constexpr INT VRN_OK = -865;            // closed; the recording was written to the file
constexpr INT VRN_RECORD_START = -864;  // recording started
constexpr INT VRN_RECORD_STOP = -863;   // recording stopped
constexpr INT VRN_PLAY_START = -862;    // playing started
constexpr INT VRN_PLAY_STOP = -861;     // playing stopped (asked for, or the end was reached)

// Creates the control as a child of record->parent and returns its window; 0
// when record is null, its size is wrong or the parent is not a window.
QUIB_PLATFORM_API HWND VoiceRecorder_Create(VoiceRecorderSpec* record);
