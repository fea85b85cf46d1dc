// Script resources: loaded from a library file as data, cut at their first
// NUL, widened, and run with the "Module" replacement and extra ones.
#include <gtest/gtest.h>
#include <quibtest/core.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "module/module_state.h"
#include "platform/errors.h"
#include "platform/loader.h"
#include "quib_test_support.h"
#include "registration/script_runner.h"
#include "registry_snapshot.h"

namespace {

using quibtest::RegistryLines;
using quibtest::Snapshot;

class ScriptResources : public quibtest::InMemoryRegistry {
 protected:
  HRESULT Run(WORD id, int registerEntries, const std::u16string& path = quibtest::Wide(QUIB_FIXTURE_PATH),
              LPCWSTR type = u"REGISTRY") {
    ReplacementMap map;
    return RunScriptResource(map, path.c_str(), id, type, registerEntries);
  }
};

TEST_F(ScriptResources, TheTextEndsAtTheFirstNul) {
  ASSERT_EQ(Run(201, 1), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Before"}));
  ASSERT_EQ(Run(201, 0), S_OK);
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(ScriptResources, TextWithoutANulKeepsEveryByte) {
  ASSERT_EQ(Run(202, 1), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Whole", "Whole @ = S:all bytes"}));
}

TEST_F(ScriptResources, TextIsWidenedFromTheDefaultCodePage) {
  ASSERT_EQ(Run(203, 1), S_OK);
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Gr\u00fc\u00dfe", 0, KEY_READ, &key), 0);
  char16_t value[32] = {};
  DWORD size = sizeof value;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size), 0);
  RegCloseKey(key);
  EXPECT_EQ(std::u16string(value), u"\u00dcn\u00efcode");
}

TEST_F(ScriptResources, AnEmptyTextChangesNothing) {
  EXPECT_EQ(Run(204, 1), S_OK);
  EXPECT_EQ(Run(205, 1), S_OK) << "a NUL as the first byte leaves no text";
  EXPECT_EQ(Run(204, 0), S_OK);
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(ScriptResources, LoadFailuresBecomeHresultsOfTheirErrorCodes) {
  const std::string manifest = std::filesystem::path(__FILE__).parent_path() / "fixture" / "resources.manifest";
  struct Case {
    const char* name;
    std::u16string path;
    WORD id;
    LPCWSTR type;
    LONG error;
  } cases[] = {
      {"missing id", quibtest::Wide(QUIB_FIXTURE_PATH), 299, u"REGISTRY", ERROR_RESOURCE_NAME_NOT_FOUND},
      {"missing type", quibtest::Wide(QUIB_FIXTURE_PATH), 201, u"TYPELIB", ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"missing file", u"/nonexistent/quib.so", 201, u"REGISTRY", ERROR_FILE_NOT_FOUND},
      {"not a library", quibtest::Wide(manifest), 201, u"REGISTRY", ERROR_BAD_EXE_FORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(c.id, 1, c.path, c.type), HRESULT_FROM_WIN32(c.error));
  }
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(ScriptResources, OutOfMemoryLeaksNothing) {
  for (unsigned nth = 1;; ++nth) {
    SCOPED_TRACE(nth);
    quibtest::UseRegistry(":memory:");
    const std::size_t objects = quibtest::LiveAllocations(quibtest::Allocator::Object);
    const std::size_t task = quibtest::LiveAllocations(quibtest::Allocator::TaskMemory);
    quibtest::FailAllocation(quibtest::Allocator::Object, nth);
    const HRESULT hr = Run(202, 1);
    quibtest::ClearAllocationFaults();
    EXPECT_EQ(quibtest::LiveAllocations(quibtest::Allocator::Object), objects);
    EXPECT_EQ(quibtest::LiveAllocations(quibtest::Allocator::TaskMemory), task);
    if (hr == S_OK) {
      EXPECT_EQ(Snapshot(), (RegistryLines{"Whole", "Whole @ = S:all bytes"}));
      break;
    }
    EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == E_FAIL) << std::hex << hr;
    EXPECT_TRUE(Snapshot().empty());
    ASSERT_LT(nth, 50u);
  }
}

// ApplyRegistryResource reads the file of the current module: here the
// fixture library, given to a module state of the test's own.
class ModuleResources : public quibtest::InMemoryRegistry {
 protected:
  void Attach(const std::string& path) {
    module_ = LoadLibraryW(quibtest::Wide(path).c_str());
    ASSERT_NE(module_, nullptr);
    state_.Initialise(map_, module_);
  }
  void TearDown() override {
    if (module_) {
      state_.Terminate();
      FreeLibrary(module_);
    }
    InMemoryRegistry::TearDown();
  }
  std::string Value(const char16_t* key) {
    HKEY handle = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != 0) return "<missing>";
    char16_t value[512] = {};
    DWORD size = sizeof value - 2;
    DWORD type = 0;
    RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(handle);
    return quibtest::Narrow(value);
  }

  ObjectMapEntry map_[1] = {{nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr}};
  ModuleState state_{};
  HMODULE module_ = nullptr;
};

TEST_F(ModuleResources, ModuleIsTheFileNameAndExtrasFollowIt) {
  Attach(QUIB_FIXTURE_PATH);
  const ReplacementPair extras[] = {{u"Extra", u"extra value"}, {u"module", u"shadowed"}, {u"OTHER", u"50%"},
                                    {nullptr, nullptr}};
  ASSERT_EQ(ApplyRegistryResource(206, TRUE, extras), S_OK);
  EXPECT_EQ(Value(u"Module"), std::filesystem::canonical(QUIB_FIXTURE_PATH).string());
  EXPECT_EQ(Value(u"Extra"), "extra value");
  EXPECT_EQ(Value(u"Other"), "50%");
  ASSERT_EQ(ApplyRegistryResource(206, FALSE, extras), S_OK);
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(ModuleResources, AMissingExtraFailsTheExpansionBeforeAnyChange) {
  Attach(QUIB_FIXTURE_PATH);
  const ReplacementPair extras[] = {{u"Extra", u"extra value"}, {nullptr, nullptr}};
  EXPECT_EQ(ApplyRegistryResource(206, TRUE, extras), DISP_E_EXCEPTION);
  EXPECT_EQ(ApplyRegistryResource(206, TRUE, nullptr), DISP_E_EXCEPTION);
  EXPECT_EQ(ApplyRegistryResource(299, TRUE, nullptr), HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(ModuleResources, AnApostropheInTheModulePathArrivesAsOne) {
  char directory[] = "/tmp/quib-registration-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::filesystem::path folder = std::filesystem::path(directory) / "Today's Notes";
  std::filesystem::create_directory(folder);
  const std::filesystem::path copy = folder / "quib'fixture.so";
  std::filesystem::copy_file(QUIB_FIXTURE_PATH, copy);
  Attach(copy.string());
  const ReplacementPair extras[] = {{u"Extra", u"plain"}, {u"Other", u"''"}, {nullptr, nullptr}};
  const HRESULT hr = ApplyRegistryResource(206, TRUE, extras);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Value(u"Module"), copy.string());
  // Extra values are not escaped: quotes in them act as the script's own.
  EXPECT_EQ(Value(u"Other"), "'");
  std::filesystem::remove_all(directory);
}

}  // namespace
