// ControlHook and the recorder's hooked flag, on the objects themselves: the
// hook procedure's handling of activation and notifications, install and
// remove, and the flag across Save and Discard.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <vector>

#include "automation/contract.h"
#include "platform/automation.h"
#include "platform/voicectl.h"
#include "platform/windowing.h"
#include "low_records.h"
#include "quib_test_support.h"
#include "quibtest/windows.h"
#include "recorder/control_hook.h"
#include "recorder/recorder.h"

using quibtest::ReceivedMessage;

namespace {

// What the procedure that was in the slot before the hook saw.
std::vector<ReceivedMessage> g_saved;
LRESULT Saved(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  g_saved.push_back({message, wParam, lParam});
  return 40;
}
std::vector<ReceivedMessage> g_otherSaved;
LRESULT OtherSaved(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  g_otherSaved.push_back({message, wParam, lParam});
  return 41;
}

using quibtest::AddressOf;
using quibtest::LowRecord;

class Hook : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(LowRecord(), nullptr);
    a_ = NewRecorder();
    b_ = NewRecorder();
    window_ = CreateDialogWindow(&Saved, 0, 0, 0, 10, 10, 0, 0, 0);
    other_ = CreateDialogWindow(&OtherSaved, 0, 0, 0, 10, 10, 0, 0, 0);
    g_saved.clear();
    g_otherSaved.clear();
  }
  void TearDown() override {
    for (Recorder* r : {a_, b_}) {
      if (r->hooked) ControlHook::Remove(r);
      r->controlWindow = 0;
      r->Release();
    }
    DestroyWindow(window_);
    DestroyWindow(other_);
  }
  static Recorder* NewRecorder() {
    IquibVoiceRec* face = nullptr;
    EXPECT_EQ(CreateRecorderInstance(nullptr, IID_IquibVoiceRec, reinterpret_cast<void**>(&face)), S_OK);
    return Recorder::FromDual(face);
  }
  // As Init does once the control exists.
  void Hooked(Recorder* r, HWND window) {
    r->controlWindow = window;
    ControlHook::Install(r, window);
  }
  LRESULT Notify(HWND window, INT code) {
    LowRecord()->hwndFrom = window;
    LowRecord()->idFrom = 0;
    LowRecord()->code = code;
    return SendMessageW(window, WM_NOTIFY, 5, AddressOf(LowRecord()));
  }

  Recorder* a_ = nullptr;
  Recorder* b_ = nullptr;
  HWND window_ = 0;
  HWND other_ = 0;
};

TEST_F(Hook, InstallPutsTheHookInSlotFourAndRemovePutsTheSavedOneBack) {
  Hooked(a_, window_);
  EXPECT_TRUE(a_->hooked);
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&ControlHook::HookProc));
  ControlHook::Remove(a_);
  EXPECT_FALSE(a_->hooked);
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&Saved));
}

TEST_F(Hook, ActivationIsSwallowedWhetherOrNotARecorderIsHooked) {
  EXPECT_EQ(ControlHook::HookProc(window_, WM_ACTIVATE, 1, 0), 1);
  Hooked(a_, window_);
  EXPECT_EQ(SendMessageW(window_, WM_ACTIVATE, 1, 0), 1);
  EXPECT_TRUE(g_saved.empty());
}

TEST_F(Hook, OtherMessagesArePassedOnUnchangedWithTheSavedResult) {
  Hooked(a_, window_);
  EXPECT_EQ(SendMessageW(window_, WM_USER + 3, 0xAB, -9), 40);
  EXPECT_EQ(SendMessageW(window_, WM_COMMAND, 202, 17), 40);
  std::vector<ReceivedMessage> expected = {{WM_USER + 3, 0xAB, -9}, {WM_COMMAND, 202, 17}};
  EXPECT_EQ(g_saved, expected);
}

TEST_F(Hook, TheTwoClosingCodesForgetTheControlAndEveryCodeIsPassedOn) {
  struct Case {
    INT code;
    bool forgets;
  };
  const Case cases[] = {{-868, false}, {-867, false}, {-866, true}, {-865, true}, {-864, false}, {-863, false},
                        {-862, false}, {-861, false}, {-860, false}, {0, false},  {7, false}};
  Hooked(a_, window_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    a_->controlWindow = window_;
    g_saved.clear();
    EXPECT_EQ(Notify(window_, c.code), 40);
    EXPECT_EQ(a_->controlWindow, c.forgets ? 0u : window_);
    ASSERT_EQ(g_saved.size(), 1u);
    EXPECT_EQ(g_saved[0], (ReceivedMessage{WM_NOTIFY, 5, AddressOf(LowRecord())}));
    EXPECT_TRUE(a_->hooked);
  }
  // A second closing code for a control already forgotten leaves it none.
  a_->controlWindow = 0;
  Notify(window_, -866);
  EXPECT_EQ(a_->controlWindow, 0u);
}

