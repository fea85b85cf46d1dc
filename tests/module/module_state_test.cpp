// ModuleState, class objects, creators and interface tables, with the exact
// lock count visible: the library's objects are linked into this test and its
// entry point is called as the loader would.
#include <gtest/gtest.h>

#include <vector>

#include "automation/contract.h"
#include "module/interface_table.h"
#include "module/module_state.h"
#include "platform/loader.h"
#include "quib_test_support.h"
#include "quibtest/core.h"

extern "C" BOOL DllMain(HINSTANCE, DWORD, void*);
extern "C" HRESULT DllCanUnloadNow();
extern "C" HRESULT DllGetClassObject(REFCLSID, REFIID, void**);

using quibtest::Allocator;
using quibtest::Ref;
using quibtest::RefCountOf;

namespace {

constexpr CLSID kOtherClsid = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};

class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    quibtest::ClearAllocationFaults();
    objectsBefore_ = quibtest::LiveAllocations(Allocator::Object);
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
  }
  void TearDown() override {
    quibtest::ClearAllocationFaults();
    ASSERT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), objectsBefore_) << "objects leaked";
    EXPECT_EQ(quibtest::LiveHeaps(), 0u);
  }
  LONG Locks() const { return g_moduleState.LockCount(); }

  IClassFactory* Factory() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(CLSID_quibVoiceRec, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    return factory;
  }

  std::size_t objectsBefore_ = 0;
};

// An outer object that aggregates a recorder, with a count of its own.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (IsEqualGUID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    if (inner && forwardDispatch && IsEqualGUID(iid, IID_IDispatch)) return inner->QueryInterface(iid, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++count; }
  ULONG Release() override { return --count; }
  ULONG count = 1;
  IUnknown* inner = nullptr;
  bool forwardDispatch = false;
};

}  // namespace

TEST_F(ModuleTest, CanUnloadRightAfterLoadAndWhileOnlyTheCacheHoldsTheFactory) {
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  IClassFactory* factory = Factory();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->Release(), 1u);  // the cache's reference is left
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, ClassObjectIsMadeOnceAndCounted) {
  std::size_t requests = quibtest::AllocationRequests(Allocator::Object);
  IClassFactory* first = Factory();
  EXPECT_EQ(quibtest::AllocationRequests(Allocator::Object), requests + 1);
  EXPECT_EQ(Locks(), 1);
  EXPECT_EQ(RefCountOf(first), 2u);
  IClassFactory* second = Factory();
  EXPECT_EQ(second, first);
  EXPECT_EQ(quibtest::AllocationRequests(Allocator::Object), requests + 1);
  EXPECT_EQ(Locks(), 1);  // only the move from 1 to 2 locks
  EXPECT_EQ(second->Release(), 2u);
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(Locks(), 0);

  IUnknown* unknown = nullptr;
  EXPECT_EQ(DllGetClassObject(CLSID_quibVoiceRec, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(first));
  unknown->Release();
}

TEST_F(ModuleTest, ClassObjectLookupFailures) {
  EXPECT_EQ(DllGetClassObject(CLSID_quibVoiceRec, IID_IClassFactory, nullptr), E_POINTER);

  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(DllGetClassObject(kOtherClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);

  out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(DllGetClassObject(CLSID_quibVoiceRec, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  std::size_t requests = quibtest::AllocationRequests(Allocator::Object);
  IClassFactory* factory = Factory();  // still cached: nothing new is made
  EXPECT_EQ(quibtest::AllocationRequests(Allocator::Object), requests);
  factory->Release();
}

TEST_F(ModuleTest, ClassObjectCreatorOutOfMemoryIsRetriedLater) {
  quibtest::FailAllocation(Allocator::Object, 1);
  void* out = nullptr;
  EXPECT_EQ(DllGetClassObject(CLSID_quibVoiceRec, IID_IClassFactory, &out), E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Locks(), 0);
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  factory->Release();
}

TEST_F(ModuleTest, FactoryAnswersItsTwoInterfacesOnly) {
  Ref<IClassFactory> factory(Factory());
  void* a = nullptr;
  void* b = nullptr;
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, &a), S_OK);
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, &b), S_OK);
  EXPECT_EQ(a, b);
  static_cast<IUnknown*>(a)->Release();
  static_cast<IUnknown*>(b)->Release();
  void* c = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &c), E_NOINTERFACE);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ModuleTest, LockServerIsUncountedAndUnbounded) {
  Ref<IClassFactory> factory(Factory());
  LONG base = Locks();
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(Locks(), base + 1);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  EXPECT_EQ(Locks(), -1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  g_moduleState.Lock();
}

TEST_F(ModuleTest, PlainRecorderFacesShareOneIdentityAndTheLockCount) {
  Ref<IClassFactory> factory(Factory());
  LONG base = Locks();
  Ref<IquibVoiceRec> recorder;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IquibVoiceRec, recorder.put_void()), S_OK);
  EXPECT_EQ(Locks(), base + 1);
  EXPECT_EQ(RefCountOf(recorder.get()), 1u);

  Ref<IDispatch> dispatch;
  Ref<IConnectionPointContainer> container;
  Ref<IUnknown> unknownFromDual, unknownFromContainer;
  ASSERT_EQ(recorder->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  ASSERT_EQ(recorder->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  ASSERT_EQ(recorder->QueryInterface(IID_IUnknown, unknownFromDual.put_void()), S_OK);
  ASSERT_EQ(container->QueryInterface(IID_IUnknown, unknownFromContainer.put_void()), S_OK);
  EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(recorder.get()));
  EXPECT_EQ(static_cast<void*>(unknownFromDual.get()), static_cast<void*>(recorder.get()));
  EXPECT_EQ(unknownFromContainer.get(), unknownFromDual.get());
  EXPECT_NE(static_cast<void*>(container.get()), static_cast<void*>(recorder.get()));
  EXPECT_EQ(RefCountOf(recorder.get()), 5u);

  void* none = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(recorder->QueryInterface(IID_IConnectionPoint, &none), E_NOINTERFACE);  // only through the container
  EXPECT_EQ(none, nullptr);

  dispatch.reset();
  container.reset();
  unknownFromDual.reset();
  unknownFromContainer.reset();
  recorder.reset();
  EXPECT_EQ(Locks(), base);
}

