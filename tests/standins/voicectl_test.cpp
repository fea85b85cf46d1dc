// The voice recorder control stand-in: its creation record, its windows, its
// messages and the notifications it sends through its own window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sound.h"
#include "platform/voicectl.h"
#include "platform/windowing.h"
#include "quibtest/voicectl.h"
#include "quibtest/windows.h"
#include "wave_files.h"

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// What a procedure in front of the control's dialog slot saw: the codes of
// the notifications, read from their records while they were sent.
std::vector<INT> g_frontCodes;
std::vector<UINT> g_parentMessages;
WNDPROC g_controlProc = nullptr;

LRESULT Front(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY)
    g_frontCodes.push_back(reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<DWORD>(lParam)))->code);
  return CallWindowProcW(g_controlProc, window, message, wParam, lParam);
}

LRESULT ParentProc(HWND, UINT message, WPARAM, LPARAM) {
  g_parentMessages.push_back(message);
  return 0;
}

class VoiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    quibtest::ResetVoiceSource();
    quibtest::DriveVoiceClock();
    quibtest::ClearVoiceNotifications();
    quibtest::ClearCreationRecords();
    g_frontCodes.clear();
    g_parentMessages.clear();
    parent_ = CreateWindowWithProc(&ParentProc, WS_VISIBLE, 0, 0, 240, 320, 0, 0);
    ASSERT_NE(parent_, 0u);
    fileName_ = Wide(file_);
    std::remove(file_.c_str());
  }
  void TearDown() override {
    DestroyWindow(parent_);
    std::remove(file_.c_str());
  }
  VoiceRecorderSpec Record() {
    VoiceRecorderSpec record{};
    record.size = sizeof record;
    record.x = 50;
    record.y = 160;
    record.parent = parent_;
    record.id = 9;
    record.fileName = fileName_.data();
    return record;
  }
  HWND Create() {
    VoiceRecorderSpec record = Record();
    return VoiceRecorder_Create(&record);
  }
  std::vector<INT> Codes(HWND control) {
    std::vector<INT> codes;
    for (const auto& n : quibtest::VoiceNotifications())
      if (n.control == control) codes.push_back(n.code);
    return codes;
  }

  HWND parent_ = 0;
  std::string file_ = quibtest::TempPath("voice.wav");
  std::u16string fileName_;
};

TEST_F(VoiceControl, TheRecordIsTheControlsSize) {
#if UINTPTR_MAX == 0xFFFFFFFFu
  EXPECT_EQ(sizeof(VoiceRecorderSpec), 28u);
#else
  EXPECT_EQ(sizeof(VoiceRecorderSpec), 32u);
#endif
}

TEST_F(VoiceControl, ARecordOfTheWrongSizeOrWithoutAParentWindowGivesNone) {
  HWND stale = CreateWindowWithProc(nullptr, 0, 0, 0, 1, 1, 0, 0);
  DestroyWindow(stale);
  struct Case {
    const char* name;
    WORD size;
    HWND parent;
  };
  const Case cases[] = {
      {"size 0", 0, parent_},
      {"size one short", static_cast<WORD>(sizeof(VoiceRecorderSpec) - 1), parent_},
      {"size one over", static_cast<WORD>(sizeof(VoiceRecorderSpec) + 1), parent_},
      {"size as a 32-bit word read with the zero after it", static_cast<WORD>(sizeof(VoiceRecorderSpec) << 8), parent_},
      {"no parent", static_cast<WORD>(sizeof(VoiceRecorderSpec)), 0},
      {"destroyed parent", static_cast<WORD>(sizeof(VoiceRecorderSpec)), stale},
      {"parent never made", static_cast<WORD>(sizeof(VoiceRecorderSpec)), 0x7FFFFFF1u},
  };
  std::size_t windows = quibtest::LiveWindows();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VoiceRecorderSpec record = Record();
    record.size = c.size;
    record.parent = c.parent;
    EXPECT_EQ(VoiceRecorder_Create(&record), 0u);
  }
  EXPECT_EQ(VoiceRecorder_Create(nullptr), 0u);
  EXPECT_EQ(quibtest::LiveWindows(), windows);
  EXPECT_EQ(quibtest::LiveVoiceControls(), 0u);
}

