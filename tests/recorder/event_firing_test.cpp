// OnMessage firing: what each sink receives, the walk's order, the argument
// array's life, and sinks that re-enter the recorder from inside their event.
#include <gtest/gtest.h>

#include <array>

#include "test_sink.h"
#include "automation/contract.h"
#include "module/module_state.h"
#include "platform/loader.h"
#include "quib_test_support.h"
#include "quibtest/core.h"
#include "recorder/event_firing.h"
#include "recorder/recorder.h"

extern "C" BOOL DllMain(HINSTANCE, DWORD, void*);

using quibtest::Allocator;
using quibtest::Ref;
using quibtest::RefCountOf;
using quibtest::TestSink;

namespace {

constexpr UINT kNotify = 78;

class FiringTest : public testing::Test {
 protected:
  void SetUp() override {
    quibtest::ClearAllocationFaults();
    objectsBefore_ = quibtest::LiveAllocations(Allocator::Object);
    taskBefore_ = quibtest::LiveAllocations(Allocator::TaskMemory);
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
    Reopen();
  }
  void TearDown() override {
    Close();
    quibtest::ClearAllocationFaults();
    EXPECT_EQ(g_moduleState.LockCount(), 0);
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), objectsBefore_) << "objects leaked";
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::TaskMemory), taskBefore_) << "strings leaked";
  }
  // Drops the test's references to the recorder (and with them the sinks').
  void Close() {
    if (point_) point_->Release();
    point_ = nullptr;
    if (recorder_) recorder_->Release();
    recorder_ = nullptr;
  }
  // A fresh recorder in place of the current one.
  void Reopen() {
    Close();
    ASSERT_EQ(CreateRecorderInstance(nullptr, IID_IquibVoiceRec, reinterpret_cast<void**>(&recorder_)), S_OK);
    self_ = Recorder::FromDual(recorder_);
    Ref<IConnectionPointContainer> container;
    ASSERT_EQ(recorder_->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IquibVoiceRecEvents, &point_), S_OK);
  }
  DWORD Advise(TestSink& sink) {
    DWORD cookie = 0;
    EXPECT_EQ(point_->Advise(&sink, &cookie), S_OK);
    return cookie;
  }
  void Fire(WPARAM w = 200, LPARAM l = 300) { FireOnMessage(self_, kNotify, w, l); }

  IquibVoiceRec* recorder_ = nullptr;
  Recorder* self_ = nullptr;
  IConnectionPoint* point_ = nullptr;
  std::size_t objectsBefore_ = 0;
  std::size_t taskBefore_ = 0;
};

void ExpectOnMessage(const quibtest::InvokeCall& call, LONG message, LONG w, LONG l) {
  EXPECT_EQ(call.member, 1);
  EXPECT_EQ(call.iid, IID_NULL);
  EXPECT_EQ(call.locale, 0x400u);
  EXPECT_EQ(call.flags, DISPATCH_METHOD);
  EXPECT_EQ(call.argCount, 3u);
  EXPECT_EQ(call.namedCount, 0u);
  EXPECT_TRUE(call.namedArgsNull);
  EXPECT_TRUE(call.resultGiven);
  EXPECT_TRUE(call.exceptionNull);
  EXPECT_TRUE(call.argErrorNull);
  EXPECT_EQ(call.types, (std::vector<VARTYPE>{VT_I4, VT_I4, VT_I4}));
  EXPECT_EQ(call.values, (std::vector<LONG>{l, w, message}));
}

