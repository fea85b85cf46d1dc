// The connection point, the container and the two connection enumerators,
// through the recorder's interfaces, with the library's objects linked in so
// that the module's lock count is visible exactly.
#include <gtest/gtest.h>

#include <array>

#include "automation/contract.h"
#include "events/container.h"
#include "events/enumerator.h"
#include "module/module_state.h"
#include "platform/loader.h"
#include "quib_test_support.h"
#include "quibtest/core.h"
#include "recorder/recorder.h"
#include "test_sink.h"

extern "C" BOOL DllMain(HINSTANCE, DWORD, void*);

using quibtest::Allocator;
using quibtest::Ref;
using quibtest::RefCountOf;
using quibtest::TestSink;

namespace {

constexpr IID kOtherIid = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

class ConnectionTest : public testing::Test {
 protected:
  void SetUp() override {
    quibtest::ClearAllocationFaults();
    objectsBefore_ = quibtest::LiveAllocations(Allocator::Object);
    heapBefore_ = quibtest::LiveAllocations(Allocator::RuntimeHeap);
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
    ASSERT_EQ(CreateRecorderInstance(nullptr, IID_IquibVoiceRec, recorder_.put_void()), S_OK);
    ASSERT_EQ(recorder_->QueryInterface(IID_IConnectionPointContainer, container_.put_void()), S_OK);
    ASSERT_EQ(container_->FindConnectionPoint(DIID__IquibVoiceRecEvents, point_.put()), S_OK);
  }
  void TearDown() override {
    point_.reset();
    container_.reset();
    recorder_.reset();
    quibtest::ClearAllocationFaults();
    EXPECT_EQ(Locks(), 0) << "an object or enumerator is still alive";
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), objectsBefore_) << "objects leaked";
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::RuntimeHeap), heapBefore_) << "slot arrays leaked";
  }
  static LONG Locks() { return g_moduleState.LockCount(); }
  // Releases the recorder, and with it every sink still connected; tests whose
  // sinks stay connected call this before the sinks go out of scope.
  void Close() {
    point_.reset();
    container_.reset();
    recorder_.reset();
  }

  DWORD Advise(TestSink& sink) {
    DWORD cookie = 0;
    EXPECT_EQ(point_->Advise(&sink, &cookie), S_OK);
    return cookie;
  }
  // The records an enumerator still has, released again.
  std::vector<CONNECTDATA> Drain(IEnumConnections* e) {
    std::vector<CONNECTDATA> records;
    CONNECTDATA record;
    while (e->Next(1, &record, nullptr) == S_OK) {
      records.push_back(record);
      record.pUnk->Release();
    }
    return records;
  }
  IEnumConnections* Connections() {
    IEnumConnections* e = nullptr;
    EXPECT_EQ(point_->EnumConnections(&e), S_OK);
    return e;
  }

  Ref<IquibVoiceRec> recorder_;
  Ref<IConnectionPointContainer> container_;
  Ref<IConnectionPoint> point_;
  std::size_t objectsBefore_ = 0;
  std::size_t heapBefore_ = 0;
};

IUnknown* AsUnknown(IDispatch* d) { return d; }

// ---- container ----

TEST_F(ConnectionTest, FindConnectionPointGivesTheSameFaceWithOneMoreReferenceEachTime) {
  ULONG before = RefCountOf(recorder_.get());
  Ref<IConnectionPoint> again;
  ASSERT_EQ(container_->FindConnectionPoint(DIID__IquibVoiceRecEvents, again.put()), S_OK);
  EXPECT_EQ(again.get(), point_.get());
  EXPECT_EQ(RefCountOf(recorder_.get()), before + 1);

  Ref<IConnectionPointContainer> back;
  ASSERT_EQ(point_->GetConnectionPointContainer(back.put()), S_OK);
  EXPECT_EQ(back.get(), container_.get());
}

