// SinkList: both forms, slot reuse, doubling growth, cookies, allocation
// failures and the release of what is left.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <array>
#include <new>

#include "events/sink_list.h"
#include "quibtest/core.h"
#include "test_sink.h"

using quibtest::Allocator;
using quibtest::TestSink;

namespace {

class SinkListTest : public testing::Test {
 protected:
  void SetUp() override {
    quibtest::ClearAllocationFaults();
    heapBefore_ = quibtest::LiveAllocations(Allocator::RuntimeHeap);
  }
  void TearDown() override {
    quibtest::ClearAllocationFaults();
    if (!released_) list_.ReleaseAllSinks();
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::RuntimeHeap), heapBefore_) << "slot array leaked";
  }

  // Adds a sink with a reference of its own, as Advise hands it over.
  DWORD Add(TestSink& sink) {
    sink.AddRef();
    DWORD cookie = list_.AddSink(&sink);
    if (!cookie) sink.Release();
    return cookie;
  }
  bool Remove(DWORD cookie) {
    IUnknown* removed = nullptr;
    bool found = list_.RemoveSink(cookie, &removed);
    if (found) removed->Release();
    return found;
  }
  std::vector<IUnknown*> Slots() {
    std::vector<IUnknown*> slots;
    for (IUnknown** p = list_.SlotBegin(); p != list_.SlotEnd(); ++p) slots.push_back(*p);
    return slots;
  }
  void ReleaseAll() {
    list_.ReleaseAllSinks();
    released_ = true;
  }

  SinkList list_{};
  bool released_ = false;
  std::size_t heapBefore_ = 0;
};