TEST_F(FiringTest, WithoutSinksTheArgumentArrayIsStillMadeAndFreed) {
  std::size_t requests = quibtest::AllocationRequests(Allocator::Object);
  std::size_t live = quibtest::LiveAllocations(Allocator::Object);
  Fire();
  EXPECT_EQ(quibtest::AllocationRequests(Allocator::Object), requests + 1);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringTest, OneInlineSinkReceivesTheEventOnceWithItsArgumentsReversed) {
  TestSink sink;
  Advise(sink);
  Fire(200, 300);
  ASSERT_EQ(sink.calls.size(), 1u);
  ExpectOnMessage(sink.calls[0], 78, 200, 300);
  EXPECT_EQ(sink.refs, 2u) << "the firing's own reference was given back";
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringTest, ValuesTravelAsTheir32BitPatterns) {
  TestSink sink;
  Advise(sink);
  FireOnMessage(self_, 0xFFFFFFFFu, 0x80000000u, -1);
  ASSERT_EQ(sink.calls.size(), 1u);
  ExpectOnMessage(sink.calls[0], -1, static_cast<LONG>(0x80000000u), -1);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringTest, SinksAreCalledInSlotOrderAndEmptySlotsAreSkipped) {
  std::vector<int> order;
  std::array<TestSink, 4> s;
  std::array<DWORD, 4> cookies;
  for (int i = 0; i < 4; ++i) {
    s[i].id = i;
    s[i].order = &order;
    cookies[i] = Advise(s[i]);
  }
  point_->Unadvise(cookies[1]);
  point_->Unadvise(cookies[3]);
  Fire();
  EXPECT_EQ(order, (std::vector<int>{0, 2}));
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringTest, NoHeapMemoryBeyondTheArgumentArray) {
  std::array<TestSink, 12> s;
  for (auto& sink : s) Advise(sink);
  std::array<std::size_t, 4> before;
  Allocator all[] = {Allocator::Object, Allocator::RuntimeHeap, Allocator::PrivateHeap, Allocator::TaskMemory};
  for (int i = 0; i < 4; ++i) before[i] = quibtest::AllocationRequests(all[i]);
  Fire();
  EXPECT_EQ(quibtest::AllocationRequests(Allocator::Object), before[0] + 1);
  for (int i = 1; i < 4; ++i) EXPECT_EQ(quibtest::AllocationRequests(all[i]), before[i]) << i;
  for (auto& sink : s) EXPECT_EQ(sink.calls.size(), 1u);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringTest, WithoutMemoryForTheArgumentsNoSinkIsCalled) {
  TestSink a, b;
  Advise(a);
  Advise(b);
  ULONG recorderRefs = RefCountOf(recorder_);
  quibtest::FailAllocation(Allocator::Object, 1);
  Fire();
  quibtest::ClearAllocationFaults();
  EXPECT_TRUE(a.calls.empty());
  EXPECT_TRUE(b.calls.empty());
  EXPECT_EQ(a.refs, 2u);
  EXPECT_EQ(RefCountOf(recorder_), recorderRefs);
  Fire();
  EXPECT_EQ(a.calls.size(), 1u) << "the next firing goes through";
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringTest, WhatASinkLeavesInTheResultIsClearedBeforeTheNextAndAtTheEnd) {
  TestSink held;  // referenced from a result
  TestSink a, b;
  a.during = [&](TestSink& self, DISPPARAMS*) {
    held.AddRef();
    self.result->vt = VT_UNKNOWN;
    self.result->punkVal = &held;
  };
  b.during = [&](TestSink& self, DISPPARAMS*) {
    self.result->vt = VT_BSTR;
    self.result->bstrVal = SysAllocString(u"left");
  };
  Advise(a);
  Advise(b);
  Fire();
  ASSERT_EQ(b.calls.size(), 1u);
  EXPECT_EQ(a.calls[0].resultTypeOnEntry, VT_EMPTY);
  EXPECT_EQ(b.calls[0].resultTypeOnEntry, VT_EMPTY) << "cleared before each call";
  EXPECT_EQ(held.refs, 1u) << "the reference left in the result was released";
  // The string left by the last sink is checked by the fixture's TaskMemory count.
  Close();  // sinks still connected are released before they go out of scope
}

// ---- sinks that act from inside their event ----

using FiringReentryTest = FiringTest;

