// The registry with trees of 1,000 and 10,000 keys, in memory and in a file:
// create each key with a value, enumerate and read them all, then delete the
// tree as the registration code does (index 0 again and again). The counter
// "per_key" is the time per key; it should stay flat as the tree grows.
//
// The file lies in QUIB_BENCH_DIR, else in /dev/shm when there is one: every
// change is synced before it returns, and on a disk that sync (a constant cost
// per change, about a millisecond) would drown what grows with the tree.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/registry.h"
#include "quibtest/registry.h"

namespace {

constexpr int kChildren = 100;  // keys per group; the number of groups grows with the tree

std::u16string Number(int n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

void Create(int keys) {
  HKEY root = 0;
  RegCreateKeyExW(HKEY_CURRENT_USER, u"Bench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
  for (int i = 0; i < keys; ++i) {
    std::u16string path = u"G" + Number(i / kChildren) + u"\\K" + Number(i);
    HKEY key = 0;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) std::abort();
    DWORD value = static_cast<DWORD>(i);
    if (RegSetValueExW(key, u"n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) != 0)
      std::abort();
    RegCloseKey(key);
  }
  RegCloseKey(root);
}

int Enumerate(HKEY key, bool readValues) {
  int seen = 0;
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
    HKEY child = 0;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != 0) std::abort();
    if (readValues) {
      DWORD value = 0, size = sizeof value;
      if (RegQueryValueExW(child, u"n", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != 0) std::abort();
      ++seen;
    } else {
      seen += Enumerate(child, true);
    }
    RegCloseKey(child);
  }
  return seen;
}

// Deletes key's subtree the way the registration code does.
void DeleteTree(HKEY parent, const char16_t* name) {
  HKEY key = 0;
  if (RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key) != 0) return;
  for (;;) {
    char16_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
    DeleteTree(key, child);
  }
  RegCloseKey(key);
  RegDeleteKeyW(parent, name);
}

void RegistryTree(benchmark::State& state, bool inFile) {
  const int keys = static_cast<int>(state.range(0));
  std::string dir;
  if (inFile) {
    const char* base = std::getenv("QUIB_BENCH_DIR");
    if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/quibregbench.XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    dir = pattern;
    quibtest::UseRegistry(dir + "/registry.db");
  } else {
    quibtest::UseRegistry(":memory:");
  }
  for (auto _ : state) {
    Create(keys);
    HKEY root = 0;
    RegOpenKeyExW(HKEY_CURRENT_USER, u"Bench", 0, KEY_READ, &root);
    if (Enumerate(root, false) != keys) std::abort();
    RegCloseKey(root);
    DeleteTree(HKEY_CURRENT_USER, u"Bench");
  }
  state.counters["per_key"] =
      benchmark::Counter(static_cast<double>(keys), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
  quibtest::UseRegistry(":memory:");
  if (inFile) std::system(("rm -rf '" + dir + "'").c_str());
}

void InMemory(benchmark::State& state) { RegistryTree(state, false); }
void InFile(benchmark::State& state) { RegistryTree(state, true); }

BENCHMARK(InMemory)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(InFile)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
