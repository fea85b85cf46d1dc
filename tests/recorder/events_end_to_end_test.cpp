// From the voice recorder control's notifications to the client's sinks: the
// library loaded through the platform loader, a sink connected through the
// container and the connection point, the control driven through IquibVoiceRec.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_sink.h"
#include "automation/contract.h"
#include "platform/automation.h"
#include "platform/voicectl.h"
#include "platform/windowing.h"
#include "quib_test_support.h"
#include "quibtest/voicectl.h"
#include "quibtest/windows.h"
#include "wave_files.h"

using quibtest::LoadedLibrary;
using quibtest::Ref;
using quibtest::TestSink;

namespace {

// What a sink saw in one event, read while the event runs.
struct Seen {
  INT code;
  HWND from;
  LONG active;
  HRESULT hwndResult;
};

const NMHDR* RecordAt(LONG lParam) {
  return reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<DWORD>(lParam)));
}

// One recorder object with a connected sink that notes every event.
struct Client {
  Ref<IquibVoiceRec> recorder;
  Ref<IConnectionPoint> point;
  TestSink sink;
  DWORD cookie = 0;
  std::vector<Seen> seen;

  void Create(LoadedLibrary& library) {
    ASSERT_EQ(library.CreateInstance(CLSID_quibVoiceRec, IID_IquibVoiceRec, recorder.put_void()), S_OK);
    Ref<IConnectionPointContainer> container;
    ASSERT_EQ(recorder->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IquibVoiceRecEvents, point.put()), S_OK);
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    sink.during = [this](TestSink&, DISPPARAMS* params) {
      const NMHDR* record = RecordAt(params->rgvarg[0].lVal);
      Seen s{record->code, record->hwndFrom, -1, E_FAIL};
      if (recorder.get()) {
        recorder->get_Active(&s.active);
        LONG hwnd = 0;
        s.hwndResult = recorder->get_HWnd(&hwnd);
      }
      seen.push_back(s);
    };
  }
  HWND Init(HWND parent, const std::string& file) {
    BSTR name = SysAllocString(quibtest::Wide(file).c_str());
    HRESULT hr = recorder->Init(name, static_cast<LONG>(parent), 0);
    SysFreeString(name);
    EXPECT_EQ(hr, S_OK);
    LONG hwnd = 0;
    recorder->get_HWnd(&hwnd);
    return static_cast<HWND>(hwnd);
  }
  std::vector<INT> Codes() const {
    std::vector<INT> codes;
    for (const Seen& s : seen) codes.push_back(s.code);
    return codes;
  }
  void Close() {
    point.reset();
    recorder.reset();
  }
};

std::vector<INT> NotifiedCodes(HWND control) {
  std::vector<INT> codes;
  for (const auto& n : quibtest::VoiceNotifications())
    if (n.control == control) codes.push_back(n.code);
  return codes;
}

class EventsEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(library_.getClassObject, nullptr);
    parent_ = CreateWindowWithProc(nullptr, WS_VISIBLE, 0, 0, 240, 320, 0, 0);
    ASSERT_NE(parent_, 0u);
    quibtest::ResetVoiceSource();
    quibtest::DriveVoiceClock();
    quibtest::ClearVoiceNotifications();
    quibtest::ClearWindowLogs();
  }
  void TearDown() override {
    for (Client* c : {&a_, &b_}) {
      c->Close();
      EXPECT_EQ(c->sink.refs, 1u) << "a sink reference leaked";
    }
    EXPECT_EQ(library_.canUnloadNow(), S_OK);
    DestroyWindow(parent_);
    for (const auto& f : {fileA_, fileB_}) std::remove(f.c_str());
  }

  LoadedLibrary library_;
  HWND parent_ = 0;
  Client a_, b_;
  std::string fileA_ = quibtest::TempPath("events_a.wav");
  std::string fileB_ = quibtest::TempPath("events_b.wav");
};

