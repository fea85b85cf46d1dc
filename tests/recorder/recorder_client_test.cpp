// The recorder object as a client drives it: loaded through the platform
// loader, called through IquibVoiceRec, observed through the stand-ins' logs.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "automation/contract.h"
#include "platform/automation.h"
#include "platform/sound.h"
#include "platform/voicectl.h"
#include "platform/windowing.h"
#include "quib_test_support.h"
#include "quibtest/voicectl.h"
#include "quibtest/windows.h"
#include "wave_files.h"

using quibtest::LoadedLibrary;
using quibtest::Ref;
using quibtest::WindowCall;

namespace {

// A BSTR for the length of a scope.
class Bstr {
 public:
  explicit Bstr(const std::string& text) : b_(SysAllocString(quibtest::Wide(text).c_str())) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }

 private:
  BSTR b_;
};

// The control's own dialog procedure, as a control fresh from the platform holds it.
LONG_PTR ControlProcedure() {
  static LONG_PTR value = [] {
    HWND parent = CreateWindowWithProc(nullptr, 0, 0, 0, 10, 10, 0, 0);
    VoiceRecorderSpec record{};
    record.size = sizeof record;
    record.parent = parent;
    HWND control = VoiceRecorder_Create(&record);
    LONG_PTR proc = GetWindowLongPtrW(control, DWL_DLGPROC);
    DestroyWindow(parent);
    return proc;
  }();
  return value;
}

std::vector<WindowCall> CallsFor(HWND window) {
  std::vector<WindowCall> calls;
  for (const WindowCall& c : quibtest::WindowCalls())
    if (c.window == window) calls.push_back(c);
  return calls;
}

// The position of the first call matching, or -1.
long IndexOf(const std::vector<WindowCall>& calls, std::function<bool(const WindowCall&)> match) {
  for (std::size_t i = 0; i < calls.size(); ++i)
    if (match(calls[i])) return static_cast<long>(i);
  return -1;
}

auto IsSend(HWND window, UINT message) {
  return [=](const WindowCall& c) { return c.kind == WindowCall::Send && c.window == window && c.message == message; };
}
auto IsSlotSet(HWND window, LONG_PTR value) {
  return [=](const WindowCall& c) {
    return c.kind == WindowCall::SetSlot && c.window == window && c.argument == DWL_DLGPROC && c.value == value;
  };
}

class RecorderClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(library_.getClassObject, nullptr);
    ASSERT_EQ(library_.CreateInstance(CLSID_quibVoiceRec, IID_IquibVoiceRec, recorder_.put_void()), S_OK);
    parent_ = CreateWindowWithProc(nullptr, WS_VISIBLE, 0, 0, 240, 320, 0, 0);
    ASSERT_NE(parent_, 0u);
    quibtest::ResetVoiceSource();
    quibtest::DriveVoiceClock();
    quibtest::ClearVoiceNotifications();
    quibtest::ClearCreationRecords();
    quibtest::ClearMessageBoxes();
    quibtest::ClearPlayedSounds();
    quibtest::ClearWindowLogs();
    std::remove(file_.c_str());
  }
  void TearDown() override {
    recorder_.reset();
    DestroyWindow(parent_);
    std::remove(file_.c_str());
  }

  // Init with a good parent; the new control's window.
  HWND InitControl(LONG style = 0) {
    Bstr name(file_);
    EXPECT_EQ(recorder_->Init(name.get(), static_cast<LONG>(parent_), style), S_OK);
    return quibtest::CreationRecords().empty() ? 0 : quibtest::CreationRecords().back().result;
  }
  LONG Active() {
    LONG value = -5;
    EXPECT_EQ(recorder_->get_Active(&value), S_OK);
    return value;
  }

  LoadedLibrary library_;
  Ref<IquibVoiceRec> recorder_;
  HWND parent_ = 0;
  std::string file_ = quibtest::TempPath("note.wav");
};

struct Member {
  const char* name;
  std::function<HRESULT(IquibVoiceRec*)> call;
};

