// Resources of the built library, found in the loaded library and in its file
// loaded as data; damaged files refused; platform library names.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/loader.h"
#include "platform/resources.h"
#include "quib_test_support.h"
#include "quibtest/core.h"
#include "quibtest/loader.h"
#include "registry_support.h"

using quibtest::ReadFile;
using quibtest::ScratchDir;
using quibtest::WriteFile;
using quibtest::Wide;

namespace {

std::string ResourceBytes(HMODULE module, HRSRC resource) {
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = LockResource(loaded);
  DWORD size = SizeofResource(module, resource);
  if (!data) return {};
  return std::string(static_cast<const char*>(data), size);
}

std::uint32_t Le16(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}

// The strings of a version resource, by key.
std::vector<std::pair<std::string, std::string>> VersionStrings(const std::string& v) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t at = 24;
  for (std::uint32_t i = 0, n = Le16(v, 6); i < n && at + 4 <= v.size(); ++i) {
    std::uint32_t keyLength = Le16(v, at), valueLength = Le16(v, at + 2);
    at += 4;
    std::string key, value;
    for (std::uint32_t k = 0; k < keyLength; ++k, at += 2) key += static_cast<char>(Le16(v, at));
    for (std::uint32_t k = 0; k < valueLength; ++k, at += 2) value += static_cast<char>(Le16(v, at));
    out.emplace_back(key, value);
  }
  return out;
}

class LibraryResources : public testing::TestWithParam<bool> {
 protected:
  // The built library, run (false) or read as data (true).
  void SetUp() override {
    if (GetParam())
      module = LoadLibraryExW(Wide(QUIB_LIBRARY_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    else
      module = LoadLibraryW(Wide(QUIB_LIBRARY_PATH).c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module) {
      EXPECT_TRUE(FreeLibrary(module));
    }
  }
  HMODULE module = nullptr;
};

TEST_P(LibraryResources, TheRegistrationScriptIsStoredAsItIs) {
  std::string script = ReadFile(QUIB_SOURCE_DIR "/resources/quibvoicerec.rgs");
  ASSERT_EQ(script.size(), 644u);
  for (LPCWSTR type : {u"REGISTRY", u"registry", u"Registry"}) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(101), type);
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(SizeofResource(module, resource), 644u);
    EXPECT_EQ(ResourceBytes(module, resource), script);
  }
  HRSRC byText = FindResourceW(module, u"#101", u"REGISTRY");
  EXPECT_EQ(byText, FindResourceW(module, MAKEINTRESOURCEW(101), u"REGISTRY"));
  EXPECT_NE(FindResourceExW(module, u"REGISTRY", MAKEINTRESOURCEW(101), 1033), nullptr);
}

TEST_P(LibraryResources, MissingResourcesAreReportedByWhatIsMissing) {
  struct Case {
    const char* name;
    LPCWSTR type;
    LPCWSTR id;
    WORD language;
    LONG error;
  } cases[] = {
      {"id", u"REGISTRY", MAKEINTRESOURCEW(102), 0, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"named id", u"REGISTRY", u"SCRIPT", 0, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"type", u"NOSUCHTYPE", MAKEINTRESOURCEW(101), 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"numeric type", MAKEINTRESOURCEW(23), MAKEINTRESOURCEW(1), 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"longer type name", u"REGISTRYX", MAKEINTRESOURCEW(101), 0, ERROR_RESOURCE_TYPE_NOT_FOUND},
      {"language", u"REGISTRY", MAKEINTRESOURCEW(101), 1031, ERROR_RESOURCE_LANG_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(FindResourceExW(module, c.type, c.id, c.language), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(c.error));
  }
  SetLastError(0);
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(101), nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_P(LibraryResources, TheVersionResourceNamesVersionsAndSelfRegistration) {
  HRSRC resource = FindResourceExW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), 1033);
  ASSERT_NE(resource, nullptr);
  std::string v = ResourceBytes(module, resource);
  ASSERT_GE(v.size(), 24u);
  EXPECT_EQ(v.substr(0, 4), "QVER");
  EXPECT_EQ(Le16(v, 4), 1u);
  for (std::size_t quad : {8u, 16u}) {
    SCOPED_TRACE(quad);
    EXPECT_EQ(Le16(v, quad), 1u);
    EXPECT_EQ(Le16(v, quad + 2), 0u);
    EXPECT_EQ(Le16(v, quad + 4), 0u);
    EXPECT_EQ(Le16(v, quad + 6), 1u);
  }
  auto strings = VersionStrings(v);
  EXPECT_NE(std::find(strings.begin(), strings.end(), std::make_pair(std::string("OLESelfRegister"), std::string())),
            strings.end());
  EXPECT_NE(std::find(strings.begin(), strings.end(), std::make_pair(std::string("FileVersion"), std::string("1.0.0.1"))),
            strings.end());
}