TEST_F(SinkListTest, OneSinkIsHeldInlineWithoutHeapMemory) {
  TestSink a;
  std::size_t requests = quibtest::AllocationRequests(Allocator::RuntimeHeap);
  DWORD cookie = Add(a);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(list_.capacity, 1);
  EXPECT_EQ(list_.single, &a);
  EXPECT_EQ(list_.SinkAt(0), &a);
  EXPECT_EQ(list_.CookieAt(0), cookie);
  EXPECT_EQ(Slots(), std::vector<IUnknown*>{&a});

  EXPECT_TRUE(Remove(cookie));
  EXPECT_EQ(list_.capacity, 0);
  EXPECT_TRUE(Slots().empty());
  EXPECT_EQ(list_.SinkAt(0), nullptr);

  EXPECT_NE(Add(a), 0u);
  EXPECT_EQ(list_.capacity, 1);
  EXPECT_EQ(quibtest::AllocationRequests(Allocator::RuntimeHeap), requests);
  EXPECT_EQ(a.refs, 2u);
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, TheSecondSinkMakesAFourSlotArray) {
  TestSink a, b;
  Add(a);
  Add(b);
  EXPECT_EQ(list_.capacity, 4);
  EXPECT_EQ(Slots(), (std::vector<IUnknown*>{&a, &b, nullptr, nullptr}));
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, AFullArrayDoublesAndTheNewHalfIsEmpty) {
  std::array<TestSink, 9> s;
  for (int i = 0; i < 5; ++i) Add(s[i]);
  EXPECT_EQ(list_.capacity, 8);
  EXPECT_EQ(list_.SinkAt(4), &s[4]);
  for (int i = 5; i < 8; ++i) EXPECT_EQ(list_.SinkAt(i), nullptr) << i;
  for (int i = 5; i < 9; ++i) Add(s[i]);
  EXPECT_EQ(list_.capacity, 16);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(list_.SinkAt(i), &s[i]) << i;
  // Every cookie still names its own sink after the array moved.
  for (int i = 0; i < 9; ++i) {
    DWORD cookie = list_.CookieAt(i);
    EXPECT_TRUE(Remove(cookie)) << i;
    EXPECT_EQ(list_.SinkAt(i), nullptr) << i;
  }
  for (auto& sink : s) EXPECT_EQ(sink.refs, 1u);
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, ANewSinkFillsTheLowestEmptySlot) {
  TestSink s1, s2, s3, s4;
  DWORD c1 = Add(s1);
  Add(s2);
  Add(s3);
  EXPECT_TRUE(Remove(c1));
  Add(s4);
  EXPECT_EQ(Slots(), (std::vector<IUnknown*>{&s4, &s2, &s3, nullptr}));
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, RemovingEverySinkKeepsTheArrayAndItsSize) {
  TestSink a, b, c;
  DWORD cookies[] = {Add(a), Add(b), Add(c)};
  for (DWORD cookie : cookies) EXPECT_TRUE(Remove(cookie));
  EXPECT_EQ(list_.capacity, 4);
  for (LONG i = -1; i <= 4; ++i) EXPECT_EQ(list_.SinkAt(i), nullptr) << i;
  EXPECT_EQ(Slots(), (std::vector<IUnknown*>(4, nullptr)));
  // The array form stays: the next sink goes into slot 0 of the same array.
  Add(b);
  EXPECT_EQ(list_.capacity, 4);
  EXPECT_EQ(list_.SinkAt(0), &b);
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, TheSameSinkTwiceHasOneCookieInBothSlots) {
  TestSink a, b;
  DWORD first = Add(a);
  DWORD bCookie = Add(b);
  DWORD second = Add(a);
  EXPECT_EQ(first, second);
  EXPECT_NE(first, bCookie);
  EXPECT_EQ(Slots(), (std::vector<IUnknown*>{&a, &b, &a, nullptr}));
  EXPECT_TRUE(Remove(first));
  EXPECT_EQ(Slots(), (std::vector<IUnknown*>{nullptr, &b, &a, nullptr}));
  EXPECT_TRUE(Remove(first));
  EXPECT_EQ(Slots(), (std::vector<IUnknown*>{nullptr, &b, nullptr, nullptr}));
  EXPECT_FALSE(Remove(first));
  EXPECT_EQ(a.refs, 1u);
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, CookiesThatNoSlotHoldsAreRefused) {
  TestSink a, b;
  DWORD ca = Add(a);
  struct Case {
    const char* name;
    DWORD cookie;
  } cases[] = {{"zero", 0}, {"another sink's", static_cast<DWORD>(ca + 1)}, {"all bits", 0xFFFFFFFFu}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Remove(c.cookie));
    EXPECT_EQ(list_.SinkAt(0), &a);
  }
  Add(b);
  EXPECT_TRUE(Remove(ca));
  EXPECT_FALSE(Remove(0)) << "empty slots do not match cookie 0";
  EXPECT_FALSE(Remove(ca)) << "already removed";
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, SinkAtOutsideTheCapacityGivesNone) {
  TestSink a;
  EXPECT_EQ(list_.SinkAt(0), nullptr);
  Add(a);
  EXPECT_EQ(list_.SinkAt(-1), nullptr);
  EXPECT_EQ(list_.SinkAt(1), nullptr);
  EXPECT_EQ(list_.CookieAt(1), 0u);
  ReleaseAll();  // while the sinks still live
}

TEST_F(SinkListTest, AFailedAllocationLeavesTheListAsItWas) {
  struct Case {
    const char* name;
    int before;  // sinks already stored
  } cases[] = {{"first array", 1}, {"growth", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SinkList list{};
    std::array<TestSink, 5> s;
    for (int i = 0; i < c.before; ++i) {
      s[i].AddRef();
      ASSERT_NE(list.AddSink(&s[i]), 0u);
    }
    LONG capacity = list.capacity;
    IUnknown** array = capacity > 1 ? list.slots : nullptr;
    quibtest::FailAllocation(Allocator::RuntimeHeap, 1);
    EXPECT_EQ(list.AddSink(&s[4]), 0u);
    EXPECT_EQ(list.capacity, capacity);
    if (array) {
      EXPECT_EQ(list.slots, array);
    }
    for (int i = 0; i < c.before; ++i) EXPECT_EQ(list.SinkAt(i), &s[i]);
    quibtest::ClearAllocationFaults();
    list.ReleaseAllSinks();
    for (auto& sink : s) EXPECT_EQ(sink.refs, 1u);
  }
  ReleaseAll();  // while the sinks still live
}

TEST(SinkListGrowth, DoublingStopsWhereTheCountOrTheAddressSpaceEnds) {
  struct Case {
    LONG current;
    LONG expected;
  } cases[] = {
      {4, 8},
      {1 << 20, 1 << 21},
      {1 << 29, sizeof(void*) > 4 ? (1 << 30) : 0},  // 2^30 slots do not fit a 32-bit address space
      {1 << 30, 0},                                  // 2^31 does not fit the 32-bit signed count
      {0x7FFFFFFF, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.current);
    EXPECT_EQ(SinkList::DoubledCapacity(c.current), c.expected);
  }
}

TEST_F(SinkListTest, ReleaseAllSinksReleasesEachHeldSinkOnceInSlotOrder) {
  std::vector<int> order;
  TestSink s[3];
  for (int i = 0; i < 3; ++i) {
    s[i].id = i;
    s[i].released = &order;
  }
  DWORD c0 = Add(s[0]);
  Add(s[1]);
  Add(s[2]);
  Remove(c0);
  order.clear();
  std::size_t frees = quibtest::LiveAllocations(Allocator::RuntimeHeap);
  ReleaseAll();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::RuntimeHeap), frees - 1);
  for (auto& sink : s) EXPECT_EQ(sink.refs, 1u);
}