const std::vector<Member>& ControlMembers() {
  static const std::vector<Member> members = {
      {"Record", [](IquibVoiceRec* r) { return r->Record(nullptr); }},
      {"Play", [](IquibVoiceRec* r) { return r->Play(); }},
      {"Stop", [](IquibVoiceRec* r) { return r->Stop(); }},
      {"Save", [](IquibVoiceRec* r) { return r->Save(); }},
      {"Discard", [](IquibVoiceRec* r) { return r->Discard(); }},
      {"Show", [](IquibVoiceRec* r) { return r->Show(); }},
      {"Hide", [](IquibVoiceRec* r) { return r->Hide(); }},
  };
  return members;
}

TEST_F(RecorderClient, WithoutAControlMembersReportFalseAndSendNothing) {
  for (const Member& m : ControlMembers()) {
    SCOPED_TRACE(m.name);
    EXPECT_EQ(m.call(recorder_.get()), S_FALSE);
  }
  LONG hwnd = 12345;
  EXPECT_EQ(recorder_->get_HWnd(&hwnd), S_FALSE);
  EXPECT_EQ(hwnd, 12345);  // left unwritten
  EXPECT_EQ(Active(), 0);
  EXPECT_TRUE(quibtest::WindowCalls().empty());
  EXPECT_TRUE(quibtest::CreationRecords().empty());
}

TEST_F(RecorderClient, PropertiesWithoutAnOutPointerReportAPointerError) {
  EXPECT_EQ(recorder_->get_HWnd(nullptr), E_POINTER);
  EXPECT_EQ(recorder_->get_Active(nullptr), E_POINTER);
  InitControl();
  EXPECT_EQ(recorder_->get_HWnd(nullptr), E_POINTER);
  EXPECT_EQ(recorder_->get_Active(nullptr), E_POINTER);
}

TEST_F(RecorderClient, PlayFileWorksBeforeAnyInitAndIgnoresASoundThatCannotPlay) {
  std::string sound = quibtest::TempPath("chime.wav");
  quibtest::WriteBytes(sound, quibtest::WaveBytes({1, 1, 8000, 16, 4000}));
  Bstr name(sound);
  EXPECT_EQ(recorder_->PlayFile(name.get()), S_OK);
  auto played = quibtest::PlayedSounds();
  ASSERT_EQ(played.size(), 1u);
  EXPECT_EQ(played[0].path, quibtest::Wide(sound));
  EXPECT_EQ(played[0].flags, 0x20001u);
  EXPECT_EQ(played[0].durationMs, 500u);

  Bstr missing(quibtest::TempPath("missing.wav"));
  EXPECT_EQ(recorder_->PlayFile(missing.get()), S_OK);
  EXPECT_EQ(recorder_->PlayFile(nullptr), S_OK);
  EXPECT_EQ(quibtest::PlayedSounds().size(), 1u);
  EXPECT_EQ(Active(), 0);
  std::remove(sound.c_str());
}

TEST_F(RecorderClient, InitPassesTheCreationRecordByteForByte) {
  Bstr name(file_);
  ASSERT_EQ(recorder_->Init(name.get(), static_cast<LONG>(parent_), 0x00A5C3), S_OK);
  ASSERT_EQ(quibtest::CreationRecords().size(), 1u);
  std::vector<unsigned char> bytes = quibtest::CreationRecords()[0].bytes;
  ASSERT_EQ(bytes.size(), sizeof(VoiceRecorderSpec));
  std::vector<unsigned char> expected;
  auto put = [&](std::uint32_t v) { quibtest::PutLe(expected, v, 4); };
  put(sizeof(VoiceRecorderSpec));  // 16-bit size, then zero
  put(0x00A5C3);
  put(50);
  put(160);
  put(parent_);
  put(0);
  auto pointer = reinterpret_cast<std::uintptr_t>(name.get());
  quibtest::PutLe(expected, static_cast<std::uint32_t>(pointer), 4);
  if (sizeof(void*) == 8) quibtest::PutLe(expected, static_cast<std::uint32_t>(static_cast<std::uint64_t>(pointer) >> 32), 4);
#if UINTPTR_MAX == 0xFFFFFFFFu
  ASSERT_EQ(bytes.size(), 28u);
#endif
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(bytes[0], sizeof(VoiceRecorderSpec));
  EXPECT_EQ(bytes[1], 0);
}

