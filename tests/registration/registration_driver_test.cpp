// The registration driver's walks over the object map, and the paths it
// derives for the type library.
#include "registration/registration_driver.h"

#include <gtest/gtest.h>

#include <quibtest/loader.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "module/module_state.h"
#include "platform/loader.h"
#include "platform/errors.h"
#include "quib_test_support.h"
#include "registration/script_runner.h"
#include "registry_snapshot.h"

namespace {

// ---- Paths

TEST(TypeLibraryPaths, HelpDirectoryIsCutAfterTheLastSeparator) {
  struct Case {
    std::u16string path, helpDirectory;
  } cases[] = {
      {u"\\System\\quibVoiceRec.dll", u"\\System\\"},
      {u"A:quib.dll", u"A:"},
      {u"quib.dll", u""},
      {u"", u""},
      {u"/usr/lib/libquibvoicerec.so", u"/usr/lib/"},
      {u"C:\\dir/sub\\x.tlb", u"C:\\dir/sub\\"},
      {u"dir\\", u"dir\\"},
      {u"a/b:c", u"a/b:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    std::u16string out(c.path.size() + 1, u'#');
    HelpDirectoryOf(c.path.c_str(), out.data());
    EXPECT_EQ(std::u16string(out.c_str()), c.helpDirectory);
  }
}

TEST(TypeLibraryPaths, FallbackReplacesTheTailFromTheLastDot) {
  struct Case {
    std::u16string path, fallback;
  } cases[] = {
      {u"\\Apps\\quibVoiceRec.dll", u"\\Apps\\quibVoiceRec.tlb"},
      {u"\\My.Apps\\quib", u"\\My.tlb"},
      {u"\\Apps\\quib", u"\\Apps\\quib.tlb"},
      {u"", u".tlb"},
      {u"lib.so.1", u"lib.so.tlb"},
      {u"trailing.", u"trailing.tlb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    WCHAR out[kModulePathCapacity];
    ASSERT_TRUE(TypeLibraryFallbackPath(c.path.c_str(), out, kModulePathCapacity));
    EXPECT_EQ(std::u16string(out), c.fallback);
  }
}

TEST(TypeLibraryPaths, FallbackThatDoesNotFitIsRefusedUnwritten) {
  struct Case {
    const char* name;
    std::u16string path;
    bool fits;
  } cases[] = {
      {"255 characters without a dot", std::u16string(255, u'p'), true},
      {"256 characters without a dot", std::u16string(256, u'p'), false},
      {"259 characters, dot at 255", std::u16string(255, u'p') + u".dll", true},
      {"259 characters, dot at 256", std::u16string(256, u'p') + u".dl", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string out(kModulePathCapacity + 1, u'#');
    EXPECT_EQ(TypeLibraryFallbackPath(c.path.c_str(), out.data(), kModulePathCapacity), c.fits);
    EXPECT_EQ(out[kModulePathCapacity], u'#');
    if (!c.fits) {
      EXPECT_EQ(out[0], u'#') << "nothing written";
    }
  }
}

// ---- Walks over the object map

constexpr HRESULT kUpdaterFailure = static_cast<HRESULT>(0x80070005);
constexpr CLSID kFirst = {0x11111111, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
constexpr CLSID kSecond = {0x22222222, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
constexpr CLSID kDescribed = {0x33333333, 0, 0, {0, 0, 0, 0, 0, 0, 0, 3}};
constexpr CLSID kFailing = {0x44444444, 0, 0, {0, 0, 0, 0, 0, 0, 0, 4}};
constexpr CLSID kNowhere = {0x55555555, 0, 0, {0, 0, 0, 0, 0, 0, 0, 5}};

std::vector<std::string> g_calls;

HRESULT Record(const char* name, BOOL registering, HRESULT result) {
  g_calls.push_back(std::string(name) + (registering ? "+" : "-"));
  return result;
}
HRESULT FirstUpdater(BOOL registering) { return Record("first", registering, S_OK); }
HRESULT SecondUpdater(BOOL registering) { return Record("second", registering, S_FALSE); }
HRESULT DescribedUpdater(BOOL registering) { return Record("described", registering, S_OK); }
HRESULT FailingUpdater(BOOL registering) { return Record("failing", registering, kUpdaterFailure); }

const void* ADescription() {
  static const char16_t text[] = u"described";
  return text;
}
const void* NoDescription() { return nullptr; }

ObjectMapEntry Entry(const CLSID* clsid, RegistryUpdater updater, const void* (*description)() = nullptr) {
  ObjectMapEntry entry{};
  entry.clsid = clsid;
  entry.registryUpdater = updater;
  entry.descriptionCallback = description;
  return entry;
}

class ObjectWalks : public ::testing::Test {
 protected:
  void SetUp() override { g_calls.clear(); }
  ModuleState* ModuleWith(ObjectMapEntry* map) {
    module_.objectMap = map;
    module_.typeLibInstance = nullptr;  // the test program: it carries no type library
    return &module_;
  }
  ModuleState module_{};
};

using Calls = std::vector<std::string>;

TEST_F(ObjectWalks, NoModuleStateIsAnInvalidArgument) {
  EXPECT_EQ(RegisterObjects(nullptr, FALSE, nullptr), E_INVALIDARG);
  EXPECT_EQ(UnregisterObjects(nullptr, FALSE, nullptr), E_INVALIDARG);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(ObjectWalks, WithoutAFilterEntriesWithADescriptionAreSkipped) {
  ObjectMapEntry map[] = {Entry(&kFirst, FirstUpdater), Entry(&kDescribed, DescribedUpdater, ADescription),
                          Entry(&kSecond, SecondUpdater, NoDescription), Entry(nullptr, nullptr),
                          Entry(&kFailing, FailingUpdater)};
  EXPECT_EQ(RegisterObjects(ModuleWith(map), FALSE, nullptr), S_FALSE) << "the last updater's result";
  EXPECT_EQ(g_calls, (Calls{"first+", "second+"}));
  g_calls.clear();
  EXPECT_EQ(UnregisterObjects(ModuleWith(map), FALSE, nullptr), S_OK);
  EXPECT_EQ(g_calls, (Calls{"first-", "second-"}));
}

TEST_F(ObjectWalks, AFilterSelectsItsEntryOnly) {
  ObjectMapEntry map[] = {Entry(&kFirst, FirstUpdater), Entry(&kDescribed, DescribedUpdater, ADescription),
                          Entry(&kSecond, SecondUpdater), Entry(nullptr, nullptr)};
  EXPECT_EQ(RegisterObjects(ModuleWith(map), FALSE, &kDescribed), S_OK);
  EXPECT_EQ(UnregisterObjects(ModuleWith(map), FALSE, &kSecond), S_OK);
  EXPECT_EQ(RegisterObjects(ModuleWith(map), FALSE, &kNowhere), S_OK);
  EXPECT_EQ(g_calls, (Calls{"described+", "second-"}));
}

TEST_F(ObjectWalks, RegistrationStopsAtTheFirstFailingUpdater) {
  ObjectMapEntry map[] = {Entry(&kFirst, FirstUpdater), Entry(&kFailing, FailingUpdater),
                          Entry(&kSecond, SecondUpdater), Entry(nullptr, nullptr)};
  // Asked to register the type library too: a failing updater comes first.
  EXPECT_EQ(RegisterObjects(ModuleWith(map), TRUE, nullptr), kUpdaterFailure);
  EXPECT_EQ(g_calls, (Calls{"first+", "failing+"}));
}

TEST_F(ObjectWalks, UnregistrationVisitsEveryEntryAndReportsNothing) {
  ObjectMapEntry map[] = {Entry(&kFailing, FailingUpdater), Entry(&kFirst, FirstUpdater),
                          Entry(&kFailing, FailingUpdater), Entry(nullptr, nullptr)};
  EXPECT_EQ(UnregisterObjects(ModuleWith(map), TRUE, nullptr), S_OK);
  EXPECT_EQ(g_calls, (Calls{"failing-", "first-", "failing-"}));
}

// ---- The type library of the module file

// The fixture library carries registry scripts only, no type library; the
// test program carries the library's resources, type library included.
class TypeLibraries : public quibtest::InMemoryRegistry {
 protected:
  void SetUp() override {
    InMemoryRegistry::SetUp();
    g_calls.clear();
    module_.objectMap = map_;
  }
  void TearDown() override {
    quibtest::ClearHiddenNames();
    for (HMODULE m : loaded_) FreeLibrary(m);
    if (!directory_.empty()) std::filesystem::remove_all(directory_);
    InMemoryRegistry::TearDown();
  }
  ModuleState* ModuleFor(const std::string& path) {
    HMODULE m = LoadLibraryW(quibtest::Wide(path).c_str());
    EXPECT_NE(m, nullptr) << path;
    loaded_.push_back(m);
    module_.typeLibInstance = m;
    return &module_;
  }
  ModuleState* Program() {
    module_.typeLibInstance = nullptr;
    return &module_;
  }
  std::string TemporaryDirectory() {
    char directory[] = "/tmp/quib-typelib-XXXXXX";
    EXPECT_NE(mkdtemp(directory), nullptr);
    directory_ = directory;
    return directory_;
  }
  static std::string ProgramPath() {
    WCHAR path[kModulePathCapacity];
    const DWORD length = GetModuleFileNameW(nullptr, path, kModulePathCapacity);
    return quibtest::Narrow(std::u16string(path, length));
  }
  // The registered entries of the library's version key, e.g. "0\win32" and "HELPDIR".
  static std::map<std::string, std::string> Registered() {
    std::map<std::string, std::string> entries;
    const std::string prefix = "TypeLib\\" + kLibraryId + "\\1.0\\";
    for (const std::string& line : quibtest::Snapshot(HKEY_CLASSES_ROOT)) {
      const std::size_t at = line.find(" @ = S:");
      if (line.rfind(prefix, 0) == 0 && at != std::string::npos)
        entries[line.substr(prefix.size(), at - prefix.size())] = line.substr(at + 7);
    }
    return entries;
  }
  static inline const std::string kLibraryId = "{6E3A5C13-2B7D-4F18-A9C4-5D0E7B31F2A8}";

  ObjectMapEntry map_[2] = {Entry(&kFirst, FirstUpdater), Entry(nullptr, nullptr)};
  ModuleState module_{};
  std::vector<HMODULE> loaded_;
  std::string directory_;
};

TEST_F(TypeLibraries, RegistersFromTheModuleFileWithItsDirectoryAsHelpDirectory) {
  // A filter that selects nothing still registers the type library.
  ASSERT_EQ(RegisterObjects(Program(), TRUE, &kNowhere), S_OK);
  EXPECT_TRUE(g_calls.empty());
  const std::string program = ProgramPath();
  const std::string directory = program.substr(0, program.rfind('/') + 1);
  const auto entries = Registered();
  ASSERT_EQ(entries.count("0\\win32") + entries.count("0\\win64"), 1u);
  EXPECT_EQ(entries.begin()->second, program);
  ASSERT_EQ(entries.count("HELPDIR"), 1u);
  EXPECT_EQ(entries.at("HELPDIR"), directory);
}

TEST_F(TypeLibraries, FallsBackToTheTlbFileBesideTheModule) {
  const std::string directory = TemporaryDirectory();
  std::filesystem::copy_file(QUIB_FIXTURE_PATH, directory + "/quibfixture.dll");
  std::filesystem::copy_file(QUIB_TYPELIB_PATH, directory + "/quibfixture.tlb");
  ModuleState* module = ModuleFor(directory + "/quibfixture.dll");

  BSTR path = nullptr;
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadModuleTypeLibrary(module, &path, &library), S_OK);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(quibtest::Narrow(std::u16string(path, SysStringLen(path))), directory + "/quibfixture.tlb");
  library->Release();
  SysFreeString(path);

  ASSERT_EQ(RegisterObjects(module, TRUE, nullptr), S_OK);
  EXPECT_EQ(g_calls, (Calls{"first+"}));
  const auto entries = Registered();
  EXPECT_EQ(entries.begin()->second, directory + "/quibfixture.tlb");
  EXPECT_EQ(entries.at("HELPDIR"), directory + "/");
}

TEST_F(TypeLibraries, FailureIsTheSecondLoadsFailure) {
  ModuleState* module = ModuleFor(QUIB_FIXTURE_PATH);
  WCHAR fallback[kModulePathCapacity];
  ASSERT_TRUE(TypeLibraryFallbackPath(quibtest::Wide(std::filesystem::canonical(QUIB_FIXTURE_PATH)).c_str(),
                                      fallback, kModulePathCapacity));
  ITypeLib* library = nullptr;
  const HRESULT expected = LoadTypeLib(fallback, &library);
  ASSERT_TRUE(FAILED(expected));

  EXPECT_EQ(RegisterObjects(module, TRUE, &kNowhere), expected);
  EXPECT_EQ(RegisterObjects(module, TRUE, nullptr), expected) << "after the updaters ran";
  EXPECT_EQ(g_calls, (Calls{"first+"}));
  EXPECT_TRUE(Registered().empty());

  BSTR path = reinterpret_cast<BSTR>(1);
  library = reinterpret_cast<ITypeLib*>(1);
  EXPECT_EQ(LoadModuleTypeLibrary(module, &path, &library), expected);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(UnregisterModuleTypeLibrary(module), expected);
  EXPECT_EQ(UnregisterObjects(module, TRUE, nullptr), S_OK);
}

TEST_F(TypeLibraries, ModulePathsThatDoNotFitAreRefused) {
  // A folder name that makes the path 259 characters: the path fits, its
  // ".tlb" form does not (the path has no dot after the folder's).
  std::string directory = TemporaryDirectory();
  std::string deep = directory;
  while (deep.size() < 200) deep += "/" + std::string(40, 'd');
  std::filesystem::create_directories(deep);
  const std::string fits = deep + "/" + std::string(259 - deep.size() - 1, 'f');
  ASSERT_EQ(fits.size(), 259u);
  std::filesystem::copy_file(QUIB_FIXTURE_PATH, fits);
  const std::string tooLong = deep + "/" + std::string(260 - deep.size() - 1, 'g');
  std::filesystem::copy_file(QUIB_FIXTURE_PATH, tooLong);

  BSTR path = nullptr;
  ITypeLib* library = nullptr;
  const HRESULT refused = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(LoadModuleTypeLibrary(ModuleFor(fits), &path, &library), refused) << "no room for \".tlb\"";
  EXPECT_EQ(LoadModuleTypeLibrary(ModuleFor(tooLong), &path, &library), refused);
  EXPECT_EQ(RegisterModuleTypeLibrary(ModuleFor(tooLong)), refused);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(library, nullptr);
}

TEST_F(TypeLibraries, UnregisteringFindsTheRuntimeRoutineWhenItIsUsed) {
  struct Case {
    const char* name;
    const char* hiddenLibrary;
    const char* hiddenRoutine;
    bool removed;
  } cases[] = {
      {"runtime present", nullptr, nullptr, true},
      {"runtime library missing", "oleaut32.dll", nullptr, false},
      {"routine missing", nullptr, "UnRegisterTypeLib", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    quibtest::UseRegistry(":memory:");
    ASSERT_EQ(RegisterModuleTypeLibrary(Program()), S_OK);
    ASSERT_FALSE(Registered().empty());
    if (c.hiddenLibrary) quibtest::HideLibrary(c.hiddenLibrary);
    if (c.hiddenRoutine) quibtest::HideRoutine("oleaut32.dll", c.hiddenRoutine);
    EXPECT_EQ(UnregisterModuleTypeLibrary(Program()), S_OK);
    quibtest::ClearHiddenNames();
    EXPECT_EQ(Registered().empty(), c.removed);
  }
}

TEST_F(TypeLibraries, UnregisterObjectsLeavesTheTypeLibraryUnlessAsked) {
  ASSERT_EQ(RegisterObjects(Program(), TRUE, nullptr), S_OK);
  EXPECT_EQ(UnregisterObjects(Program(), FALSE, nullptr), S_OK);
  EXPECT_FALSE(Registered().empty());
  EXPECT_EQ(UnregisterObjects(Program(), TRUE, nullptr), S_OK);
  EXPECT_TRUE(Registered().empty());
  EXPECT_EQ(g_calls, (Calls{"first+", "first-", "first-"}));
}

}  // namespace