TEST_F(ModuleTest, CreateInstanceFailuresLeaveNothingBehind) {
  Ref<IClassFactory> factory(Factory());
  LONG base = Locks();
  Outer outer;
  struct Case {
    const char* what;
    IUnknown* outer;
    const IID* iid;
    HRESULT expected;
  } cases[] = {
      {"aggregation asking for IDispatch", &outer, &IID_IDispatch, CLASS_E_NOAGGREGATION},
      {"interface the recorder lacks", nullptr, &IID_IClassFactory, E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    void* out = reinterpret_cast<void*>(0x1);
    std::size_t live = quibtest::LiveAllocations(Allocator::Object);
    EXPECT_EQ(factory->CreateInstance(c.outer, *c.iid, &out), c.expected);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Locks(), base);
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live);
  }
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IquibVoiceRec, nullptr), E_POINTER);
  EXPECT_EQ(outer.count, 1u);
}

TEST_F(ModuleTest, EveryCreatorReportsOutOfMemory) {
  Ref<IClassFactory> factory(Factory());
  LONG base = Locks();
  Outer outer;
  for (IUnknown* o : {static_cast<IUnknown*>(nullptr), static_cast<IUnknown*>(&outer)}) {
    SCOPED_TRACE(o ? "aggregated" : "plain");
    quibtest::FailAllocation(Allocator::Object, 1);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(o, IID_IUnknown, &out), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Locks(), base);
  }
}

TEST_F(ModuleTest, AggregatedRecorderCountsOnTheOuterObject) {
  Ref<IClassFactory> factory(Factory());
  LONG base = Locks();
  Outer outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  EXPECT_EQ(Locks(), base + 1);
  EXPECT_EQ(RefCountOf(inner), 1u);
  outer.inner = inner;

  IquibVoiceRec* recorder = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IquibVoiceRec, reinterpret_cast<void**>(&recorder)), S_OK);
  EXPECT_EQ(outer.count, 2u);  // the reference counts on the outer object
  EXPECT_EQ(recorder->AddRef(), 3u);
  EXPECT_EQ(RefCountOf(inner), 1u);
  EXPECT_EQ(recorder->Release(), 2u);

  // Refused by the outer object, answered from the recorder's table.
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(recorder->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  EXPECT_EQ(outer.count, 3u);
  // Asked of a face, IUnknown is the outer object's.
  IUnknown* identity = nullptr;
  ASSERT_EQ(container->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();
  // What the outer object answers goes through the outer object.
  outer.forwardDispatch = true;
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(recorder->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(recorder));
  dispatch->Release();

  container->Release();
  recorder->Release();
  EXPECT_EQ(outer.count, 1u);
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(Locks(), base);
}

TEST_F(ModuleTest, AssignInterfaceWithTheHeldPointerKeepsTheObject) {
  Ref<IClassFactory> factory(Factory());
  IUnknown* recorder = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&recorder)), S_OK);
  IUnknown* slot = recorder;  // the slot owns the creation reference
  EXPECT_EQ(AssignInterface(&slot, recorder), recorder);
  EXPECT_EQ(RefCountOf(recorder), 1u);
  AssignInterface(&slot, nullptr);
  EXPECT_EQ(slot, nullptr);
}