TEST_F(RecorderClient, InitWithANullFileNamePassesANullPointer) {
  ASSERT_EQ(recorder_->Init(nullptr, static_cast<LONG>(parent_), 0), S_OK);
  std::vector<unsigned char> bytes = quibtest::CreationRecords().at(0).bytes;
  for (std::size_t i = 24; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_FALSE(quibtest::VoiceControlStateOf(quibtest::CreationRecords()[0].result).hasFileName);
}

TEST_F(RecorderClient, InitHooksTheControlThenHidesAndUpdatesIt) {
  for (LONG style : {0, static_cast<LONG>(WS_VISIBLE)}) {
    SCOPED_TRACE(style);
    quibtest::ClearWindowLogs();
    HWND control = InitControl(style);
    ASSERT_NE(control, 0u);
    std::vector<WindowCall> calls = CallsFor(control);
    long hooked = IndexOf(calls, [](const WindowCall& c) {
      return c.kind == WindowCall::SetSlot && c.argument == DWL_DLGPROC;
    });
    long hidden = IndexOf(calls, [](const WindowCall& c) { return c.kind == WindowCall::Show && c.argument == SW_HIDE; });
    long updated = IndexOf(calls, [](const WindowCall& c) { return c.kind == WindowCall::Update; });
    ASSERT_GE(hooked, 0);
    EXPECT_LT(hooked, hidden);
    EXPECT_LT(hidden, updated);
    EXPECT_NE(calls[static_cast<std::size_t>(hooked)].value, ControlProcedure());
    EXPECT_NE(GetWindowLongPtrW(control, DWL_DLGPROC), ControlProcedure());
    EXPECT_FALSE(IsWindowVisible(control));

    EXPECT_EQ(Active(), 1);
    LONG hwnd = 0;
    EXPECT_EQ(recorder_->get_HWnd(&hwnd), S_OK);
    EXPECT_EQ(static_cast<HWND>(hwnd), control);
  }
}

TEST_F(RecorderClient, AFailedInitShowsExactlyOneMessageBox) {
  HWND gone = CreateWindowWithProc(nullptr, 0, 0, 0, 1, 1, 0, 0);
  DestroyWindow(gone);
  for (LONG parent : {0L, static_cast<long>(gone)}) {
    SCOPED_TRACE(parent);
    quibtest::ClearMessageBoxes();
    quibtest::ClearWindowLogs();
    Bstr name(file_);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(recorder_->Init(name.get(), static_cast<LONG>(parent), 0), S_FALSE);
    std::string written = ::testing::internal::GetCapturedStderr();
    auto boxes = quibtest::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, 0u);
    EXPECT_EQ(boxes[0].text, u"Could not initialize voice control!");
    EXPECT_EQ(boxes[0].caption, u"quibVoice");
    EXPECT_EQ(boxes[0].style, 0x30u);
    EXPECT_NE(written.find("Could not initialize voice control!"), std::string::npos);
    EXPECT_EQ(Active(), 0);
    EXPECT_TRUE(quibtest::WindowCalls().empty());  // nothing hooked, nothing sent
  }
}

TEST_F(RecorderClient, AFailedInitDiscardsTheLiveControlFirst) {
  HWND old = InitControl();
  quibtest::ClearWindowLogs();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recorder_->Init(nullptr, 0, 0), S_FALSE);
  ::testing::internal::GetCapturedStderr();
  std::vector<WindowCall> calls = quibtest::WindowCalls();
  long restored = IndexOf(calls, IsSlotSet(old, ControlProcedure()));
  long cancelled = IndexOf(calls, IsSend(old, VRM_CANCEL));
  ASSERT_GE(restored, 0);
  EXPECT_LT(restored, cancelled);
  EXPECT_FALSE(IsWindow(old));
  EXPECT_EQ(quibtest::MessageBoxes().size(), 1u);
  EXPECT_EQ(Active(), 0);
}

