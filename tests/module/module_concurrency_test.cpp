// Many threads ask for the class object at once: exactly one ClassFactory is made.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "automation/contract.h"
#include "quib_test_support.h"
#include "quibtest/core.h"

TEST(ModuleConcurrency, OneClassFactoryForManyThreads) {
  for (int round = 0; round < 20; ++round) {
    quibtest::LoadedLibrary library;
    ASSERT_NE(library.module, nullptr);
    std::size_t requests = quibtest::AllocationRequests(quibtest::Allocator::Object);
    constexpr int kThreads = 8;
    std::vector<IClassFactory*> factories(kThreads, nullptr);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) {
        }
        library.getClassObject(CLSID_quibVoiceRec, IID_IClassFactory, reinterpret_cast<void**>(&factories[t]));
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(quibtest::AllocationRequests(quibtest::Allocator::Object), requests + 1);
    for (IClassFactory* f : factories) {
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f, factories[0]);
    }
    EXPECT_EQ(library.canUnloadNow(), S_FALSE);
    std::vector<std::thread> releasers;
    for (IClassFactory* f : factories) releasers.emplace_back([f] { f->Release(); });
    for (auto& t : releasers) t.join();
    EXPECT_EQ(library.canUnloadNow(), S_OK);
  }
}
