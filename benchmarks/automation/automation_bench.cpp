// Late-bound calls against their baselines: a direct early-bound call, a bare
// libffi call with its call interface prepared once, the name cache against a
// bare scan of the names, and Invoke with a cached id. Each benchmark reports
// the heap allocations it made per iteration ("allocs").
#include <benchmark/benchmark.h>
#include <ffi.h>

#include <memory>
#include <string>

#include "automation/contract.h"
#include "platform/automation.h"
#include "quib_test_support.h"
#include "quibtest/core.h"
#include "quibtest/registry.h"

namespace {

using quibtest::Allocator;

std::size_t Allocations() {
  std::size_t n = 0;
  for (Allocator a : {Allocator::Object, Allocator::RuntimeHeap, Allocator::PrivateHeap, Allocator::TaskMemory})
    n += quibtest::AllocationRequests(a);
  return n;
}

void ReportAllocations(benchmark::State& state, std::size_t before) {
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(Allocations() - before), benchmark::Counter::kAvgIterations);
}

// Members that do nothing but keep their arguments observable.
struct Target : IquibVoiceRec {
  LONG sum = 0;
  HRESULT QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  __attribute__((noinline)) HRESULT Init(BSTR f, LONG h, LONG s) override {
    sum += h + s + (f ? 1 : 0);
    return S_OK;
  }
  HRESULT get_HWnd(LONG* v) override { *v = sum; return S_OK; }
  HRESULT Record(BSTR) override { return S_OK; }
  HRESULT Play() override { return S_OK; }
  HRESULT Stop() override { return S_OK; }
  HRESULT Save() override { return S_OK; }
  HRESULT Discard() override { return S_OK; }
  HRESULT Show() override { return S_OK; }
  HRESULT Hide() override { return S_OK; }
  __attribute__((noinline)) HRESULT PlayFile(BSTR f) override { sum += f ? 1 : 0; return S_OK; }
  HRESULT get_Active(LONG* v) override { *v = sum; return S_OK; }
};

// The compiled type library, loaded from the library's own file.
ITypeInfo* DualTypeInfo() {
  static ITypeInfo* info = [] {
    ITypeLib* lib = nullptr;
    std::u16string path = quibtest::Wide(QUIB_LIBRARY_PATH);
    if (FAILED(LoadTypeLib(path.c_str(), &lib))) return static_cast<ITypeInfo*>(nullptr);
    ITypeInfo* found = nullptr;
    lib->GetTypeInfoOfGuid(IID_IquibVoiceRec, &found);
    lib->Release();
    return found;
  }();
  return info;
}

// A recorder of the loaded library, its type library registered in a private registry.
IDispatch* Recorder() {
  static quibtest::LoadedLibrary* library = nullptr;
  static IDispatch* recorder = [] {
    quibtest::UseRegistry(":memory:");
    ITypeLib* lib = nullptr;
    std::u16string path = quibtest::Wide(QUIB_LIBRARY_PATH);
    if (FAILED(LoadTypeLib(path.c_str(), &lib))) return static_cast<IDispatch*>(nullptr);
    RegisterTypeLib(lib, path.c_str(), nullptr);
    lib->Release();
    library = new quibtest::LoadedLibrary();
    IClassFactory* factory = nullptr;
    IDispatch* d = nullptr;
    if (library->getClassObject &&
        SUCCEEDED(library->getClassObject(CLSID_quibVoiceRec, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
      factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d));
      factory->Release();
    }
    return d;
  }();
  return recorder;
}

void BM_DirectCall(benchmark::State& state) {
  Target target;
  IquibVoiceRec* face = &target;
  benchmark::DoNotOptimize(face);
  BSTR name = SysAllocString(u"note.wav");
  std::size_t before = Allocations();
  for (auto _ : state) benchmark::DoNotOptimize(face->Init(name, 1, 2));
  ReportAllocations(state, before);
  SysFreeString(name);
}
BENCHMARK(BM_DirectCall);

void BM_BareFfiCall(benchmark::State& state) {
  Target target;
  IquibVoiceRec* face = &target;
  ffi_type* types[] = {&ffi_type_pointer, &ffi_type_pointer, &ffi_type_sint32, &ffi_type_sint32};
  ffi_cif cif;
  ffi_prep_cif(&cif, FFI_DEFAULT_ABI, 4, &ffi_type_sint32, types);
  void* fn = (*reinterpret_cast<void***>(face))[7];
  BSTR name = SysAllocString(u"note.wav");
  LONG h = 1, s = 2;
  void* values[] = {&face, &name, &h, &s};
  ffi_arg rc;
  std::size_t before = Allocations();
  for (auto _ : state) {
    ffi_call(&cif, reinterpret_cast<void (*)()>(fn), &rc, values);
    benchmark::DoNotOptimize(rc);
  }
  ReportAllocations(state, before);
  SysFreeString(name);
}
BENCHMARK(BM_BareFfiCall);