TEST_F(ConnectionTest, FindConnectionPointServesOnlyTheEventInterface) {
  struct Case {
    const char* name;
    const IID& iid;
  } cases[] = {{"IquibVoiceRec", IID_IquibVoiceRec},
               {"IDispatch", IID_IDispatch},
               {"IUnknown", IID_IUnknown},
               {"IConnectionPoint", IID_IConnectionPoint},
               {"other", kOtherIid}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* out = reinterpret_cast<IConnectionPoint*>(0x1);
    EXPECT_EQ(container_->FindConnectionPoint(c.iid, &out), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(out, nullptr);
  }
}

TEST_F(ConnectionTest, FindConnectionPointRefusesAMissingOutPointerOrIid) {
  EXPECT_EQ(container_->FindConnectionPoint(DIID__IquibVoiceRecEvents, nullptr), E_POINTER);
  // A caller through the operation table passing no IID at all.
  using Find = HRESULT (*)(IConnectionPointContainer*, const IID*, IConnectionPoint**);
  auto find = (*reinterpret_cast<Find**>(container_.get()))[4];
  auto* out = reinterpret_cast<IConnectionPoint*>(0x1);
  EXPECT_EQ(find(container_.get(), nullptr, &out), E_POINTER);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ConnectionTest, TheConnectionMapLocatesTheOneConnectionPoint) {
  int count = 0;
  const LONG* map = ConnectionPointContainer::GetConnectionMap(&count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(map[1], -1);
  EXPECT_EQ(reinterpret_cast<char*>(container_.get()) + map[0], reinterpret_cast<char*>(point_.get()));
  EXPECT_EQ(ConnectionPointContainer::GetConnectionMap(nullptr), map);
}

TEST_F(ConnectionTest, EnumConnectionPointsDeliversTheConnectionPointOnce) {
  Ref<IEnumConnectionPoints> e;
  ASSERT_EQ(container_->EnumConnectionPoints(e.put()), S_OK);
  IConnectionPoint* got = nullptr;
  ASSERT_EQ(e->Next(1, &got, nullptr), S_OK);
  EXPECT_EQ(got, point_.get());
  got->Release();
  got = nullptr;
  EXPECT_EQ(e->Next(1, &got, nullptr), S_FALSE);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(container_->EnumConnectionPoints(nullptr), E_POINTER);
}

TEST_F(ConnectionTest, AConnectionPointEnumeratorKeepsTheRecorderAlive) {
  IEnumConnectionPoints* e = nullptr;
  ASSERT_EQ(container_->EnumConnectionPoints(&e), S_OK);
  ULONG held = RefCountOf(recorder_.get());
  EXPECT_EQ(held, 3u + 2u) << "the recorder, the container, the point, and the enumerator's two";
  IConnectionPoint* delivered = nullptr;
  ASSERT_EQ(e->Next(1, &delivered, nullptr), S_OK);
  std::size_t live = quibtest::LiveAllocations(Allocator::Object);
  point_.reset();
  container_.reset();
  recorder_.reset();
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live) << "the recorder must survive";
  EXPECT_EQ(Locks(), 2);  // the recorder and the enumerator
  e->Release();
  EXPECT_EQ(Locks(), 1);
  delivered->Release();
  EXPECT_EQ(Locks(), 0);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live - 3) << "recorder, enumerator, its array";
}

TEST_F(ConnectionTest, AFailedEnumConnectionPointsLeavesNothingBehind) {
  ULONG refs = RefCountOf(recorder_.get());
  for (unsigned n = 1;; ++n) {
    SCOPED_TRACE(n);
    quibtest::FailAllocation(Allocator::Object, n);
    auto* out = reinterpret_cast<IEnumConnectionPoints*>(0x1);
    HRESULT hr = container_->EnumConnectionPoints(&out);
    quibtest::ClearAllocationFaults();
    if (hr == S_OK) {
      out->Release();
      break;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Locks(), 1);
    EXPECT_EQ(RefCountOf(recorder_.get()), refs);
    ASSERT_LT(n, 10u);
  }
}

// ---- connection point ----