TEST_F(FiringReentryTest, ASinkThatUnadvisesItselfIsReleasedOnceAfterItsCall) {
  std::array<TestSink, 3> s;
  std::array<DWORD, 3> c;
  for (int i = 0; i < 3; ++i) c[i] = Advise(s[i]);
  ULONG releasesAtUnadvise = 0;
  s[1].during = [&](TestSink& self, DISPPARAMS*) {
    EXPECT_EQ(self.refs, 3u) << "the list's and the firing's references";
    EXPECT_EQ(point_->Unadvise(c[1]), S_OK);
    releasesAtUnadvise = self.releases;
    EXPECT_EQ(self.refs, 2u) << "the firing's reference keeps it alive";
  };
  Fire();
  EXPECT_EQ(s[1].refs, 1u);
  EXPECT_EQ(s[1].releases, releasesAtUnadvise + 1) << "exactly one more Release, the firing's";
  EXPECT_EQ(s[1].calls.size(), 1u);
  EXPECT_EQ(s[2].calls.size(), 1u);
  Fire();
  EXPECT_EQ(s[1].calls.size(), 1u);
  EXPECT_EQ(s[2].calls.size(), 2u);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, ASinkThatUnadvisesALaterSinkKeepsItFromItsCall) {
  std::array<TestSink, 3> s;
  std::array<DWORD, 3> c;
  for (int i = 0; i < 3; ++i) c[i] = Advise(s[i]);
  s[0].during = [&](TestSink&, DISPPARAMS*) { EXPECT_EQ(point_->Unadvise(c[2]), S_OK); };
  Fire();
  EXPECT_EQ(s[1].calls.size(), 1u);
  EXPECT_TRUE(s[2].calls.empty());
  EXPECT_EQ(s[2].refs, 1u);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, ASinkThatUnadvisesAnEarlierSinkChangesNothingForTheRest) {
  std::array<TestSink, 3> s;
  std::array<DWORD, 3> c;
  for (int i = 0; i < 3; ++i) c[i] = Advise(s[i]);
  s[1].during = [&](TestSink&, DISPPARAMS*) { EXPECT_EQ(point_->Unadvise(c[0]), S_OK); };
  Fire();
  for (auto& sink : s) EXPECT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(s[0].refs, 1u);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, ASinkAdvisedDuringTheWalk) {
  struct Case {
    const char* name;
    int advisedBefore;   // sinks in the list before the firing
    int emptySlot;       // slot emptied before the firing, or -1
    int adviser;         // the sink that advises during its event
    bool newSinkCalled;  // in this firing
  } cases[] = {
      {"grows the array: lands beyond the walk", 4, -1, 0, false},
      {"grows from one inline sink", 1, -1, 0, false},
      {"fills an empty slot ahead of the walk", 4, 3, 1, true},
      {"fills an empty slot behind the walk", 4, 0, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reopen();
    {
      std::array<TestSink, 4> s;
      std::array<DWORD, 4> cookies{};
      TestSink late;
      for (int i = 0; i < c.advisedBefore; ++i) cookies[i] = Advise(s[i]);
      if (c.emptySlot >= 0) point_->Unadvise(cookies[c.emptySlot]);
      s[c.adviser].during = [&](TestSink& self, DISPPARAMS*) {
        self.during = nullptr;
        DWORD cookie = 0;
        EXPECT_EQ(point_->Advise(&late, &cookie), S_OK);
      };
      Fire();
      EXPECT_EQ(late.calls.size(), c.newSinkCalled ? 1u : 0u);
      Fire();
      EXPECT_EQ(late.calls.size(), c.newSinkCalled ? 2u : 1u) << "called in the next firing";
      for (int i = 0; i < c.advisedBefore; ++i) {
        if (i != c.emptySlot) {
          EXPECT_EQ(s[i].calls.size(), 2u) << i;
        }
      }
      Close();
      EXPECT_EQ(late.refs, 1u);
      for (auto& sink : s) EXPECT_EQ(sink.refs, 1u);
    }
  }
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, ASinkThatReleasesTheLastReferenceToTheRecorder) {
  std::array<TestSink, 3> s;
  for (auto& sink : s) Advise(sink);
  std::size_t live = quibtest::LiveAllocations(Allocator::Object);
  s[0].during = [&](TestSink&, DISPPARAMS*) {
    Close();
    // The argument array is live; the recorder must be too.
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live + 1) << "the firing keeps the recorder";
  };
  Fire();
  // The walk went on to the end; then the recorder went, releasing every sink.
  for (auto& sink : s) {
    EXPECT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.refs, 1u);
  }
  EXPECT_EQ(g_moduleState.LockCount(), 0);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live - 1);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, ASinkThatCallsDiscardOrSaveOnARecorderWithoutAControl) {
  std::array<TestSink, 2> s;
  for (auto& sink : s) Advise(sink);
  s[0].during = [&](TestSink&, DISPPARAMS*) {
    EXPECT_EQ(recorder_->Discard(), S_FALSE);
    EXPECT_EQ(recorder_->Save(), S_FALSE);
  };
  Fire();
  EXPECT_EQ(s[1].calls.size(), 1u);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, ASinkWhoseInvokeFailsDoesNotStopTheWalk) {
  std::array<TestSink, 3> s;
  HRESULT failures[] = {DISP_E_EXCEPTION, E_FAIL, E_NOTIMPL};
  for (int i = 0; i < 3; ++i) {
    s[i].invokeResult = failures[i];
    Advise(s[i]);
  }
  Fire();
  for (auto& sink : s) EXPECT_EQ(sink.calls.size(), 1u);
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, ASinkThatChangesTheArgumentsDoesNotAffectTheNext) {
  TestSink counted;  // held by a changed argument
  struct Case {
    const char* name;
    std::function<void(DISPPARAMS*)> change;
  } cases[] = {
      {"argument 0 to a string", [](DISPPARAMS* p) {
         p->rgvarg[0].vt = VT_BSTR;
         p->rgvarg[0].bstrVal = SysAllocString(u"changed");
       }},
      {"argument 1 to an object", [&](DISPPARAMS* p) {
         counted.AddRef();
         p->rgvarg[1].vt = VT_UNKNOWN;
         p->rgvarg[1].punkVal = &counted;
       }},
      {"argument 2 to a type that cannot be cleared", [](DISPPARAMS* p) {
         p->rgvarg[2].vt = 0x0FFF;
         p->rgvarg[2].lVal = 5;
       }},
      {"every value, types kept", [](DISPPARAMS* p) {
         for (int i = 0; i < 3; ++i) p->rgvarg[i].lVal = -7;
       }},
      {"argument 0 to VT_INT", [](DISPPARAMS* p) { p->rgvarg[0].vt = VT_INT; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestSink changer, next;
    DWORD c1 = Advise(changer);
    DWORD c2 = Advise(next);
    changer.during = [&](TestSink&, DISPPARAMS* p) { c.change(p); };
    Fire(200, 300);
    ASSERT_EQ(next.calls.size(), 1u);
    ExpectOnMessage(next.calls[0], 78, 200, 300);
    EXPECT_EQ(counted.refs, 1u) << "what a sink put in an argument is cleared";
    point_->Unadvise(c1);
    point_->Unadvise(c2);
  }
  Close();  // sinks still connected are released before they go out of scope
}

TEST_F(FiringReentryTest, TheLastSinkChangingAnArgumentLeavesNothingBehind) {
  TestSink counted, sink;
  Advise(sink);
  sink.during = [&](TestSink&, DISPPARAMS* p) {
    counted.AddRef();
    p->rgvarg[2].vt = VT_UNKNOWN;
    p->rgvarg[2].punkVal = &counted;
    p->rgvarg[0].vt = VT_BSTR;
    p->rgvarg[0].bstrVal = SysAllocString(u"left behind");
  };
  Fire();
  EXPECT_EQ(counted.refs, 1u) << "the arguments are cleared when the array is freed";
  Close();
  EXPECT_EQ(sink.refs, 1u);
  Close();  // sinks still connected are released before they go out of scope
}

}  // namespace