TEST_F(EventsEndToEnd, EveryNotificationOfTheControlReachesTheSinkInOrder) {
  a_.Create(library_);
  HWND control = a_.Init(parent_, fileA_);
  ASSERT_NE(control, 0u);
  EXPECT_EQ(a_.recorder->Record(nullptr), S_OK);
  quibtest::AdvanceVoiceClock(500);
  EXPECT_EQ(a_.recorder->Stop(), S_OK);
  EXPECT_EQ(a_.recorder->Play(), S_OK);
  EXPECT_EQ(a_.recorder->Stop(), S_OK);
  EXPECT_EQ(a_.recorder->Save(), S_OK);

  std::vector<INT> expected = {VRN_RECORD_START, VRN_RECORD_STOP, VRN_PLAY_START, VRN_PLAY_STOP, VRN_OK};
  EXPECT_EQ(NotifiedCodes(control), expected);
  EXPECT_EQ(a_.Codes(), expected);
  ASSERT_EQ(a_.sink.calls.size(), expected.size());
  const auto notes = quibtest::VoiceNotifications();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& call = a_.sink.calls[i];
    EXPECT_EQ(call.member, 1);
    EXPECT_EQ(call.types, (std::vector<VARTYPE>{VT_I4, VT_I4, VT_I4}));
    EXPECT_EQ(call.values[2], 78);
    EXPECT_EQ(call.values[1], 0) << "the control's id, as the control sent it";
    EXPECT_EQ(call.values[0], notes[i].lParam) << "the record's address, as the control sent it";
    EXPECT_EQ(a_.seen[i].from, control);
  }
  // Each notification was passed on to the control after the sink had it:
  // the control forwards its own notifications to its parent.
  std::size_t atParent = 0;
  for (const auto& m : quibtest::ReceivedMessages(parent_))
    if (m.message == WM_NOTIFY) ++atParent;
  EXPECT_EQ(atParent, expected.size());
}

TEST_F(EventsEndToEnd, SavesClosingNotificationClearsActiveBeforeTheSinkSeesIt) {
  a_.Create(library_);
  a_.Init(parent_, fileA_);
  a_.recorder->Record(nullptr);
  quibtest::AdvanceVoiceClock(200);
  a_.recorder->Save();
  ASSERT_FALSE(a_.seen.empty());
  const Seen& last = a_.seen.back();
  EXPECT_EQ(last.code, VRN_OK);
  EXPECT_EQ(last.active, 0);
  EXPECT_EQ(last.hwndResult, S_FALSE);
  // Events before it saw a live control.
  EXPECT_EQ(a_.seen.front().code, VRN_RECORD_START);
  EXPECT_EQ(a_.seen.front().active, 1);
  EXPECT_EQ(a_.seen.front().hwndResult, S_OK);
}

TEST_F(EventsEndToEnd, DiscardFiresNothing) {
  a_.Create(library_);
  HWND control = a_.Init(parent_, fileA_);
  a_.recorder->Record(nullptr);
  std::size_t before = a_.sink.calls.size();
  EXPECT_EQ(a_.recorder->Discard(), S_OK);
  EXPECT_EQ(NotifiedCodes(control).back(), VRN_CANCEL) << "the control did report its closing";
  EXPECT_EQ(a_.sink.calls.size(), before);
}

TEST_F(EventsEndToEnd, AControlMadeAfterSaveDeliversItsNotificationsToo) {
  a_.Create(library_);
  a_.Init(parent_, fileA_);
  a_.recorder->Save();
  quibtest::ClearVoiceNotifications();
  a_.seen.clear();
  HWND next = a_.Init(parent_, fileA_);
  a_.recorder->Record(nullptr);
  a_.recorder->Stop();
  EXPECT_EQ(a_.Codes(), NotifiedCodes(next));
  EXPECT_EQ(a_.Codes(), (std::vector<INT>{VRN_RECORD_START, VRN_RECORD_STOP}));
  // A control that closes itself is noticed, and a new one is hooked again.
  SendMessageW(next, VRM_CANCEL, 0, 0);
  EXPECT_EQ(a_.seen.back().code, VRN_CANCEL);
  EXPECT_EQ(a_.seen.back().active, 0);
  HWND third = a_.Init(parent_, fileA_);
  a_.recorder->Record(nullptr);
  EXPECT_EQ(a_.seen.back().code, VRN_RECORD_START);
  EXPECT_EQ(a_.seen.back().from, third);
}

