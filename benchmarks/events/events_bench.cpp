// OnMessage firing to 1, 10 and 1000 sinks, beside one direct Invoke on one
// sink. Per-sink figures are in the counters: `per_sink` is the firing's time
// divided by its sinks; `requests` counts heap requests per firing, of every
// allocator (the argument array is the only one expected).
//
// Two sinks: a thin one, whose handler only sums its arguments, and one whose
// handler formats the event into a line of text, as a logging handler would.
// The firing's own cost per sink is the same for both; how it compares with
// one Invoke depends on what the Invoke does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "automation/contract.h"
#include "module/module_state.h"
#include "platform/automation.h"
#include "platform/loader.h"
#include "quibtest/core.h"
#include "recorder/event_firing.h"
#include "recorder/recorder.h"

extern "C" BOOL DllMain(HINSTANCE, DWORD, void*);

namespace {

using quibtest::Allocator;

enum class Handler { Sum, Format };

// A sink that handles OnMessage as an event handler would: checks the call,
// reads its three arguments by type and hands them to its handler.
template <Handler kHandler>
class BenchSink final : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = this;
    ++refs_;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT* argError) override {
    if (member != 1) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != 3) return DISP_E_BADPARAMCOUNT;
    LONG values[3];
    for (UINT i = 0; i < 3; ++i) {
      const VARIANTARG& arg = params->rgvarg[2 - i];
      if (arg.vt != VT_I4 && arg.vt != VT_INT) {
        if (argError) *argError = 2 - i;
        return DISP_E_TYPEMISMATCH;
      }
      values[i] = arg.lVal;
    }
    handler_(this, values[0], values[1], values[2]);
    if (result) VariantInit(result);
    return S_OK;
  }

  LONG last_ = 0;

 private:
  static void OnMessage(BenchSink* self, LONG message, LONG wParam, LONG lParam) {
    if constexpr (kHandler == Handler::Sum) {
      self->last_ += message ^ wParam ^ lParam;
    } else {
      self->last_ += std::snprintf(self->line_, sizeof self->line_, "OnMessage(%ld, %ld, 0x%08lx)",
                                   static_cast<long>(message), static_cast<long>(wParam),
                                   static_cast<unsigned long>(static_cast<DWORD>(lParam)));
    }
  }
  char line_[64];
  void (*handler_)(BenchSink*, LONG, LONG, LONG) = &OnMessage;
  ULONG refs_ = 1;
};

std::size_t Requests() {
  return quibtest::AllocationRequests(Allocator::Object) + quibtest::AllocationRequests(Allocator::RuntimeHeap) +
         quibtest::AllocationRequests(Allocator::PrivateHeap) + quibtest::AllocationRequests(Allocator::TaskMemory);
}

struct Module {
  Module() { DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); }
};

template <Handler kHandler>
void DirectInvoke(benchmark::State& state) {
  static Module module;
  auto sink = std::make_unique<BenchSink<kHandler>>();
  VARIANTARG args[3];
  for (auto& a : args) a.vt = VT_I4;
  args[0].lVal = 300;
  args[1].lVal = 200;
  args[2].lVal = 78;
  DISPPARAMS params{args, nullptr, 3, 0};
  VARIANT result;
  result.vt = VT_EMPTY;
  IDispatch* target = sink.get();
  benchmark::DoNotOptimize(target);
  for (auto _ : state) {
    target->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(sink->last_);
}
BENCHMARK(DirectInvoke<Handler::Sum>);
BENCHMARK(DirectInvoke<Handler::Format>);

template <Handler kHandler>
void Firing(benchmark::State& state) {
  static Module module;
  const int count = static_cast<int>(state.range(0));
  IquibVoiceRec* dual = nullptr;
  CreateRecorderInstance(nullptr, IID_IquibVoiceRec, reinterpret_cast<void**>(&dual));
  Recorder* recorder = Recorder::FromDual(dual);
  IConnectionPointContainer* container = nullptr;
  dual->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  IConnectionPoint* point = nullptr;
  container->FindConnectionPoint(DIID__IquibVoiceRecEvents, &point);
  // Separate objects, as separately made sinks are.
  std::vector<std::unique_ptr<BenchSink<kHandler>>> sinks;
  for (int i = 0; i < count; ++i) {
    sinks.push_back(std::make_unique<BenchSink<kHandler>>());
    DWORD cookie = 0;
    point->Advise(sinks.back().get(), &cookie);
  }
  std::size_t before = Requests();
  for (auto _ : state) {
    FireOnMessage(recorder, 78, 200, 300);
    benchmark::ClobberMemory();
  }
  double firings = static_cast<double>(state.iterations());
  state.counters["requests"] = static_cast<double>(Requests() - before) / firings;
  state.counters["per_sink"] =
      benchmark::Counter(firings * count, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  point->Release();
  container->Release();
  dual->Release();  // releases the sinks
}
BENCHMARK(Firing<Handler::Sum>)->Arg(1)->Arg(10)->Arg(1000);
BENCHMARK(Firing<Handler::Format>)->Arg(1)->Arg(10)->Arg(1000);

}  // namespace
BENCHMARK_MAIN();