TEST_F(VoiceControl, IsADialogChildOfItsParentWithTheRecordButtonFirst) {
  HWND control = Create();
  ASSERT_NE(control, 0u);
  EXPECT_EQ(GetParent(control), parent_);
  EXPECT_NE(GetWindowLongPtrW(control, DWL_DLGPROC), 0);  // a dialog window
  HWND button = GetWindow(control, GW_CHILD);
  ASSERT_NE(button, 0u);
  EXPECT_EQ(GetWindowLongPtrW(button, GWL_ID), 202);
  EXPECT_NE(GetWindow(button, GW_HWNDNEXT), 0u);
  EXPECT_FALSE(IsWindowVisible(control));  // the style did not ask to show it

  VoiceRecorderSpec record = Record();
  record.style = WS_VISIBLE;
  HWND shown = VoiceRecorder_Create(&record);
  EXPECT_TRUE(IsWindowVisible(shown));
  SendMessageW(shown, VRM_CANCEL, 0, 0);
  SendMessageW(control, VRM_CANCEL, 0, 0);
}

TEST_F(VoiceControl, CopiesTheFileName) {
  std::u16string name = fileName_;
  VoiceRecorderSpec record = Record();
  record.fileName = name.data();
  HWND control = VoiceRecorder_Create(&record);
  ASSERT_NE(control, 0u);
  name.assign(name.size(), u'x');  // the caller's string changes after creation
  EXPECT_EQ(quibtest::VoiceControlStateOf(control).fileName, fileName_);

  SendMessageW(control, WM_COMMAND, VRC_RECORD, static_cast<LPARAM>(GetWindow(control, GW_CHILD)));
  quibtest::AdvanceVoiceClock(100);
  SendMessageW(control, VRM_OK, 0, 0);
  EXPECT_FALSE(quibtest::ReadBytes(file_).empty());
}

TEST_F(VoiceControl, RecordsForAsLongAsTheClockRunsAndWritesPcmOnOk) {
  quibtest::SetVoiceSourceTone(440, 11025, 16, 1);
  HWND control = Create();
  SendMessageW(control, WM_COMMAND, VRC_RECORD, static_cast<LPARAM>(GetWindow(control, GW_CHILD)));
  EXPECT_TRUE(quibtest::VoiceControlStateOf(control).recording);
  quibtest::AdvanceVoiceClock(2000);
  SendMessageW(control, VRM_STOP, 0, 0);
  EXPECT_EQ(quibtest::VoiceControlStateOf(control).recordedFrames, 22050u);
  SendMessageW(control, VRM_OK, 0, 0);

  EXPECT_FALSE(IsWindow(control));
  EXPECT_EQ(quibtest::LiveVoiceControls(), 0u);
  std::vector<unsigned char> bytes = quibtest::ReadBytes(file_);
  quibtest::WaveLayout layout = quibtest::ReadWaveLayout(bytes);
  EXPECT_TRUE(layout.canonical);
  EXPECT_EQ(layout.formatTag, 1);
  EXPECT_EQ(layout.channels, 1);
  EXPECT_EQ(layout.samplesPerSec, 11025u);
  EXPECT_EQ(layout.bitsPerSample, 16);
  EXPECT_EQ(layout.dataBytes, 44100u);
  // Not silence: the tone is there.
  bool nonZero = false;
  for (std::size_t i = 44; i < bytes.size(); ++i) nonZero |= bytes[i] != 0;
  EXPECT_TRUE(nonZero);
  std::vector<INT> expected = {VRN_RECORD_START, VRN_RECORD_STOP, VRN_OK};
  EXPECT_EQ(Codes(control), expected);
}

