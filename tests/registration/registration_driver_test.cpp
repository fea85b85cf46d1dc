// The registration driver's walks over the object map, and the paths it
// derives for the type library.
#include "registration/registration_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module/module_state.h"
#include "platform/loader.h"
#include "registration/script_runner.h"

namespace {

// ---- Paths

TEST(TypeLibraryPaths, HelpDirectoryIsCutAfterTheLastSeparator) {
  struct Case {
    std::u16string path, helpDirectory;
  } cases[] = {
      {u"\\Windows\\quibVoiceRec.dll", u"\\Windows\\"},
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

TEST_F(ObjectWalks, TypeLibraryFailureIsTheSecondLoadsFailure) {
  ObjectMapEntry map[] = {Entry(&kFirst, FirstUpdater), Entry(nullptr, nullptr)};
  // The program's own path has no type library, and neither has its ".tlb" form.
  WCHAR program[kModulePathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, program, kModulePathCapacity);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, kModulePathCapacity);
  WCHAR fallback[kModulePathCapacity];
  ASSERT_TRUE(TypeLibraryFallbackPath(program, fallback, kModulePathCapacity));
  ITypeLib* library = nullptr;
  const HRESULT expected = LoadTypeLib(fallback, &library);
  ASSERT_TRUE(FAILED(expected));

  EXPECT_EQ(RegisterObjects(ModuleWith(map), TRUE, &kNowhere), expected);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(RegisterObjects(ModuleWith(map), TRUE, nullptr), expected);
  EXPECT_EQ(g_calls, (Calls{"first+"}));

  BSTR path = reinterpret_cast<BSTR>(1);
  library = reinterpret_cast<ITypeLib*>(1);
  EXPECT_EQ(LoadModuleTypeLibrary(ModuleWith(map), &path, &library), expected);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(UnregisterModuleTypeLibrary(ModuleWith(map)), expected);
}

}  // namespace
