// Registration: the class registered and unregistered through the exports,
// against the in-memory and the file registry; and generated scripts of
// growing size, whose cost per key should stay flat.
#include <benchmark/benchmark.h>
#include <quibtest/registry.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "quib_test_support.h"
#include "registration/script_runner.h"

namespace {

quibtest::LoadedLibrary& Library() {
  static quibtest::LoadedLibrary library;
  return library;
}

// A registry file in a directory of its own, removed when done.
class TemporaryRegistry {
 public:
  TemporaryRegistry() {
    char directory[] = "/tmp/quib-registration-bench-XXXXXX";
    if (mkdtemp(directory)) directory_ = directory;
    file_ = directory_ + "/registry.db";
  }
  ~TemporaryRegistry() {
    quibtest::UseRegistry(":memory:");
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::remove((file_ + suffix).c_str());
    rmdir(directory_.c_str());
  }
  const std::string& File() const { return file_; }

 private:
  std::string directory_, file_;
};

// range(0): 0 for the in-memory registry, 1 for the file registry.
void RegisterAndUnregisterTheClass(benchmark::State& state) {
  auto registerServer = Library().Proc<HRESULT()>(u"DllRegisterServer");
  auto unregisterServer = Library().Proc<HRESULT()>(u"DllUnregisterServer");
  if (!registerServer || !unregisterServer) {
    state.SkipWithError("the library's registration exports are missing");
    return;
  }
  TemporaryRegistry file;
  quibtest::UseRegistry(state.range(0) == 0 ? ":memory:" : file.File());
  for (auto _ : state) {
    if (FAILED(registerServer())) {
      state.SkipWithError("DllRegisterServer failed");
      break;
    }
    unregisterServer();
  }
  state.SetLabel(state.range(0) == 0 ? "in-memory registry" : "file registry");
}
BENCHMARK(RegisterAndUnregisterTheClass)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One root section with n key statements, each with a default value and a
// nested block holding a number value.
std::u16string GeneratedScript(int keys) {
  std::u16string text = u"HKCU\r\n{\r\n";
  for (int i = 0; i < keys; ++i) {
    std::u16string n = quibtest::Wide(std::to_string(i));
    text += u"\tKey" + n + u" = s 'value " + n + u"'\r\n\t{\r\n\t\tval Number = d " + n + u"\r\n\t}\r\n";
  }
  return text + u"}\r\n";
}

// range(0): number of keys; range(1): 1 to register, 0 to unregister what a
// registration (untimed) wrote.
void GeneratedScriptRun(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  const bool registering = state.range(1) == 1;
  const std::u16string script = GeneratedScript(keys);
  for (auto _ : state) {
    state.PauseTiming();
    quibtest::UseRegistry(":memory:");
    ReplacementMap map;
    RegistryScriptParser parser{nullptr, &map};
    if (!registering && FAILED(RunScript(parser, script.c_str(), TRUE))) {
      state.SkipWithError("registration failed");
      break;
    }
    state.ResumeTiming();
    if (FAILED(RunScript(parser, script.c_str(), registering ? TRUE : FALSE))) {
      state.SkipWithError("script run failed");
      break;
    }
  }
  state.SetComplexityN(keys);
  state.counters["per_key"] =
      benchmark::Counter(static_cast<double>(keys), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
  state.SetLabel(registering ? "register" : "unregister");
}
BENCHMARK(GeneratedScriptRun)
    ->ArgsProduct({{100, 1000, 10000}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
