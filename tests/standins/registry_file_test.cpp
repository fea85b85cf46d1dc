// The registry in a file: what one process writes another reads, several
// writers at once lose nothing, a file that is not a registry is refused and
// left as it is, and the file is found through QUIB_REGISTRY.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "quibtest/registry.h"
#include "registry_support.h"

using quibtest::CreateKey;
using quibtest::Peer;
using quibtest::ReadFile;
using quibtest::ScratchDir;
using quibtest::WriteFile;
using quibtest::SetDword;
using quibtest::SetString;

namespace {

DWORD SubkeyCount(HKEY parent, const char16_t* path) {
  HKEY key = 0;
  if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD count = 0;
  EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  return count;
}

class RegistryFile : public testing::Test {
 protected:
  void TearDown() override { quibtest::UseRegistry(":memory:"); }
  ScratchDir dir;
};

TEST_F(RegistryFile, KeysWrittenByOneProcessAreReadByAnother) {
  std::string file = dir.File("shared.db");
  {
    Peer writer(file, {"write", "w", "20"});
    ASSERT_EQ(writer.Wait(), 0);
  }
  quibtest::UseRegistry(file);
  EXPECT_EQ(SubkeyCount(HKEY_CURRENT_USER, u"Peer"), 20u);
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"peer\\W7", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD n = 0, size = sizeof n;
  EXPECT_EQ(RegQueryValueExW(key, u"N", nullptr, nullptr, reinterpret_cast<BYTE*>(&n), &size), ERROR_SUCCESS);
  EXPECT_EQ(n, 7u);
  RegCloseKey(key);

  // And the other way round, while this process keeps the file open.
  for (int i = 0; i < 5; ++i) {
    std::u16string name = u"Peer\\mine" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    HKEY mine = CreateKey(HKEY_CURRENT_USER, name.c_str());
    ASSERT_EQ(SetString(mine, nullptr, u"mine" + std::u16string(1, static_cast<char16_t>(u'0' + i))),
              ERROR_SUCCESS);
    ASSERT_EQ(SetDword(mine, u"n", static_cast<DWORD>(i)), ERROR_SUCCESS);
    RegCloseKey(mine);
  }
  Peer reader(file, {"check", "mine", "5"});
  EXPECT_EQ(reader.Wait(), 0);
  Peer wrong(file, {"check", "mine", "6"});
  EXPECT_NE(wrong.Wait(), 0);
}

TEST_F(RegistryFile, EnumerationSeesKeysThatAnotherProcessAdded) {
  std::string file = dir.File("enum.db");
  quibtest::UseRegistry(file);
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, u"Peer\\z0"));
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, u"Peer\\z1"));
  HKEY parent = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Peer", 0, KEY_READ, &parent), ERROR_SUCCESS);
  char16_t name[256];
  DWORD length = 256;
  ASSERT_EQ(RegEnumKeyExW(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"z0");
  // "a0" from the other process comes first, so index 1 is "z0" again.
  Peer writer(file, {"write", "a", "1"});
  ASSERT_EQ(writer.Wait(), 0);
  length = 256;
  ASSERT_EQ(RegEnumKeyExW(parent, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"z0");
  RegCloseKey(parent);
}

TEST_F(RegistryFile, ANewFileAndItsDirectoriesAreMadeOnFirstUse) {
  std::string file = dir.File("a/b/registry.db");
  quibtest::UseRegistry(file);
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Made");
  EXPECT_NE(key, 0u);
  RegCloseKey(key);
  quibtest::UseRegistry(":memory:");
  EXPECT_FALSE(ReadFile(file).empty());
  quibtest::UseRegistry(file);
  EXPECT_EQ(SubkeyCount(HKEY_LOCAL_MACHINE, u""), 1u);
}

TEST_F(RegistryFile, TheFileIsNamedByTheEnvironmentOrThePerUserDataDirectory) {
  const char* saved = std::getenv("QUIB_REGISTRY");
  std::string savedValue = saved ? saved : "";
  const char* savedXdg = std::getenv("XDG_DATA_HOME");
  std::string savedXdgValue = savedXdg ? savedXdg : "";

  setenv("QUIB_REGISTRY", dir.File("env.db").c_str(), 1);
  quibtest::ResetRegistry();
  EXPECT_EQ(quibtest::RegistryPath(), dir.File("env.db"));
  RegCloseKey(CreateKey(HKEY_USERS, u"FromEnvironment"));
  EXPECT_FALSE(ReadFile(dir.File("env.db")).empty());

  unsetenv("QUIB_REGISTRY");
  setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
  quibtest::ResetRegistry();
  EXPECT_EQ(quibtest::RegistryPath(), dir.File("data") + "/quibvoicerec/registry.db");

  if (saved) setenv("QUIB_REGISTRY", savedValue.c_str(), 1);
  if (savedXdg)
    setenv("XDG_DATA_HOME", savedXdgValue.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
  quibtest::ResetRegistry();
}

// A database made directly with SQLite, by someone else than the registry.
void MakeForeignDatabase(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

TEST_F(RegistryFile, AFileThatIsNotARegistryIsRefusedAndLeftAsItIs) {
  // A genuine registry file to damage.
  std::string good = dir.File("good.db");
  quibtest::UseRegistry(good);
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, u"Some\\Keys");
  for (int i = 0; i < 200; ++i) SetString(key, (u"v" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                                std::u16string(1, static_cast<char16_t>(u'a' + i / 26))).c_str(),
                                           std::u16string(300, u'x'));
  quibtest::UseRegistry(":memory:");
  std::string registry = ReadFile(good);
  ASSERT_GT(registry.size(), 8192u);

  std::string damaged = registry;
  for (std::size_t i = 4096; i < damaged.size(); i += 7) damaged[i] = static_cast<char>(0xA5);

  struct Case {
    const char* name;
    std::string bytes;  // empty: made with SQLite below
    const char* sql;
  } cases[] = {
      {"text", "this is not a database, just some text\n", nullptr},
      {"truncated", registry.substr(0, 3000), nullptr},
      {"damaged pages", damaged, nullptr},
      {"another program's database", "", "CREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT)"},
      {"a newer registry", "", "PRAGMA application_id=1364346183; PRAGMA user_version=9; CREATE TABLE keys(id)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = dir.File(std::string("bad-") + std::to_string(&c - cases) + ".db");
    if (c.sql)
      MakeForeignDatabase(file, c.sql);
    else
      WriteFile(file, c.bytes);
    std::string before = ReadFile(file);
    quibtest::UseRegistry(file);
    HKEY out = 0x99;
    SetLastError(0);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Some", 0, KEY_READ, &out), ERROR_BADDB);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BADDB));
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
              ERROR_BADDB);
    quibtest::UseRegistry(":memory:");
    EXPECT_EQ(ReadFile(file), before);
  }
}

TEST_F(RegistryFile, AnEmptyFileBecomesARegistry) {
  std::string file = dir.File("empty.db");
  WriteFile(file, "");
  quibtest::UseRegistry(file);
  RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, u"Fresh"));
  quibtest::UseRegistry(file);
  EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT, u""), 1u);
}

TEST_F(RegistryFile, WritersInSeveralProcessesAndThreadsLoseNoUpdate) {
  std::string file = dir.File("busy.db");
  constexpr int kEach = 60;
  quibtest::UseRegistry(file);
  {
    Peer first(file, {"write", "p", std::to_string(kEach)});
    Peer second(file, {"write", "q", std::to_string(kEach)});
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kEach; ++i) {
          std::u16string name = u"Peer\\t" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u"_" +
                                std::u16string(1, static_cast<char16_t>(u'A' + i / 26)) +
                                std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
          HKEY key = 0;
          ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr),
                    ERROR_SUCCESS);
          ASSERT_EQ(SetDword(key, u"i", static_cast<DWORD>(i)), ERROR_SUCCESS);
          RegCloseKey(key);
        }
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
  }
  EXPECT_EQ(SubkeyCount(HKEY_CURRENT_USER, u"Peer"), 4u * kEach);
  Peer checkFirst(file, {"check", "p", std::to_string(kEach)});
  Peer checkSecond(file, {"check", "q", std::to_string(kEach)});
  EXPECT_EQ(checkFirst.Wait(), 0);
  EXPECT_EQ(checkSecond.Wait(), 0);
}

}  // namespace
