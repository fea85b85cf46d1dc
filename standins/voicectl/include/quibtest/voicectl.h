// Test hooks of the voice recorder control: what it records from, the clock
// its recording and playing follow, and what it has done. Tests include this;
// the system never does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/windowing.h"
#include "quibtest/core.h"

namespace quibtest {

// What the control "records": a generated sine tone (the default: 440 Hz,
// 8000 samples per second, 16-bit, mono, half of full scale), or the PCM
// samples of a RIFF WAVE file, from its start, in its format (silence once the
// file's samples run out). A file that cannot be read makes Record fail.
QUIB_TESTHOOK void SetVoiceSourceTone(DWORD frequencyHz, DWORD samplesPerSec = 8000, WORD bitsPerSample = 16,
                                      WORD channels = 1);
QUIB_TESTHOOK void SetVoiceSourceFile(const std::string& path);
QUIB_TESTHOOK void ResetVoiceSource();

// The clock, in milliseconds. By default it follows the system's monotonic
// clock; once driven it moves only with AdvanceVoiceClock, which also lets a
// playing control reach the end of its recording (and report it).
QUIB_TESTHOOK void DriveVoiceClock();
QUIB_TESTHOOK void AdvanceVoiceClock(DWORD milliseconds);
QUIB_TESTHOOK void UseRealVoiceClock();

struct VoiceControlState {
  bool live;                // a control with this window exists
  std::u16string fileName;  // the control's own copy
  bool hasFileName;
  bool recording;
  bool playing;
  DWORD recordedFrames;     // of the last finished recording
};
QUIB_TESTHOOK VoiceControlState VoiceControlStateOf(HWND control);
QUIB_TESTHOOK std::size_t LiveVoiceControls();

// The creation records VoiceRecorder_Create was given, in order: the size
// field's two bytes, and the whole record when that size was right.
struct CreationRecord {
  std::vector<unsigned char> bytes;
  HWND result;
};
QUIB_TESTHOOK std::vector<CreationRecord> CreationRecords();
QUIB_TESTHOOK void ClearCreationRecords();

// Every notification a control sent, in order.
struct VoiceNotification {
  HWND control;
  INT code;
  LPARAM lParam;  // the address of the record, as sent
};
QUIB_TESTHOOK std::vector<VoiceNotification> VoiceNotifications();
QUIB_TESTHOOK void ClearVoiceNotifications();

}  // namespace quibtest