void InvokeInit(benchmark::State& state, const VARIANT& hwnd, const VARIANT& style) {
  ITypeInfo* info = DualTypeInfo();
  if (!info) return state.SkipWithError("no type library");
  Target target;
  VARIANT args[3] = {style, hwnd, {}};
  VariantInit(&args[2]);
  args[2].vt = VT_BSTR;
  args[2].bstrVal = SysAllocString(u"note.wav");
  DISPPARAMS params{args, nullptr, 3, 0};
  std::size_t before = Allocations();
  for (auto _ : state)
    benchmark::DoNotOptimize(info->Invoke(static_cast<IquibVoiceRec*>(&target), 1, DISPATCH_METHOD, &params, nullptr,
                                          nullptr, nullptr));
  ReportAllocations(state, before);
  VariantClear(&args[2]);
}

void BM_InvokeCachedIdIntegers(benchmark::State& state) {
  VARIANT h, s;
  VariantInit(&h);
  VariantInit(&s);
  h.vt = s.vt = VT_I4;
  h.lVal = 1;
  s.lVal = 2;
  InvokeInit(state, h, s);
}
BENCHMARK(BM_InvokeCachedIdIntegers);

void BM_InvokeCachedIdDoublesCoerced(benchmark::State& state) {
  VARIANT h, s;
  VariantInit(&h);
  VariantInit(&s);
  h.vt = s.vt = VT_R8;
  h.dblVal = 1;
  s.dblVal = 2;
  InvokeInit(state, h, s);
}
BENCHMARK(BM_InvokeCachedIdDoublesCoerced);

void BM_InvokeString(benchmark::State& state) {
  ITypeInfo* info = DualTypeInfo();
  if (!info) return state.SkipWithError("no type library");
  Target target;
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = SysAllocString(u"note.wav");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  std::size_t before = Allocations();
  for (auto _ : state)
    benchmark::DoNotOptimize(info->Invoke(static_cast<IquibVoiceRec*>(&target), 10, DISPATCH_METHOD, &params, nullptr,
                                          nullptr, nullptr));
  ReportAllocations(state, before);
  VariantClear(&arg);
}
BENCHMARK(BM_InvokeString);

void BM_InvokePropertyGet(benchmark::State& state) {
  ITypeInfo* info = DualTypeInfo();
  if (!info) return state.SkipWithError("no type library");
  Target target;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  std::size_t before = Allocations();
  for (auto _ : state) {
    info->Invoke(static_cast<IquibVoiceRec*>(&target), 11, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result,
                 nullptr, nullptr);
    benchmark::DoNotOptimize(result.lVal);
  }
  ReportAllocations(state, before);
}
BENCHMARK(BM_InvokePropertyGet);

// The recorder's own face: holder, type information, then the member.
void BM_RecorderInvokePropertyGet(benchmark::State& state) {
  IDispatch* recorder = Recorder();
  if (!recorder) return state.SkipWithError("no recorder");
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  std::size_t before = Allocations();
  for (auto _ : state) {
    recorder->Invoke(11, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    benchmark::DoNotOptimize(result.lVal);
  }
  ReportAllocations(state, before);
}
BENCHMARK(BM_RecorderInvokePropertyGet);

void Lookup(benchmark::State& state, const char16_t* name) {
  IDispatch* recorder = Recorder();
  if (!recorder) return state.SkipWithError("no recorder");
  std::u16string copy = name;
  LPOLESTR names[] = {copy.data()};
  DISPID id = 0;
  recorder->GetIDsOfNames(IID_NULL, names, 1, 0, &id);  // loads the type information
  std::size_t before = Allocations();
  for (auto _ : state) {
    recorder->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    benchmark::DoNotOptimize(id);
  }
  ReportAllocations(state, before);
}
void BM_GetIDsOfNamesCacheHit(benchmark::State& state) { Lookup(state, u"Init"); }
BENCHMARK(BM_GetIDsOfNamesCacheHit);
void BM_GetIDsOfNamesCacheMiss(benchmark::State& state) { Lookup(state, u"init"); }
BENCHMARK(BM_GetIDsOfNamesCacheMiss);

// The baseline of a hit: the same scan from the last name down, over plain arrays.
void BM_BareNameScan(benchmark::State& state) {
  static const char16_t* const kNames[] = {u"Init", u"hwnd", u"Record", u"Play", u"Stop", u"Save",
                                           u"Discard", u"Show", u"Hide", u"PlayFile", u"Active"};
  LONG lengths[11];
  for (int i = 0; i < 11; ++i) lengths[i] = static_cast<LONG>(std::char_traits<char16_t>::length(kNames[i]));
  std::u16string wanted = u"Init";
  const char16_t* name = wanted.c_str();
  benchmark::DoNotOptimize(name);
  for (auto _ : state) {
    LONG n = 0;
    while (name[n]) ++n;
    int found = -1;
    for (int i = 10; i >= 0; --i)
      if (lengths[i] == n && std::memcmp(kNames[i], name, sizeof(char16_t) * static_cast<std::size_t>(n)) == 0) {
        found = i;
        break;
      }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_BareNameScan);

}  // namespace

BENCHMARK_MAIN();