TEST_F(VoiceControl, RecordsFromAFileSource) {
  std::string source = quibtest::TempPath("source.wav");
  quibtest::WriteBytes(source, quibtest::WaveBytes({1, 2, 8000, 8, 400}));  // 50 ms
  quibtest::SetVoiceSourceFile(source);
  HWND control = Create();
  SendMessageW(control, WM_COMMAND, VRC_RECORD, 0);
  quibtest::AdvanceVoiceClock(100);  // longer than the file: silence after it
  SendMessageW(control, VRM_OK, 0, 0);  // OK while recording stops first

  std::vector<unsigned char> bytes = quibtest::ReadBytes(file_);
  quibtest::WaveLayout layout = quibtest::ReadWaveLayout(bytes);
  ASSERT_TRUE(layout.canonical);
  EXPECT_EQ(layout.channels, 2);
  EXPECT_EQ(layout.bitsPerSample, 8);
  EXPECT_EQ(layout.dataBytes, 1600u);
  std::vector<unsigned char> expected = quibtest::WaveBytes({1, 2, 8000, 8, 400});
  EXPECT_TRUE(std::equal(expected.begin() + 44, expected.end(), bytes.begin() + 44));
  EXPECT_EQ(bytes[44 + 800], 0x80);  // 8-bit silence
  std::vector<INT> codes = {VRN_RECORD_START, VRN_RECORD_STOP, VRN_OK};
  EXPECT_EQ(Codes(control), codes);
  std::remove(source.c_str());
}

TEST_F(VoiceControl, AnUnreadableSourceReportsAnError) {
  quibtest::SetVoiceSourceFile(quibtest::TempPath("missing-source.wav"));
  HWND control = Create();
  SendMessageW(control, WM_COMMAND, VRC_RECORD, 0);
  EXPECT_FALSE(quibtest::VoiceControlStateOf(control).recording);
  EXPECT_EQ(Codes(control), std::vector<INT>{VRN_ERROR});
  SendMessageW(control, VRM_CANCEL, 0, 0);
}

TEST_F(VoiceControl, PlaysItsRecordingUntilTheEndOrStop) {
  HWND control = Create();
  SendMessageW(control, VRM_PLAY, 0, 0);  // nothing recorded yet
  SendMessageW(control, WM_COMMAND, VRC_RECORD, 0);
  quibtest::AdvanceVoiceClock(300);
  quibtest::ClearPlayedSounds();
  SendMessageW(control, VRM_PLAY, 0, 0);  // play while recording stops first
  EXPECT_TRUE(quibtest::VoiceControlStateOf(control).playing);
  ASSERT_EQ(quibtest::PlayedSounds().size(), 1u);
  EXPECT_EQ(quibtest::PlayedSounds()[0].durationMs, 300u);
  quibtest::AdvanceVoiceClock(299);
  EXPECT_TRUE(quibtest::VoiceControlStateOf(control).playing);
  quibtest::AdvanceVoiceClock(1);
  EXPECT_FALSE(quibtest::VoiceControlStateOf(control).playing);
  SendMessageW(control, VRM_PLAY, 0, 0);
  SendMessageW(control, VRM_STOP, 0, 0);
  SendMessageW(control, VRM_STOP, 0, 0);  // nothing to stop: nothing reported
  std::vector<INT> expected = {VRN_ERROR,      VRN_RECORD_START, VRN_RECORD_STOP, VRN_PLAY_START,
                               VRN_PLAY_STOP,  VRN_PLAY_START,   VRN_PLAY_STOP};
  EXPECT_EQ(Codes(control), expected);
  SendMessageW(control, VRM_CANCEL, 0, 0);
}

TEST_F(VoiceControl, CancelDiscardsAndCloses) {
  HWND control = Create();
  SendMessageW(control, WM_COMMAND, VRC_RECORD, 0);
  quibtest::AdvanceVoiceClock(100);
  SendMessageW(control, VRM_CANCEL, 0, 0);
  EXPECT_FALSE(IsWindow(control));
  EXPECT_TRUE(quibtest::ReadBytes(file_).empty());
  std::vector<INT> expected = {VRN_RECORD_START, VRN_CANCEL};
  EXPECT_EQ(Codes(control), expected);
}

TEST_F(VoiceControl, ClosingTheDialogCancelsIt) {
  HWND control = Create();
  SendMessageW(control, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(control));
  EXPECT_EQ(Codes(control), std::vector<INT>{VRN_CANCEL});
}