TEST_F(ConnectionTest, TheConnectionPointAnswersOnlyItselfFromItsOwnQueryInterface) {
  struct Case {
    const char* name;
    const IID& iid;
    bool answered;
  } cases[] = {{"IUnknown", IID_IUnknown, true},
               {"IConnectionPoint", IID_IConnectionPoint, true},
               {"IDispatch", IID_IDispatch, false},
               {"IquibVoiceRec", IID_IquibVoiceRec, false},
               {"IConnectionPointContainer", IID_IConnectionPointContainer, false},
               {"events", DIID__IquibVoiceRecEvents, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    void* out = reinterpret_cast<void*>(0x1);
    HRESULT hr = point_->QueryInterface(c.iid, &out);
    if (c.answered) {
      EXPECT_EQ(hr, S_OK);
      EXPECT_EQ(out, static_cast<void*>(point_.get()));
      static_cast<IUnknown*>(out)->Release();
      EXPECT_EQ(point_->QueryInterface(c.iid, nullptr), E_POINTER);
    } else {
      EXPECT_EQ(hr, E_NOINTERFACE);
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(point_->QueryInterface(c.iid, nullptr), E_NOINTERFACE);
    }
  }
}

TEST_F(ConnectionTest, GetConnectionInterfaceReportsTheEventInterface) {
  IID iid{};
  EXPECT_EQ(point_->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, DIID__IquibVoiceRecEvents);
  EXPECT_EQ(point_->GetConnectionInterface(nullptr), E_POINTER);
  EXPECT_EQ(point_->GetConnectionPointContainer(nullptr), E_POINTER);
}

TEST_F(ConnectionTest, AdviseAcceptsOnlyASinkThatGivesTheEventInterface) {
  struct Case {
    const char* name;
    TestSink::Answer answer;
    HRESULT expected;
  } cases[] = {{"refuses", TestSink::Answer::Refuse, CONNECT_E_CANNOTCONNECT},
               {"fails", TestSink::Answer::Fail, E_FAIL},
               {"succeeds without a pointer", TestSink::Answer::NullSuccess, CONNECT_E_CANNOTCONNECT},
               {"gives it", TestSink::Answer::Events, S_OK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestSink sink;
    sink.answer = c.answer;
    DWORD cookie = 0xDEAD;
    EXPECT_EQ(point_->Advise(&sink, &cookie), c.expected);
    if (c.expected == S_OK) {
      EXPECT_NE(cookie, 0u);
      EXPECT_EQ(sink.refs, 2u) << "the list holds the event interface's reference";
      EXPECT_EQ(point_->Unadvise(cookie), S_OK);
    } else {
      EXPECT_EQ(cookie, 0u);
    }
    EXPECT_EQ(sink.refs, 1u);
  }
}

TEST_F(ConnectionTest, AdviseWithAMissingSinkOrCookieWritesNothing) {
  TestSink sink;
  DWORD cookie = 0xDEAD;
  EXPECT_EQ(point_->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cookie, 0xDEADu);
  EXPECT_EQ(point_->Advise(&sink, nullptr), E_POINTER);
  EXPECT_EQ(sink.queries, 0u);
  EXPECT_EQ(sink.refs, 1u);
}

TEST_F(ConnectionTest, AdviseWithoutMemoryForTheListReleasesTheSink) {
  TestSink first, second;
  Advise(first);
  quibtest::FailAllocation(Allocator::RuntimeHeap, 1);
  DWORD cookie = 0xDEAD;
  EXPECT_EQ(point_->Advise(&second, &cookie), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(second.refs, 1u);
  Ref<IEnumConnections> e(Connections());
  EXPECT_EQ(Drain(e.get()).size(), 1u);
  e.reset();
  Close();
  EXPECT_EQ(first.refs, 1u);
}

TEST_F(ConnectionTest, TheSameSinkTwiceIsTwoConnectionsWithOneCookie) {
  TestSink sink;
  DWORD a = Advise(sink);
  DWORD b = Advise(sink);
  EXPECT_EQ(a, b);
  EXPECT_EQ(sink.refs, 3u);
  {
    Ref<IEnumConnections> e(Connections());
    auto records = Drain(e.get());
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
      EXPECT_EQ(r.pUnk, AsUnknown(&sink));
      EXPECT_EQ(r.dwCookie, a);
    }
  }
  EXPECT_EQ(point_->Unadvise(a), S_OK);
  EXPECT_EQ(sink.refs, 2u);
  EXPECT_EQ(point_->Unadvise(a), S_OK);
  EXPECT_EQ(sink.refs, 1u);
  EXPECT_EQ(point_->Unadvise(a), CONNECT_E_NOCONNECTION);
}

TEST_F(ConnectionTest, UnadviseOfACookieNoSlotHoldsChangesNothing) {
  TestSink sink;
  DWORD cookie = Advise(sink);
  EXPECT_EQ(point_->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(cookie ^ 0x10), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(sink.refs, 2u);
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);
  EXPECT_EQ(point_->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(sink.refs, 1u);
}

TEST_F(ConnectionTest, UnadviseReleasesTheSinkAfterItLeftTheList) {
  TestSink sink;
  DWORD cookie = Advise(sink);
  bool listedDuringRelease = true;
  // The sink looks at the connections from inside the Release that Unadvise makes.
  class ProbingSink final : public IUnknown {
   public:
    IConnectionPoint* point = nullptr;
    bool* listed = nullptr;
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID, void** out) override {
      *out = this;
      ++refs;
      return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
      if (refs == 2 && point) {
        IEnumConnections* e = nullptr;
        point->EnumConnections(&e);
        CONNECTDATA r;
        ULONG fetched = 0;
        e->Next(1, &r, &fetched);
        *listed = fetched != 0;
        if (fetched) r.pUnk->Release();
        e->Release();
      }
      return --refs;
    }
  } probing;
  probing.point = point_.get();
  probing.listed = &listedDuringRelease;
  DWORD probed = 0;
  ASSERT_EQ(point_->Advise(&probing, &probed), S_OK);
  ASSERT_EQ(point_->Unadvise(cookie), S_OK);  // the other sink first
  EXPECT_EQ(point_->Unadvise(probed), S_OK);
  EXPECT_FALSE(listedDuringRelease);
  EXPECT_EQ(probing.refs, 1u);
  EXPECT_EQ(sink.refs, 1u);
}

TEST_F(ConnectionTest, TheLastReleaseOfTheRecorderReleasesEverySinkOnce) {
  std::array<TestSink, 5> sinks;
  for (auto& s : sinks) Advise(s);
  Close();
  for (auto& s : sinks) {
    EXPECT_EQ(s.refs, 1u);
    EXPECT_EQ(s.releases, s.addRefs);
  }
}

// ---- EnumConnections ----

TEST_F(ConnectionTest, EnumConnectionsOnNoSinksIsAnEmptyEnumerator) {
  Ref<IEnumConnections> e(Connections());
  CONNECTDATA r;
  ULONG fetched = 7;
  EXPECT_EQ(e->Next(1, &r, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Skip(0), S_OK);
  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(point_->EnumConnections(nullptr), E_POINTER);
}

TEST_F(ConnectionTest, EnumConnectionsListsTheRemainingSinksInSlotOrderWithoutGaps) {
  std::array<TestSink, 5> s;
  std::array<DWORD, 5> cookies;
  for (int i = 0; i < 5; ++i) cookies[i] = Advise(s[i]);
  point_->Unadvise(cookies[0]);
  point_->Unadvise(cookies[3]);
  Ref<IEnumConnections> e(Connections());
  for (int i : {1, 2, 4}) EXPECT_EQ(s[i].refs, 3u) << "list and snapshot hold it";
  auto records = Drain(e.get());
  ASSERT_EQ(records.size(), 3u);
  int expected[] = {1, 2, 4};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(records[k].pUnk, AsUnknown(&s[expected[k]]));
    EXPECT_EQ(records[k].dwCookie, cookies[expected[k]]);
  }
  e.reset();
  for (int i : {1, 2, 4}) EXPECT_EQ(s[i].refs, 2u);
  for (int i : {0, 3}) EXPECT_EQ(s[i].refs, 1u);
  Close();
  for (auto& sink : s) EXPECT_EQ(sink.refs, 1u);
}

TEST_F(ConnectionTest, EnumConnectionsIsASnapshot) {
  TestSink a, b, c;
  DWORD ca = Advise(a);
  Advise(b);
  Ref<IEnumConnections> e(Connections());
  point_->Unadvise(ca);
  Advise(c);
  EXPECT_EQ(a.refs, 2u) << "the snapshot keeps the unadvised sink alive";
  auto records = Drain(e.get());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].pUnk, AsUnknown(&a));
  EXPECT_EQ(records[1].pUnk, AsUnknown(&b));
  e.reset();
  EXPECT_EQ(a.refs, 1u);
  Close();
  EXPECT_EQ(b.refs, 1u);
  EXPECT_EQ(c.refs, 1u);
}

