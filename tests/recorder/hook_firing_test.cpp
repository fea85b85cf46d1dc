// ControlHook's events on the objects themselves: which notification codes
// fire OnMessage, what a sink sees while its event runs, and that every
// message still reaches the procedure saved from the window afterwards.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "test_sink.h"
#include "automation/contract.h"
#include "platform/windowing.h"
#include "low_records.h"
#include "quib_test_support.h"
#include "recorder/control_hook.h"
#include "recorder/recorder.h"

using quibtest::TestSink;

namespace {

// The order in which sinks and the saved procedure saw things.
std::vector<std::string> g_log;
LRESULT Saved(HWND, UINT message, WPARAM, LPARAM) {
  g_log.push_back("saved " + std::to_string(message));
  return 40;
}
using Log = std::vector<std::string>;

using quibtest::AddressOf;
using quibtest::LowRecord;

class HookFiring : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(LowRecord(), nullptr);
    ASSERT_EQ(CreateRecorderInstance(nullptr, IID_IquibVoiceRec, reinterpret_cast<void**>(&face_)), S_OK);
    r_ = Recorder::FromDual(face_);
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(face_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IquibVoiceRecEvents, &point_), S_OK);
    container->Release();
    DWORD cookie = 0;
    ASSERT_EQ(point_->Advise(&sink_, &cookie), S_OK);
    window_ = CreateDialogWindow(&Saved, 0, 0, 0, 10, 10, 0, 0, 0);
    r_->controlWindow = window_;  // as Init does once the control exists
    ControlHook::Install(r_, window_);
    sink_.during = [this](TestSink&, DISPPARAMS*) {
      g_log.push_back("sink");
      LONG active = -1;
      face_->get_Active(&active);
      activeSeen_.push_back(active);
    };
    g_log.clear();
  }
  void TearDown() override {
    if (r_->hooked) ControlHook::Remove(r_);
    r_->controlWindow = 0;
    if (point_) point_->Release();
    if (face_) face_->Release();
    EXPECT_EQ(sink_.refs, 1u);
    DestroyWindow(window_);
  }
  LRESULT Notify(INT code, WPARAM wParam = 5) {
    LowRecord()->hwndFrom = window_;
    LowRecord()->idFrom = 0;
    LowRecord()->code = code;
    return SendMessageW(window_, WM_NOTIFY, wParam, AddressOf(LowRecord()));
  }

  TestSink sink_;
  IquibVoiceRec* face_ = nullptr;
  Recorder* r_ = nullptr;
  IConnectionPoint* point_ = nullptr;
  HWND window_ = 0;
  std::vector<LONG> activeSeen_;
};

TEST_F(HookFiring, SevenCodesFireAndTwoOfThemForgetTheControlFirst) {
  struct Case {
    INT code;
    bool fires;
    bool forgets;
  } cases[] = {{-868, false, false}, {-867, true, false}, {-866, true, true},   {-865, true, true},
               {-864, true, false},  {-863, true, false}, {-862, true, false},  {-861, true, false},
               {-860, false, false}, {0, false, false},   {867, false, false},  {0x7FFFFFFF, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    r_->controlWindow = window_;
    sink_.calls.clear();
    activeSeen_.clear();
    g_log.clear();
    EXPECT_EQ(Notify(c.code, 200), 40) << "the saved procedure's result";
    ASSERT_EQ(sink_.calls.size(), c.fires ? 1u : 0u);
    if (c.fires) {
      EXPECT_EQ(sink_.calls[0].member, 1);
      EXPECT_EQ(sink_.calls[0].values, (std::vector<LONG>{AddressOf(LowRecord()), 200, 78}));
      EXPECT_EQ(activeSeen_, std::vector<LONG>{c.forgets ? 0 : 1});
      EXPECT_EQ(g_log, (Log{"sink", "saved 78"})) << "passed on after the event";
    } else {
      EXPECT_EQ(g_log, Log{"saved 78"});
    }
    EXPECT_EQ(r_->controlWindow, c.forgets ? 0u : window_);
  }
}

TEST_F(HookFiring, OtherMessagesFireNothing) {
  LowRecord()->code = -867;
  for (UINT message : {WM_COMMAND, WM_USER, WM_NOTIFY + 1}) {
    SCOPED_TRACE(message);
    EXPECT_EQ(SendMessageW(window_, message, 5, AddressOf(LowRecord())), 40);
  }
  EXPECT_TRUE(sink_.calls.empty());
}

TEST_F(HookFiring, NothingFiresOnceTheHookIsRemoved) {
  ControlHook::Remove(r_);
  EXPECT_EQ(Notify(-867), 40);
  EXPECT_TRUE(sink_.calls.empty());
}

TEST_F(HookFiring, ASinkThatDiscardsStillLetsTheNotificationPassOn) {
  sink_.during = [this](TestSink&, DISPPARAMS*) {
    g_log.push_back("sink");
    EXPECT_EQ(face_->Discard(), S_OK);
  };
  EXPECT_EQ(Notify(-864), 40);
  // The cancel reached the window unhooked, then the notification was passed on.
  EXPECT_EQ(g_log, (Log{"sink", "saved 6403", "saved 78"}));
  EXPECT_FALSE(r_->hooked);
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&Saved));
}

TEST_F(HookFiring, ASinkThatReleasesTheLastReferenceStillLetsTheNotificationPassOn) {
  sink_.during = [this](TestSink&, DISPPARAMS*) {
    g_log.push_back("sink");
    point_->Release();
    point_ = nullptr;
    face_->Release();
    face_ = nullptr;
  };
  EXPECT_EQ(Notify(-862), 40);
  // The recorder went after the walk, cancelling its control unhooked.
  EXPECT_EQ(g_log, (Log{"sink", "saved 6403", "saved 78"}));
  EXPECT_EQ(sink_.refs, 1u) << "the recorder went after the walk and released its sink";
  EXPECT_EQ(GetWindowLongPtrW(window_, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&Saved));
  // A fresh recorder for the fixture's teardown.
  IquibVoiceRec* fresh = nullptr;
  ASSERT_EQ(CreateRecorderInstance(nullptr, IID_IquibVoiceRec, reinterpret_cast<void**>(&fresh)), S_OK);
  face_ = fresh;
  r_ = Recorder::FromDual(fresh);
}

}  // namespace
