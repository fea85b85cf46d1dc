// Class-object lookup and recorder creation/release, beside a bare allocation
// of the same size.
#include <benchmark/benchmark.h>

#include "automation/contract.h"
#include "platform/heaps.h"
#include "quib_test_support.h"
#include "recorder/recorder.h"

namespace {

quibtest::LoadedLibrary& Library() {
  static quibtest::LoadedLibrary library;
  return library;
}

void ClassObjectLookup(benchmark::State& state) {
  auto& library = Library();
  for (auto _ : state) {
    IClassFactory* factory = nullptr;
    library.getClassObject(CLSID_quibVoiceRec, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    factory->Release();
  }
}
BENCHMARK(ClassObjectLookup);

void CreateAndReleaseRecorder(benchmark::State& state) {
  auto& library = Library();
  IClassFactory* factory = nullptr;
  library.getClassObject(CLSID_quibVoiceRec, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  for (auto _ : state) {
    IUnknown* recorder = nullptr;
    factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&recorder));
    recorder->Release();
  }
  factory->Release();
}
BENCHMARK(CreateAndReleaseRecorder);

void BareAllocationOfARecorder(benchmark::State& state) {
  for (auto _ : state) {
    void* p = ObjectAlloc(sizeof(Recorder));
    benchmark::DoNotOptimize(p);
    ObjectFree(p);
  }
}
BENCHMARK(BareAllocationOfARecorder);

}  // namespace

BENCHMARK_MAIN();