TEST_F(ConnectionTest, ACloneOutlivesTheEnumeratorItWasClonedFrom) {
  TestSink a, b;
  Advise(a);
  Advise(b);
  Ref<IEnumConnections> clone;
  {
    Ref<IEnumConnections> e(Connections());
    CONNECTDATA r;
    ASSERT_EQ(e->Next(1, &r, nullptr), S_OK);
    r.pUnk->Release();
    ASSERT_EQ(e->Clone(clone.put()), S_OK);
    EXPECT_EQ(Locks(), 3);  // the recorder and two enumerators
  }
  EXPECT_EQ(Locks(), 3) << "the clone holds its source, the array's owner";
  EXPECT_EQ(a.refs, 3u) << "the source's array lives on for the clone";
  auto records = Drain(clone.get());
  ASSERT_EQ(records.size(), 1u) << "the clone continues where its source was";
  EXPECT_EQ(records[0].pUnk, AsUnknown(&b));
  clone->Reset();
  EXPECT_EQ(Drain(clone.get()).size(), 2u);
  clone.reset();
  EXPECT_EQ(a.refs, 2u);
  EXPECT_EQ(b.refs, 2u);
  Close();
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(b.refs, 1u);
}

TEST_F(ConnectionTest, AFailedEnumConnectionsLeavesNothingBehind) {
  TestSink a, b;
  Advise(a);
  Advise(b);
  for (unsigned n = 1;; ++n) {
    SCOPED_TRACE(n);
    quibtest::FailAllocation(Allocator::Object, n);
    auto* out = reinterpret_cast<IEnumConnections*>(0x1);
    HRESULT hr = point_->EnumConnections(&out);
    quibtest::ClearAllocationFaults();
    if (hr == S_OK) {
      out->Release();
      break;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Locks(), 1);
    EXPECT_EQ(a.refs, 2u);
    EXPECT_EQ(b.refs, 2u);
    ASSERT_LT(n, 10u);
  }
  EXPECT_EQ(a.refs, 2u);
  Close();
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(b.refs, 1u);
}