TEST(InterfaceTable, FunctionRowsAndTheIdentityRow) {
  static int calls = 0;
  struct Rows {
    static HRESULT Refuse(void*, REFIID, void**, DWORD word) {
      ++calls;
      return word == 1 ? E_FAIL : S_FALSE;
    }
  };
  // Function rows: a failure from a row without an IID moves on; one with an
  // IID ends the walk. The IUnknown request never walks.
  const InterfaceTableRow table[] = {
      {&IID_IDispatch, 0, kInterfaceTableOffset},
      {nullptr, 1, reinterpret_cast<std::uintptr_t>(&Rows::Refuse)},
      {nullptr, 2, reinterpret_cast<std::uintptr_t>(&Rows::Refuse)},
      {&IID_IClassFactory, 1, reinterpret_cast<std::uintptr_t>(&Rows::Refuse)},
      {nullptr, 0, kInterfaceTableEnd},
  };
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(InterfaceTableQuery(nullptr, table, IID_IConnectionPoint, &out), E_NOINTERFACE);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(InterfaceTableQuery(nullptr, table, IID_IClassFactory, &out), E_FAIL);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(InterfaceTableQuery(nullptr, table, IID_IClassFactory, nullptr), E_POINTER);
}

// Extra heaps per reported system; termination destroys them, then the default heap.
TEST(ModuleHeaps, ExtraHeapsFollowTheReportedSystem) {
  struct Case {
    quibtest::ReportedSystem system;
    std::size_t extra;
  } cases[] = {
      {{3, 3, 0, 1}, 0},  {{3, 3, 0, 2}, 4},  {{3, 3, 0, 3}, 4},  {{3, 3, 0, 4}, 8},
      {{3, 3, 0, 7}, 8},  {{3, 3, 0, 8}, 16}, {{2, 5, 0, 8}, 0},  {{2, 6, 0, 2}, 0},
      {{2, 4, 0, 4}, 8},  {{1, 9, 0, 2}, 4},  {{3, 3, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "platform " << c.system.platformId << " major " << c.system.majorVersion
                                    << " processors " << c.system.processors);
    quibtest::SetReportedSystem(c.system);
    quibtest::ClearHeapEvents();
    ModuleState state{};
    state.Initialise(g_objectMap, nullptr);
    EXPECT_EQ(quibtest::LiveHeaps(), 1 + c.extra);
    EXPECT_EQ(state.extraHeapMask, c.extra ? c.extra - 1 : 0);
    state.Terminate();
    EXPECT_EQ(quibtest::LiveHeaps(), 0u);
    auto events = quibtest::HeapEvents();
    ASSERT_EQ(events.size(), 2 * (1 + c.extra));
    void* defaultHeap = events[0].heap;
    for (std::size_t i = 0; i <= c.extra; ++i) EXPECT_EQ(events[i].kind, quibtest::HeapEvent::Created);
    for (std::size_t i = 0; i < c.extra; ++i) EXPECT_EQ(events[1 + c.extra + i].heap, events[1 + i].heap);
    EXPECT_EQ(events.back().heap, defaultHeap);
    EXPECT_EQ(events.back().kind, quibtest::HeapEvent::Destroyed);
  }
  quibtest::ResetReportedSystem();
}

TEST(ModuleHeaps, MissingHeapsAreSurvived) {
  quibtest::SetReportedSystem({3, 3, 0, 4});
  for (unsigned nth : {1u, 2u, 3u}) {  // the default heap, the array, an extra heap
    SCOPED_TRACE(nth);
    quibtest::FailAllocation(Allocator::PrivateHeap, nth);
    ModuleState state{};
    EXPECT_EQ(state.Initialise(g_objectMap, nullptr), S_OK);
    quibtest::ClearAllocationFaults();
    EXPECT_EQ(state.Terminate(), S_OK);
    EXPECT_EQ(quibtest::LiveHeaps(), 0u);
  }
  quibtest::ResetReportedSystem();
}

TEST(TermCallbacks, RunNewestFirstWithTheirDataAndDuplicatesTwice) {
  static std::vector<TermCallbackData> ran;
  ran.clear();
  ModuleState state{};
  state.Initialise(g_objectMap, nullptr);
  auto record = [](TermCallbackData data) { ran.push_back(data); };
  EXPECT_EQ(state.AddTermCallback(record, 1), S_OK);
  EXPECT_EQ(state.AddTermCallback(record, 2), S_OK);
  EXPECT_EQ(state.AddTermCallback(record, 3), S_OK);
  EXPECT_EQ(state.AddTermCallback(record, 3), S_OK);
  quibtest::FailAllocation(Allocator::Object, 1);
  EXPECT_EQ(state.AddTermCallback(record, 9), E_OUTOFMEMORY);
  quibtest::ClearAllocationFaults();
  std::size_t live = quibtest::LiveAllocations(Allocator::Object);
  state.Terminate();
  EXPECT_EQ(ran, (std::vector<TermCallbackData>{3, 3, 2, 1}));
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), live - 4);
}

TEST(EntryPoint, OtherReasonsDoNothing) {
  for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, 7u}) EXPECT_TRUE(DllMain(nullptr, reason, nullptr));
}