TEST_F(SinkListTest, ReleaseAllSinksOnTheSmallFormsFreesNothing) {
  ReleaseAll();  // empty
  SinkList single{};
  TestSink a;
  a.AddRef();
  single.AddSink(&a);
  std::size_t live = quibtest::LiveAllocations(Allocator::RuntimeHeap);
  single.ReleaseAllSinks();
  EXPECT_EQ(a.refs, 1u);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::RuntimeHeap), live);
}

#if QUIB_SINKLIST_KEPT_COOKIES
// Two sinks whose pointers share their low 32 bits still get distinct
// cookies, and each cookie removes its own sink.
TEST_F(SinkListTest, SinksWhosePointersShareTheLowHalfGetDistinctCookies) {
  constexpr std::uintptr_t kLow = 0x12340000u;
  void* pages[2] = {};
  for (int i = 0; i < 2; ++i) {
    auto address = reinterpret_cast<void*>((std::uintptr_t{0x6A00} + i) << 32 | kLow);
    void* page = mmap(address, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (page != address) {
      if (page != MAP_FAILED) munmap(page, 4096);
      for (void* p : pages)
        if (p) munmap(p, 4096);
      GTEST_SKIP() << "no pages at the chosen addresses";
    }
    pages[i] = page;
  }
  {
    auto* low = new (pages[0]) TestSink;
    auto* high = new (pages[1]) TestSink;
    TestSink other;
    DWORD cl = Add(*low);
    DWORD ch = Add(*high);
    DWORD cl2 = Add(*low);
    DWORD co = Add(other);
    EXPECT_EQ(cl, static_cast<DWORD>(kLow));
    EXPECT_NE(ch, cl);
    EXPECT_NE(ch, 0u);
    EXPECT_EQ(cl2, cl);
    EXPECT_NE(co, cl);
    EXPECT_NE(co, ch);
    EXPECT_TRUE(Remove(ch));
    EXPECT_EQ(Slots(), (std::vector<IUnknown*>{low, nullptr, low, &other}));
    EXPECT_TRUE(Remove(cl));
    EXPECT_TRUE(Remove(cl));
    EXPECT_FALSE(Remove(ch));
    EXPECT_TRUE(Remove(co));
    EXPECT_EQ(low->refs, 1u);
    EXPECT_EQ(high->refs, 1u);
    ReleaseAll();
    low->~TestSink();
    high->~TestSink();
  }
  for (void* p : pages) munmap(p, 4096);
}
#else
TEST_F(SinkListTest, TheCookieIsTheSinkPointer) {
  TestSink a, b;
  EXPECT_EQ(Add(a), static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(static_cast<IUnknown*>(&a))));
  EXPECT_EQ(Add(b), static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(static_cast<IUnknown*>(&b))));
  EXPECT_EQ(sizeof(SinkList), 8u);
  ReleaseAll();  // while the sinks still live
}
#endif

}  // namespace