TEST_F(RecorderClient, EachMemberSendsItsMessage) {
  struct Case {
    const char* name;
    std::function<HRESULT(IquibVoiceRec*)> call;
    UINT message;
    WPARAM wParam;
    bool firstChild;  // lParam is the control's first child window
  };
  const Case cases[] = {
      {"Play", [](IquibVoiceRec* r) { return r->Play(); }, 6401, 0, false},
      {"Stop", [](IquibVoiceRec* r) { return r->Stop(); }, 6402, 0, false},
      {"Discard", [](IquibVoiceRec* r) { return r->Discard(); }, 6403, 0, false},
      {"Save", [](IquibVoiceRec* r) { return r->Save(); }, 6404, 0, false},
      {"Record", [](IquibVoiceRec* r) { return r->Record(nullptr); }, WM_COMMAND, 202, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HWND control = InitControl();
    quibtest::ClearWindowLogs();
    EXPECT_EQ(c.call(recorder_.get()), S_OK);
    auto received = quibtest::ReceivedMessages(control);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].message, c.message);
    EXPECT_EQ(received[0].wParam, c.wParam);
    LPARAM lParam = c.firstChild ? static_cast<LPARAM>(GetWindow(control, GW_CHILD)) : 0;
    EXPECT_EQ(received[0].lParam, lParam);
    if (c.firstChild) {
      EXPECT_NE(lParam, 0);
    }
    recorder_->Discard();
  }
}

TEST_F(RecorderClient, RecordSendsTheCommandWhateverTheFileName) {
  HWND control = InitControl();
  Bstr empty("");
  Bstr other("elsewhere.wav");
  for (BSTR name : {static_cast<BSTR>(nullptr), empty.get(), other.get()}) {
    quibtest::ClearWindowLogs();
    EXPECT_EQ(recorder_->Record(name), S_OK);
    std::vector<WindowCall> calls = quibtest::WindowCalls();
    ASSERT_FALSE(calls.empty());
    // The command is the first thing the control window gets: no other service first.
    EXPECT_EQ(calls[0].kind, WindowCall::Send);
    EXPECT_EQ(calls[0].window, control);
    EXPECT_EQ(calls[0].message, WM_COMMAND);
    EXPECT_EQ(calls[0].wParam, 202u);
    recorder_->Stop();
  }
}

TEST_F(RecorderClient, ShowAndHideShowTheControlAndUpdateIt) {
  HWND control = InitControl();
  quibtest::ClearWindowLogs();
  EXPECT_EQ(recorder_->Show(), S_OK);
  EXPECT_TRUE(IsWindowVisible(control));
  EXPECT_EQ(recorder_->Hide(), S_OK);
  EXPECT_FALSE(IsWindowVisible(control));
  std::vector<std::pair<WindowCall::Kind, int>> seen;
  for (const WindowCall& c : CallsFor(control))
    if (c.kind == WindowCall::Show || c.kind == WindowCall::Update) seen.push_back({c.kind, c.argument});
  std::vector<std::pair<WindowCall::Kind, int>> expected = {
      {WindowCall::Show, SW_SHOW}, {WindowCall::Update, 0}, {WindowCall::Show, SW_HIDE}, {WindowCall::Update, 0}};
  EXPECT_EQ(seen, expected);
}

TEST_F(RecorderClient, DiscardRemovesTheHookBeforeCancelling) {
  HWND control = InitControl();
  quibtest::ClearWindowLogs();
  EXPECT_EQ(recorder_->Discard(), S_OK);
  std::vector<WindowCall> calls = quibtest::WindowCalls();
  long restored = IndexOf(calls, IsSlotSet(control, ControlProcedure()));
  long cancelled = IndexOf(calls, IsSend(control, VRM_CANCEL));
  ASSERT_GE(restored, 0);
  ASSERT_GE(cancelled, 0);
  EXPECT_LT(restored, cancelled);
  EXPECT_FALSE(IsWindow(control));  // the control closed itself
  EXPECT_EQ(Active(), 0);
  EXPECT_EQ(recorder_->Discard(), S_FALSE);

  // A following Init hooks its new control.
  quibtest::ClearWindowLogs();
  HWND next = InitControl();
  EXPECT_NE(next, control);
  EXPECT_GE(IndexOf(CallsFor(next), [](const WindowCall& c) { return c.kind == WindowCall::SetSlot; }), 0);
  EXPECT_NE(GetWindowLongPtrW(next, DWL_DLGPROC), ControlProcedure());
}