TEST_F(EventsEndToEnd, TwoRecordersWithLiveControlsEachHearTheirOwn) {
  a_.Create(library_);
  b_.Create(library_);
  HWND ca = a_.Init(parent_, fileA_);
  HWND cb = b_.Init(parent_, fileB_);
  ASSERT_NE(ca, cb);
  a_.recorder->Record(nullptr);
  b_.recorder->Play();  // nothing recorded: the control reports an error
  a_.recorder->Stop();
  EXPECT_EQ(a_.Codes(), (std::vector<INT>{VRN_RECORD_START, VRN_RECORD_STOP}));
  EXPECT_EQ(b_.Codes(), (std::vector<INT>{VRN_ERROR}));
  for (const Seen& s : a_.seen) EXPECT_EQ(s.from, ca);
  for (const Seen& s : b_.seen) EXPECT_EQ(s.from, cb);

  // Closing one control forgets only that one.
  a_.recorder->Save();
  LONG active = -1;
  b_.recorder->get_Active(&active);
  EXPECT_EQ(active, 1);
  EXPECT_EQ(a_.seen.back().code, VRN_OK);
  b_.recorder->Record(nullptr);
  EXPECT_EQ(b_.seen.back().code, VRN_RECORD_START);
  // Each window passes on to its own procedure: the other control still works.
  EXPECT_EQ(NotifiedCodes(cb), (std::vector<INT>{VRN_ERROR, VRN_RECORD_START}));
  b_.recorder->Discard();
  EXPECT_FALSE(IsWindow(cb));
}

TEST_F(EventsEndToEnd, ASinkThatDiscardsDuringItsEvent) {
  a_.Create(library_);
  HWND control = a_.Init(parent_, fileA_);
  TestSink second;
  DWORD cookie = 0;
  ASSERT_EQ(a_.point->Advise(&second, &cookie), S_OK);
  auto noting = a_.sink.during;
  a_.sink.during = [&](TestSink& self, DISPPARAMS* p) {
    noting(self, p);
    if (RecordAt(p->rgvarg[0].lVal)->code == VRN_RECORD_START) {
      EXPECT_EQ(a_.recorder->Discard(), S_OK);
    }
  };
  a_.recorder->Record(nullptr);
  EXPECT_EQ(a_.Codes(), (std::vector<INT>{VRN_RECORD_START}));
  EXPECT_EQ(second.calls.size(), 1u) << "the walk went on after the Discard";
  EXPECT_FALSE(IsWindow(control));
  LONG active = -1;
  a_.recorder->get_Active(&active);
  EXPECT_EQ(active, 0);
  EXPECT_EQ(a_.recorder->Stop(), S_FALSE);
  a_.point->Unadvise(cookie);
  EXPECT_EQ(second.refs, 1u);
}

TEST_F(EventsEndToEnd, ASinkThatReleasesTheLastReferenceDuringItsEvent) {
  a_.Create(library_);
  HWND control = a_.Init(parent_, fileA_);
  TestSink second;
  DWORD cookie = 0;
  ASSERT_EQ(a_.point->Advise(&second, &cookie), S_OK);
  a_.sink.during = [&](TestSink&, DISPPARAMS*) { a_.Close(); };
  a_.recorder->Record(nullptr);
  EXPECT_EQ(second.calls.size(), 1u);
  EXPECT_FALSE(IsWindow(control)) << "the recorder went, and cancelled its control";
  EXPECT_EQ(second.refs, 1u);
  EXPECT_EQ(a_.sink.refs, 1u);
  EXPECT_EQ(library_.canUnloadNow(), S_OK);
}

}  // namespace