// ---- enumerator behaviour ----

class ThreeConnections : public ConnectionTest {
 protected:
  void SetUp() override {
    ConnectionTest::SetUp();
    for (auto& s : sinks_) Advise(s);
    *e_.put() = Connections();
  }
  void TearDown() override {
    e_.reset();
    ConnectionTest::TearDown();
  }
  ULONG Next(ULONG count) {
    std::array<CONNECTDATA, 8> out{};
    ULONG fetched = 99;
    last_ = e_->Next(count, out.data(), &fetched);
    for (ULONG i = 0; i < fetched && last_ >= 0; ++i) out[i].pUnk->Release();
    return fetched;
  }
  std::array<TestSink, 3> sinks_;
  Ref<IEnumConnections> e_;
  HRESULT last_ = S_OK;
};

TEST_F(ThreeConnections, NextDeliversWhatIsLeftAndSaysWhetherItWasEnough) {
  struct Case {
    ULONG skipFirst;
    ULONG count;
    ULONG fetched;
    HRESULT result;
  } cases[] = {{0, 0, 0, S_OK}, {0, 2, 2, S_OK}, {0, 3, 3, S_OK}, {0, 5, 3, S_FALSE},
               {1, 2, 2, S_OK}, {1, 3, 2, S_FALSE}, {3, 1, 0, S_FALSE}, {3, 0, 0, S_OK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "skip " << c.skipFirst << " next " << c.count);
    e_->Reset();
    e_->Skip(c.skipFirst);
    EXPECT_EQ(Next(c.count), c.fetched);
    EXPECT_EQ(last_, c.result);
  }
  for (auto& s : sinks_) EXPECT_EQ(s.refs, 3u) << "each delivered record carried one reference";
}

TEST_F(ThreeConnections, NextNeedsAFetchedPointerUnlessItAsksForOne) {
  CONNECTDATA r{};
  EXPECT_EQ(e_->Next(0, &r, nullptr), E_POINTER);
  EXPECT_EQ(e_->Next(2, &r, nullptr), E_POINTER);
  EXPECT_EQ(e_->Next(1, nullptr, nullptr), E_POINTER);
  ULONG fetched = 0;
  EXPECT_EQ(e_->Next(1, nullptr, &fetched), E_POINTER);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(e_->Next(1, &r, nullptr), S_OK);
    EXPECT_EQ(r.pUnk, AsUnknown(&sinks_[i]));
    r.pUnk->Release();
  }
  EXPECT_EQ(e_->Next(1, &r, nullptr), S_FALSE);
}