TEST_F(RecorderClient, InitOnALiveControlCancelsItUnhookedThenCreatesTheNext) {
  HWND old = InitControl();
  LONG_PTR hook = GetWindowLongPtrW(old, DWL_DLGPROC);
  quibtest::ClearWindowLogs();
  HWND next = InitControl();
  std::vector<WindowCall> calls = quibtest::WindowCalls();
  long restored = IndexOf(calls, IsSlotSet(old, ControlProcedure()));
  long cancelled = IndexOf(calls, IsSend(old, VRM_CANCEL));
  long created = IndexOf(calls, [&](const WindowCall& c) { return c.kind == WindowCall::Create && c.window == next; });
  long hooked = IndexOf(calls, IsSlotSet(next, hook));
  ASSERT_GE(restored, 0);
  EXPECT_LT(restored, cancelled);
  EXPECT_LT(cancelled, created);
  EXPECT_LT(created, hooked);
  EXPECT_FALSE(IsWindow(old));
  LONG hwnd = 0;
  recorder_->get_HWnd(&hwnd);
  EXPECT_EQ(static_cast<HWND>(hwnd), next);
}

TEST_F(RecorderClient, SaveForgetsTheControl) {
  HWND control = InitControl();
  quibtest::ClearWindowLogs();
  EXPECT_EQ(recorder_->Save(), S_OK);
  EXPECT_EQ(Active(), 0);
  LONG hwnd = 77;
  EXPECT_EQ(recorder_->get_HWnd(&hwnd), S_FALSE);
  EXPECT_EQ(hwnd, 77);
  EXPECT_EQ(recorder_->Play(), S_FALSE);
  // The hook was not removed: no slot was set back before the control saved.
  EXPECT_EQ(IndexOf(quibtest::WindowCalls(), [](const WindowCall& c) { return c.kind == WindowCall::SetSlot; }), -1);
  EXPECT_FALSE(IsWindow(control));
  EXPECT_TRUE(quibtest::ReadWaveLayout(quibtest::ReadBytes(file_)).canonical);
}

TEST_F(RecorderClient, AfterSaveTheNextInitEndsTheOldHookAndHooksItsControl) {
  HWND old = InitControl();
  LONG_PTR hook = GetWindowLongPtrW(old, DWL_DLGPROC);
  recorder_->Save();
  quibtest::ClearWindowLogs();
  HWND next = InitControl();
  std::vector<WindowCall> calls = quibtest::WindowCalls();
  long restored = IndexOf(calls, IsSlotSet(old, ControlProcedure()));  // into the window it came from
  long hooked = IndexOf(calls, IsSlotSet(next, hook));
  ASSERT_GE(restored, 0);
  EXPECT_LT(restored, hooked);
  EXPECT_EQ(GetWindowLongPtrW(next, DWL_DLGPROC), hook);

  // The new control's closing notification reaches the recorder.
  SendMessageW(next, VRM_CANCEL, 0, 0);
  EXPECT_EQ(Active(), 0);
}

TEST_F(RecorderClient, AControlThatClosesByItselfIsForgotten) {
  for (UINT message : {VRM_CANCEL, VRM_OK}) {
    SCOPED_TRACE(message);
    HWND control = InitControl();
    EXPECT_EQ(Active(), 1);
    SendMessageW(control, message, 0, 0);  // as if the user pressed its button
    EXPECT_EQ(Active(), 0);
    LONG hwnd = 0;
    EXPECT_EQ(recorder_->get_HWnd(&hwnd), S_FALSE);
    EXPECT_EQ(recorder_->Stop(), S_FALSE);
  }
}

TEST_F(RecorderClient, TheHookedControlSwallowsActivation) {
  HWND control = InitControl();
  EXPECT_EQ(SendMessageW(control, WM_ACTIVATE, 1, 0), 1);
  recorder_->Discard();
}

// Watches the control window's own procedure for the cancel message.
struct CancelWatch {
  static inline WNDPROC original = nullptr;
  static inline LoadedLibrary* library = nullptr;
  static inline bool seen = false;
  static inline HRESULT canUnload = E_FAIL;
  static inline LONG_PTR slotAtCancel = 0;
  static LRESULT Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == VRM_CANCEL) {
      seen = true;
      canUnload = library->canUnloadNow();
      slotAtCancel = GetWindowLongPtrW(window, DWL_DLGPROC);
    }
    return CallWindowProcW(original, window, message, wParam, lParam);
  }
};