TEST_F(VoiceControl, OkWithoutAFileNameReportsAnErrorAndClosesWithoutSaving) {
  VoiceRecorderSpec record = Record();
  record.fileName = nullptr;
  HWND control = VoiceRecorder_Create(&record);
  ASSERT_NE(control, 0u);
  SendMessageW(control, VRM_OK, 0, 0);
  EXPECT_FALSE(IsWindow(control));
  std::vector<INT> expected = {VRN_ERROR, VRN_CANCEL};
  EXPECT_EQ(Codes(control), expected);
}

TEST_F(VoiceControl, OkWithNothingRecordedWritesAnEmptyWaveFile) {
  HWND control = Create();
  SendMessageW(control, VRM_OK, 0, 0);
  quibtest::WaveLayout layout = quibtest::ReadWaveLayout(quibtest::ReadBytes(file_));
  EXPECT_TRUE(layout.canonical);
  EXPECT_EQ(layout.dataBytes, 0u);
  EXPECT_EQ(Codes(control), std::vector<INT>{VRN_OK});
}

TEST_F(VoiceControl, NotificationsGoThroughItsOwnWindowSoThatTheDialogSlotSeesThemFirst) {
  HWND control = Create();
  g_controlProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&Front)));
  quibtest::ClearWindowLogs();
  SendMessageW(control, WM_COMMAND, VRC_RECORD, 0);
  SendMessageW(control, VRM_STOP, 0, 0);
  SendMessageW(control, VRM_CANCEL, 0, 0);
  std::vector<INT> expected = {VRN_RECORD_START, VRN_RECORD_STOP, VRN_CANCEL};
  EXPECT_EQ(g_frontCodes, expected);

  // Each went to the control window with wParam its id and lParam a record
  // whose address fits in 32 bits, then on to the parent.
  std::vector<quibtest::VoiceNotification> sent = quibtest::VoiceNotifications();
  ASSERT_EQ(sent.size(), 3u);
  std::vector<quibtest::ReceivedMessage> received;
  for (const auto& m : quibtest::ReceivedMessages(control))
    if (m.message == WM_NOTIFY) received.push_back(m);
  ASSERT_EQ(received.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(received[i].wParam, 9u);
    EXPECT_EQ(received[i].lParam, sent[i].lParam);
    EXPECT_GT(sent[i].lParam, 0);
  }
  auto* last = reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<DWORD>(sent[2].lParam)));
  EXPECT_EQ(last->hwndFrom, control);
  EXPECT_EQ(last->idFrom, 9u);
  EXPECT_EQ(last->code, VRN_CANCEL);
  std::size_t forwarded = 0;
  for (UINT m : g_parentMessages) forwarded += m == WM_NOTIFY;
  EXPECT_EQ(forwarded, 3u);
}

TEST_F(VoiceControl, ClickingTheRecordButtonRecords) {
  HWND control = Create();
  SendMessageW(GetWindow(control, GW_CHILD), BM_CLICK, 0, 0);
  EXPECT_TRUE(quibtest::VoiceControlStateOf(control).recording);
  SendMessageW(control, VRM_CANCEL, 0, 0);
}

// A front procedure that cancels the control when recording stops: the
// control must not touch itself afterwards (ASan watches).
HWND g_cancelOn = 0;
LRESULT CancelOnStop(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY &&
      reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<DWORD>(lParam)))->code == VRN_RECORD_STOP)
    SendMessageW(g_cancelOn, VRM_CANCEL, 0, 0);
  return CallWindowProcW(g_controlProc, window, message, wParam, lParam);
}

TEST_F(VoiceControl, ACancelFromInsideANotificationEndsTheControlCleanly) {
  HWND control = Create();
  g_cancelOn = control;
  g_controlProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&CancelOnStop)));
  SendMessageW(control, WM_COMMAND, VRC_RECORD, 0);
  quibtest::AdvanceVoiceClock(50);
  SendMessageW(control, VRM_OK, 0, 0);  // stops recording first; the cancel closes it
  EXPECT_FALSE(IsWindow(control));
  EXPECT_TRUE(quibtest::ReadBytes(file_).empty());
  std::vector<INT> expected = {VRN_RECORD_START, VRN_RECORD_STOP, VRN_CANCEL};
  EXPECT_EQ(Codes(control), expected);
}

}  // namespace