TEST_F(ThreeConnections, SkipStopsAtTheEnd) {
  struct Case {
    ULONG count;
    HRESULT result;
    ULONG leftAfter;
  } cases[] = {{0, S_OK, 3}, {2, S_OK, 1}, {3, S_OK, 0}, {4, S_FALSE, 0}, {0xFFFFFFFFu, S_FALSE, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    e_->Reset();
    EXPECT_EQ(e_->Skip(c.count), c.result);
    EXPECT_EQ(Next(8), c.leftAfter);
  }
  EXPECT_EQ(e_->Skip(0), S_OK) << "also on an exhausted enumerator";
}

TEST_F(ThreeConnections, ResetAndClonesMoveIndependently) {
  EXPECT_EQ(Next(3), 3u);
  EXPECT_EQ(e_->Reset(), S_OK);
  CONNECTDATA r;
  ASSERT_EQ(e_->Next(1, &r, nullptr), S_OK);
  EXPECT_EQ(r.pUnk, AsUnknown(&sinks_[0]));
  r.pUnk->Release();

  Ref<IEnumConnections> clone;
  ASSERT_EQ(e_->Clone(clone.put()), S_OK);
  ASSERT_EQ(clone->Next(1, &r, nullptr), S_OK);
  EXPECT_EQ(r.pUnk, AsUnknown(&sinks_[1])) << "the clone starts where its source stood";
  r.pUnk->Release();
  ASSERT_EQ(e_->Next(1, &r, nullptr), S_OK);
  EXPECT_EQ(r.pUnk, AsUnknown(&sinks_[1])) << "advancing the clone did not move the source";
  r.pUnk->Release();

  Ref<IEnumConnections> grandchild;
  ASSERT_EQ(clone->Clone(grandchild.put()), S_OK);
  e_.reset();
  clone.reset();
  ASSERT_EQ(grandchild->Next(1, &r, nullptr), S_OK);
  EXPECT_EQ(r.pUnk, AsUnknown(&sinks_[2]));
  r.pUnk->Release();
  EXPECT_EQ(Locks(), 3) << "the recorder, the grandchild and the source it holds; the middle clone is gone";
}

TEST_F(ThreeConnections, CloneRefusesAMissingOutPointerAndRunsOutOfMemoryCleanly) {
  EXPECT_EQ(e_->Clone(nullptr), E_POINTER);
  quibtest::FailAllocation(Allocator::Object, 1);
  auto* out = reinterpret_cast<IEnumConnections*>(0x1);
  EXPECT_EQ(e_->Clone(&out), E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Locks(), 2);
  EXPECT_EQ(RefCountOf(e_.get()), 1u);
}

TEST_F(ThreeConnections, AnEnumeratorAnswersItsOwnInterfaceOnly) {
  struct Case {
    const char* name;
    const IID& iid;
    bool answered;
  } cases[] = {{"IUnknown", IID_IUnknown, true},
               {"IEnumConnections", IID_IEnumConnections, true},
               {"IEnumConnectionPoints", IID_IEnumConnectionPoints, false},
               {"IDispatch", IID_IDispatch, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(e_->QueryInterface(c.iid, &out), c.answered ? S_OK : E_NOINTERFACE);
    if (c.answered) {
      EXPECT_EQ(out, static_cast<void*>(e_.get()));
      e_->Release();
    } else {
      EXPECT_EQ(out, nullptr);
    }
  }
}

TEST_F(ConnectionTest, TheLockCountIsOneHigherForEveryLiveEnumerator) {
  TestSink a;
  Advise(a);
  std::vector<IUnknown*> held;
  LONG base = Locks();
  for (int i = 0; i < 3; ++i) {
    IEnumConnections* c = nullptr;
    ASSERT_EQ(point_->EnumConnections(&c), S_OK);
    IEnumConnections* clone = nullptr;
    ASSERT_EQ(c->Clone(&clone), S_OK);
    IEnumConnectionPoints* p = nullptr;
    ASSERT_EQ(container_->EnumConnectionPoints(&p), S_OK);
    held.push_back(c);
    held.push_back(clone);
    held.push_back(p);
    EXPECT_EQ(Locks(), base + 3 * (i + 1));
  }
  while (!held.empty()) {
    held.back()->Release();
    held.pop_back();
    EXPECT_EQ(Locks(), base + static_cast<LONG>(held.size()));
  }
  EXPECT_EQ(a.refs, 2u);
  Close();
  EXPECT_EQ(a.refs, 1u);
}

// ---- the generic enumerator itself ----

TEST_F(ConnectionTest, AnEnumeratorWithoutAnArrayFailsNext) {
  ConnectionPointEnumerator* e = nullptr;
  ASSERT_EQ(ConnectionPointEnumerator::CreateEnumerator(&e), S_OK);
  EXPECT_EQ(Locks(), 2);
  IEnumConnectionPoints* face = nullptr;
  ASSERT_EQ(e->QueryInterface(IID_IEnumConnectionPoints, reinterpret_cast<void**>(&face)), S_OK);
  IConnectionPoint* out = nullptr;
  ULONG fetched = 0;
  EXPECT_EQ(face->Next(1, &out, &fetched), E_FAIL);
  EXPECT_EQ(face->Release(), 0u);
  EXPECT_EQ(Locks(), 1);
}

TEST_F(ConnectionTest, ModesDecideWhatAnEnumeratorHoldsAndDrops) {
  struct Case {
    const char* name;
    DWORD mode;
    ULONG refsWhileAlive;  // per element, beyond the test's own
  } cases[] = {{"share", ShareMode, 0}, {"adopt", AdoptMode, 1}, {"copy", CopyMode, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestSink owner;
    std::array<TestSink, 2> s;
    ConnectionEnumerator* e = nullptr;
    ASSERT_EQ(ConnectionEnumerator::CreateEnumerator(&e), S_OK);
    CONNECTDATA local[2] = {{&s[0], 10}, {&s[1], 20}};
    CONNECTDATA* array = local;
    if (c.mode == AdoptMode) {
      array = static_cast<CONNECTDATA*>(ObjectAlloc(sizeof local));
      for (int i = 0; i < 2; ++i) {
        array[i] = local[i];
        s[i].AddRef();  // the references handed over with the array
      }
    }
    std::size_t live = quibtest::LiveAllocations(Allocator::Object);
    ASSERT_EQ(e->InitData(array, array + 2, &owner, c.mode), S_OK);
    EXPECT_EQ(owner.refs, 2u);
    for (auto& sink : s) EXPECT_EQ(sink.refs, 1u + c.refsWhileAlive);
    IEnumConnections* face = nullptr;
    ASSERT_EQ(e->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(&face)), S_OK);
    CONNECTDATA r{};
    ASSERT_EQ(face->Next(1, &r, nullptr), S_OK);
    EXPECT_EQ(r.dwCookie, 10u);
    r.pUnk->Release();
    face->Release();
    EXPECT_EQ(owner.refs, 1u);
    for (auto& sink : s) EXPECT_EQ(sink.refs, 1u);
    // The enumerator is gone, and with it an adopted array; a copy's own
    // array was made after `live` was read and is gone again.
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live - 1 - (c.mode == AdoptMode ? 1 : 0));
  }
}

TEST_F(ConnectionTest, ACopyThatFindsNoMemoryHoldsNothing) {
  TestSink owner, sink;
  ConnectionEnumerator* e = nullptr;
  ASSERT_EQ(ConnectionEnumerator::CreateEnumerator(&e), S_OK);
  CONNECTDATA local[1] = {{&sink, 1}};
  quibtest::FailAllocation(Allocator::Object, 1);
  EXPECT_EQ(e->InitData(local, local + 1, &owner, CopyMode), E_OUTOFMEMORY);
  quibtest::ClearAllocationFaults();
  EXPECT_EQ(owner.refs, 1u);
  EXPECT_EQ(sink.refs, 1u);
  e->Destroy();
  EXPECT_EQ(sink.refs, 1u);
  EXPECT_EQ(Locks(), 1);
}

TEST_F(ConnectionTest, CreateEnumeratorWithoutMemoryRaisesNoLock) {
  quibtest::FailAllocation(Allocator::Object, 1);
  ConnectionEnumerator* e = reinterpret_cast<ConnectionEnumerator*>(0x1);
  EXPECT_EQ(ConnectionEnumerator::CreateEnumerator(&e), E_OUTOFMEMORY);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(Locks(), 1);
}

}  // namespace
