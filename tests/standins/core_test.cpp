// The core stand-in: allocation faults, private heaps, critical sections,
// system information, module file names.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/heaps.h"
#include "platform/loader.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"
#include "quibtest/core.h"

using quibtest::Allocator;

TEST(Allocators, FaultCountdownFailsTheNthRequestOnceOrPersistently) {
  struct Case {
    unsigned nth;
    bool persistent;
    std::vector<bool> expectOk;
  } cases[] = {
      {1, false, {false, true, true}},
      {2, false, {true, false, true}},
      {2, true, {true, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "nth " << c.nth << " persistent " << c.persistent);
    quibtest::FailAllocation(Allocator::Object, c.nth, c.persistent);
    std::vector<void*> blocks;
    for (bool ok : c.expectOk) {
      void* p = ObjectAlloc(16);
      EXPECT_EQ(p != nullptr, ok);
      if (!p) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
      }
      blocks.push_back(p);
    }
    quibtest::ClearAllocationFaults();
    for (void* p : blocks) ObjectFree(p);
  }
}

TEST(Allocators, LiveCountsFollowEachAllocator) {
  std::size_t before = quibtest::LiveAllocations(Allocator::RuntimeHeap);
  void* p = RtHeapAlloc(8);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::RuntimeHeap), before + 1);
  quibtest::FailAllocation(Allocator::RuntimeHeap, 1);
  EXPECT_EQ(RtHeapRealloc(p, 64), nullptr);  // the old block stays valid
  p = RtHeapRealloc(p, 64);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::RuntimeHeap), before + 1);
  RtHeapFree(p);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::RuntimeHeap), before);

  void* t = CoTaskMemAlloc(4);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::TaskMemory), 1u);
  CoTaskMemFree(t);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::TaskMemory), 0u);
}

TEST(PrivateHeaps, DestroyFreesEveryBlockAndIsLogged) {
  quibtest::ClearHeapEvents();
  HANDLE heap = HeapCreate(0, 0, 0);
  ASSERT_NE(heap, nullptr);
  EXPECT_NE(HeapAlloc(heap, 0, 10), nullptr);
  EXPECT_NE(HeapAlloc(heap, 0, 20), nullptr);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::PrivateHeap), 2u);
  EXPECT_TRUE(HeapDestroy(heap));
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::PrivateHeap), 0u);
  EXPECT_FALSE(HeapDestroy(heap));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  auto events = quibtest::HeapEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, quibtest::HeapEvent::Created);
  EXPECT_EQ(events[1].kind, quibtest::HeapEvent::Destroyed);

  quibtest::FailAllocation(Allocator::PrivateHeap, 1);
  EXPECT_EQ(HeapCreate(0, 0, 0), nullptr);
  EXPECT_EQ(quibtest::LiveHeaps(), 0u);
}

TEST(CriticalSections, AreReentrantAndExclusive) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);  // the same thread enters again
  LeaveCriticalSection(&section);
  LeaveCriticalSection(&section);

  LONG counter = 0;
  long plain = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        InterlockedIncrement(&counter);
        EnterCriticalSection(&section);
        ++plain;
        LeaveCriticalSection(&section);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 4000);
  EXPECT_EQ(plain, 4000);
  EXPECT_EQ(InterlockedDecrement(&counter), 3999);
  DeleteCriticalSection(&section);
}

TEST(SystemInformation, ReportsDefaultsAndOverrides) {
  OSVERSIONINFOW version{};
  EXPECT_FALSE(GetVersionExW(&version));  // the size word must be set
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExW(&version));
  EXPECT_EQ(version.dwMajorVersion, 3u);
  EXPECT_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_CE);
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  EXPECT_EQ(system.dwNumberOfProcessors, std::thread::hardware_concurrency());

  quibtest::SetReportedSystem({VER_PLATFORM_WIN32_NT, 5, 1, 8});
  ASSERT_TRUE(GetVersionExW(&version));
  GetSystemInfo(&system);
  EXPECT_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(version.dwMajorVersion, 5u);
  EXPECT_EQ(system.dwNumberOfProcessors, 8u);
  quibtest::ResetReportedSystem();
}

TEST(Loader, RefusesMissingAndInvalidLibraries) {
  EXPECT_EQ(LoadLibraryW(u"/nonexistent/lib.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryW(u"/etc/hostname"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&errno)));
}

TEST(Loader, ModuleFileNameNeverWritesPastItsBuffer) {
  WCHAR full[512];
  DWORD n = GetModuleFileNameW(nullptr, full, 512);
  ASSERT_GT(n, 1u);
  ASSERT_LT(n, 512u);
  EXPECT_EQ(full[0], u'/');

  WCHAR small[6];
  std::memset(small, 0x55, sizeof small);
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(small[3], 0);
  EXPECT_EQ(small[4], 0x5555);  // untouched past the capacity
  EXPECT_EQ(0, std::memcmp(small, full, 3 * sizeof(WCHAR)));
}