TEST_F(Hook, NotificationsWithNoRecorderHookedArePassedOn) {
  Hooked(a_, window_);
  ControlHook::Remove(a_);
  // The hook procedure left in a slot still passes on to the procedure saved last.
  SetWindowLongPtrW(window_, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&ControlHook::HookProc));
  EXPECT_EQ(Notify(window_, -865), 40);
  EXPECT_EQ(a_->controlWindow, window_);
  EXPECT_EQ(g_saved.size(), 1u);
  SetWindowLongPtrW(window_, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&Saved));
}

TEST_F(Hook, RemoveWithNothingHookedChangesNothing) {
  a_->hooked = TRUE;
  ControlHook::Remove(a_);
  EXPECT_TRUE(a_->hooked);
  a_->hooked = FALSE;
}

TEST_F(Hook, InstallWhileTheFlagIsSetInstallsNothing) {
  Hooked(a_, window_);
  a_->controlWindow = other_;
  ControlHook::Install(a_, other_);
  EXPECT_EQ(GetWindowLongPtrW(other_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&OtherSaved));
  // The saved procedure goes back only into the window it was taken from.
  ControlHook::Remove(a_);
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&Saved));
  EXPECT_EQ(GetWindowLongPtrW(other_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&OtherSaved));
  EXPECT_FALSE(a_->hooked);
}

TEST_F(Hook, TwoRecordersEachKeepTheHookOfTheirOwnWindow) {
  Hooked(a_, window_);
  Hooked(b_, other_);
  EXPECT_TRUE(a_->hooked);
  EXPECT_TRUE(b_->hooked);
  // Each window passes on to the procedure saved from it.
  EXPECT_EQ(SendMessageW(window_, WM_USER, 0, 0), 40);
  EXPECT_EQ(SendMessageW(other_, WM_USER, 0, 0), 41);
  // A closing code clears the control of the recorder that hooked that window.
  EXPECT_EQ(Notify(window_, -866), 40);
  EXPECT_EQ(a_->controlWindow, 0u);
  EXPECT_EQ(b_->controlWindow, other_);
  ControlHook::Remove(a_);
  EXPECT_FALSE(a_->hooked);
  EXPECT_TRUE(b_->hooked);
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&Saved));
  EXPECT_EQ(GetWindowLongPtrW(other_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&ControlHook::HookProc));
  EXPECT_EQ(Notify(other_, -865), 41);
  EXPECT_EQ(b_->controlWindow, 0u);
  ControlHook::Remove(b_);
  EXPECT_FALSE(b_->hooked);
  EXPECT_EQ(GetWindowLongPtrW(other_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&OtherSaved));
}

TEST_F(Hook, AWindowAlreadyHookedIsNotHookedAgainByAnotherRecorder) {
  Hooked(a_, window_);
  Hooked(b_, window_);
  EXPECT_FALSE(b_->hooked);
  g_saved.clear();
  EXPECT_EQ(SendMessageW(window_, WM_USER, 1, 2), 40);
  EXPECT_EQ(g_saved.size(), 1u) << "passed on once, to the window's own procedure";
  ControlHook::Remove(b_);
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&ControlHook::HookProc));
  ControlHook::Remove(a_);
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&Saved));
  b_->controlWindow = 0;
}

// The flag across the members, with the real control.
class HookedFlag : public ::testing::Test {
 protected:
  void SetUp() override {
    IquibVoiceRec* face = nullptr;
    ASSERT_EQ(CreateRecorderInstance(nullptr, IID_IquibVoiceRec, reinterpret_cast<void**>(&face)), S_OK);
    face_ = face;
    r_ = Recorder::FromDual(face);
    parent_ = CreateWindowWithProc(nullptr, 0, 0, 0, 10, 10, 0, 0);
  }
  void TearDown() override {
    face_->Release();
    DestroyWindow(parent_);
  }
  IquibVoiceRec* face_ = nullptr;
  Recorder* r_ = nullptr;
  HWND parent_ = 0;
};

TEST_F(HookedFlag, StaysSetAfterSaveAndIsClearedByDiscard) {
  ASSERT_EQ(face_->Init(nullptr, static_cast<LONG>(parent_), 0), S_OK);
  EXPECT_TRUE(r_->hooked);
  EXPECT_EQ(face_->Save(), S_OK);
  EXPECT_EQ(r_->controlWindow, 0u);
  EXPECT_TRUE(r_->hooked);

  ASSERT_EQ(face_->Init(nullptr, static_cast<LONG>(parent_), 0), S_OK);
  EXPECT_TRUE(r_->hooked);
  EXPECT_EQ(GetWindowLongPtrW(r_->controlWindow, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&ControlHook::HookProc));
  EXPECT_EQ(face_->Discard(), S_OK);
  EXPECT_FALSE(r_->hooked);
}

TEST_F(HookedFlag, AFailedInitLeavesTheHookStateAlone) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(face_->Init(nullptr, 0, 0), S_FALSE);
  EXPECT_FALSE(r_->hooked);
  EXPECT_EQ(r_->controlWindow, 0u);

  // Orphaned stays orphaned.
  ASSERT_EQ(face_->Init(nullptr, static_cast<LONG>(parent_), 0), S_OK);
  face_->Save();
  EXPECT_EQ(face_->Init(nullptr, 0, 0), S_FALSE);
  ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(r_->hooked);
  EXPECT_EQ(r_->controlWindow, 0u);
}

}  // namespace
