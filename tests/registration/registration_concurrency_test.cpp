// Registration from several threads: a replacement map shared between
// threads, and whole registrations running side by side.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "quib_test_support.h"
#include "registration/script_runner.h"
#include "registry_snapshot.h"

namespace {

TEST(ReplacementMapThreads, AddsAndLookupsFromSeveralThreadsLoseNothing) {
  ReplacementMap map;
  constexpr int kThreads = 4, kPerThread = 200;
  std::atomic<int> misses{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::u16string name = quibtest::Wide("t" + std::to_string(t) + "n" + std::to_string(i));
        if (map.Add(name.c_str(), name.c_str()) != S_OK) ++misses;
        LPCWSTR found = map.Find(name.c_str());
        if (!found || std::u16string(found) != name) ++misses;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(misses.load(), 0);
  EXPECT_EQ(map.Count(), kThreads * kPerThread);
}

class ConcurrentRegistration : public quibtest::InMemoryRegistry {};

TEST_F(ConcurrentRegistration, RegistrationsSideBySideLeaveOneTable) {
  quibtest::LoadedLibrary library;
  ASSERT_NE(library.module, nullptr);
  auto registerServer = library.Proc<HRESULT()>(u"DllRegisterServer");
  ASSERT_NE(registerServer, nullptr);
  ASSERT_EQ(registerServer(), S_OK);
  const quibtest::RegistryLines once = quibtest::Snapshot(HKEY_CLASSES_ROOT);

  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) registerServer();
    });
  for (std::thread& thread : threads) thread.join();
  // Runs may interleave, and one may fail on a key that another deletes
  // beneath it (and undo its section); a run after them all leaves the table.
  ASSERT_EQ(registerServer(), S_OK);
  EXPECT_EQ(quibtest::Snapshot(HKEY_CLASSES_ROOT), once);
}

}  // namespace