TEST_P(LibraryResources, HandlesFromElsewhereAreRefused) {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(101), u"REGISTRY");
  ASSERT_NE(resource, nullptr);
  HMODULE other = GetParam() ? LoadLibraryW(Wide(QUIB_LIBRARY_PATH).c_str())
                             : LoadLibraryExW(Wide(QUIB_LIBRARY_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(other, nullptr);
  SetLastError(0);
  EXPECT_EQ(LoadResource(other, resource), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(SizeofResource(other, resource), 0u);
  auto* inside = reinterpret_cast<HRSRC>(static_cast<char*>(resource) + 4);
  EXPECT_EQ(LoadResource(module, inside), nullptr);
  EXPECT_EQ(SizeofResource(module, nullptr), 0u);
  EXPECT_TRUE(FreeLibrary(other));
  EXPECT_EQ(FindResourceW(other, MAKEINTRESOURCEW(101), u"REGISTRY"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

INSTANTIATE_TEST_SUITE_P(LoadedAndAsData, LibraryResources, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "AsData" : "Loaded"; });

TEST(DataFiles, ALibraryLoadedAsDataRunsNothing) {
  std::size_t heaps = quibtest::LiveHeaps();
  HMODULE module = LoadLibraryExW(Wide(QUIB_LIBRARY_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(quibtest::LiveHeaps(), heaps);  // its entry point made no heap
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(module, u"DllGetClassObject"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
  char16_t path[260];
  EXPECT_GT(GetModuleFileNameW(module, path, 260), 0u);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(quibtest::LiveHeaps(), heaps);
  EXPECT_FALSE(FreeLibrary(module));
}

TEST(DataFiles, ALibraryWithoutResourcesHasNone) {
  HMODULE module = LoadLibraryExW(u"oleaut32.dll", nullptr, 0);
  ASSERT_NE(module, nullptr);
  char16_t path[260];
  ASSERT_GT(GetModuleFileNameW(module, path, 260), 0u);
  HMODULE data = LoadLibraryExW(u"OLEAUT32.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(data, nullptr);
  char16_t dataPath[260];
  ASSERT_GT(GetModuleFileNameW(data, dataPath, 260), 0u);
  EXPECT_EQ(std::u16string(dataPath), std::u16string(path));
  for (HMODULE m : {module, data}) {
    SetLastError(0);
    EXPECT_EQ(FindResourceW(m, MAKEINTRESOURCEW(101), u"REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
  }
  FreeLibrary(data);
  FreeLibrary(module);
}

// Offset of the resource section's header in the library file: the first
// copy, since loaded sections come before the debug information (which may
// hold the bytes again).
std::size_t SectionOffset(const std::string& file) {
  return file.find(std::string("QRSC\x01\x00\x10\x00", 8));
}

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

TEST(DataFiles, DamagedFilesAreRefusedWithoutReadingPastThem) {
  const std::string library = ReadFile(QUIB_LIBRARY_PATH);
  const std::size_t section = SectionOffset(library);
  ASSERT_NE(section, std::string::npos);
  const bool elf64 = library[4] == 2;

  auto with = [&](auto change) {
    std::string copy = library;
    change(copy);
    return copy;
  };
  struct Case {
    const char* name;
    std::string bytes;
    LONG loadError;  // 0: loads, and then finding the script fails with findError
    LONG findError;
  } cases[] = {
      {"text", "not a library at all\n", ERROR_BAD_EXE_FORMAT, 0},
      {"empty", "", ERROR_BAD_EXE_FORMAT, 0},
      {"first bytes only", library.substr(0, 100), ERROR_BAD_EXE_FORMAT, 0},
      {"cut in half", library.substr(0, library.size() / 2), ERROR_BAD_EXE_FORMAT, 0},
      {"cut before the last byte", library.substr(0, library.size() - 1), ERROR_BAD_EXE_FORMAT, 0},
      {"big-endian mark", with([](std::string& s) { s[5] = 2; }), ERROR_BAD_EXE_FORMAT, 0},
      {"section headers elsewhere",
       with([&](std::string& s) { Put32(s, elf64 ? 0x28 : 0x20, 0xFFFFFF00u); }), ERROR_BAD_EXE_FORMAT, 0},
      {"section names out of range",
       with([&](std::string& s) { s[elf64 ? 0x3E : 0x32] = '\xFF'; s[(elf64 ? 0x3E : 0x32) + 1] = '\x7F'; }),
       ERROR_BAD_EXE_FORMAT, 0},
      {"resource magic", with([&](std::string& s) { s[section] = 'X'; }), 0, ERROR_BAD_FORMAT},
      {"resource format version", with([&](std::string& s) { s[section + 4] = 2; }), 0, ERROR_BAD_FORMAT},
      {"entry count", with([&](std::string& s) { Put32(s, section + 8, 0x10000000u); }), 0, ERROR_BAD_FORMAT},
      {"total size", with([&](std::string& s) { Put32(s, section + 12, 0xFFFFFFF0u); }), 0, ERROR_BAD_FORMAT},
      {"data size", with([&](std::string& s) { Put32(s, section + 16 + 16, 0x7FFFFFFFu); }), 0, ERROR_BAD_FORMAT},
      {"data offset", with([&](std::string& s) { Put32(s, section + 16 + 12, 0xFFFFFF00u); }), 0, ERROR_BAD_FORMAT},
      {"type name", with([&](std::string& s) { Put32(s, section + 16 + 8, 0xFFFFFFFEu); }), 0, ERROR_BAD_FORMAT},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.File("damaged.so");
    WriteFile(path, c.bytes);
    SetLastError(0);
    HMODULE module = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (c.loadError) {
      EXPECT_EQ(module, nullptr);
      EXPECT_EQ(GetLastError(), DWORD(c.loadError));
      continue;
    }
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(101), u"REGISTRY"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(c.findError));
    FreeLibrary(module);
  }
  SetLastError(0);
  EXPECT_EQ(LoadLibraryExW(Wide(dir.File("missing.so")).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LoadLibraryExW(Wide(QUIB_LIBRARY_PATH).c_str(), nullptr, 0x100), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

class PlatformNames : public testing::Test {
 protected:
  void TearDown() override { quibtest::ClearHiddenNames(); }
};

TEST_F(PlatformNames, TheAutomationRuntimeIsFoundByItsPlatformName) {
  for (LPCWSTR name : {u"oleaut32.dll", u"OLEAUT32.DLL", u"OleAut32"}) {
    HMODULE module = LoadLibraryW(name);
    ASSERT_NE(module, nullptr);
    char16_t path[260];
    DWORD length = GetModuleFileNameW(module, path, 260);
    std::u16string file(path, length);
    EXPECT_EQ(file.substr(file.rfind(u'/') + 1), u"libquiboleaut.so");
    EXPECT_NE(GetProcAddressW(module, u"SysAllocString"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
  }
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST_F(PlatformNames, ATestCanMakeALibraryOrARoutineMissing) {
  quibtest::HideRoutine("oleaut32.dll", "SysAllocString");
  HMODULE module = LoadLibraryW(u"oleaut32.dll");
  ASSERT_NE(module, nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(module, u"SysAllocString"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
  EXPECT_NE(GetProcAddressW(module, u"SysFreeString"), nullptr);
  quibtest::ClearHiddenNames();
  EXPECT_NE(GetProcAddressW(module, u"SysAllocString"), nullptr);
  FreeLibrary(module);

  quibtest::HideLibrary("OLEAUT32.dll");
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"oleaut32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

}  // namespace