TEST_F(RecorderClient, ReleasingWithALiveControlUnlocksRemovesTheHookThenCancels) {
  HWND control = InitControl();
  CancelWatch::library = &library_;
  CancelWatch::seen = false;
  CancelWatch::original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(control, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&CancelWatch::Proc)));
  EXPECT_EQ(library_.canUnloadNow(), S_FALSE);
  quibtest::ClearWindowLogs();
  recorder_.reset();
  EXPECT_TRUE(CancelWatch::seen);
  EXPECT_EQ(CancelWatch::canUnload, S_OK);  // the lock count was lowered first
  EXPECT_EQ(CancelWatch::slotAtCancel, ControlProcedure());  // and the hook removed
  EXPECT_FALSE(IsWindow(control));
  std::vector<WindowCall> calls = quibtest::WindowCalls();
  EXPECT_LT(IndexOf(calls, IsSlotSet(control, ControlProcedure())), IndexOf(calls, IsSend(control, VRM_CANCEL)));
}

TEST_F(RecorderClient, ActiveAndHWndFollowTheStates) {
  struct Step {
    const char* name;
    std::function<void()> act;
    LONG active;
  };
  HWND current = 0;
  const Step steps[] = {
      {"new", [] {}, 0},
      {"Init", [&] { current = InitControl(); }, 1},
      {"Show", [&] { recorder_->Show(); }, 1},
      {"Record", [&] { recorder_->Record(nullptr); }, 1},
      {"Stop", [&] { recorder_->Stop(); }, 1},
      {"Play", [&] { recorder_->Play(); }, 1},
      {"Hide", [&] { recorder_->Hide(); }, 1},
      {"PlayFile", [&] { recorder_->PlayFile(nullptr); }, 1},
      {"Save", [&] { recorder_->Save(); }, 0},
      {"Init again", [&] { current = InitControl(); }, 1},
      {"Discard", [&] { recorder_->Discard(); }, 0},
      {"Init once more", [&] { current = InitControl(); }, 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    s.act();
    EXPECT_EQ(Active(), s.active);
    LONG hwnd = -1;
    EXPECT_EQ(recorder_->get_HWnd(&hwnd), s.active ? S_OK : S_FALSE);
    EXPECT_EQ(hwnd, s.active ? static_cast<LONG>(current) : -1);
  }
}

TEST_F(RecorderClient, RecordsAPlayableWaveFile) {
  quibtest::SetVoiceSourceTone(440, 8000, 16, 1);
  Bstr name(file_);
  ASSERT_EQ(recorder_->Init(name.get(), static_cast<LONG>(parent_), 0), S_OK);
  LONG hwnd = 0;
  ASSERT_EQ(recorder_->get_HWnd(&hwnd), S_OK);
  EXPECT_EQ(recorder_->Show(), S_OK);
  EXPECT_TRUE(IsWindowVisible(static_cast<HWND>(hwnd)));
  EXPECT_EQ(recorder_->Record(name.get()), S_OK);
  quibtest::AdvanceVoiceClock(1500);
  EXPECT_EQ(recorder_->Stop(), S_OK);
  EXPECT_EQ(recorder_->Save(), S_OK);
  EXPECT_EQ(Active(), 0);

  quibtest::WaveLayout layout = quibtest::ReadWaveLayout(quibtest::ReadBytes(file_));
  EXPECT_TRUE(layout.canonical);
  EXPECT_EQ(layout.formatTag, 1);
  EXPECT_EQ(layout.channels, 1);
  EXPECT_EQ(layout.samplesPerSec, 8000u);
  EXPECT_EQ(layout.avgBytesPerSec, 16000u);
  EXPECT_EQ(layout.blockAlign, 2);
  EXPECT_EQ(layout.bitsPerSample, 16);
  EXPECT_EQ(layout.dataBytes, 24000u);

  // And the sound output plays it.
  EXPECT_EQ(recorder_->PlayFile(name.get()), S_OK);
  auto played = quibtest::PlayedSounds();
  ASSERT_FALSE(played.empty());
  EXPECT_EQ(played.back().path, quibtest::Wide(file_));
  EXPECT_EQ(played.back().durationMs, 1500u);

  std::vector<INT> codes;
  for (const auto& n : quibtest::VoiceNotifications()) codes.push_back(n.code);
  std::vector<INT> expected = {VRN_RECORD_START, VRN_RECORD_STOP, VRN_OK};
  EXPECT_EQ(codes, expected);
}

}  // namespace
