// The registry stand-in as a client sees it: keys and values, names without
// regard to case, enumeration by index, deletion rules, limits, handles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "quibtest/registry.h"
#include "registry_support.h"

using quibtest::CreateKey;
using quibtest::SetDword;
using quibtest::SetString;

namespace {

class Registry : public testing::Test {
 protected:
  void SetUp() override { quibtest::UseRegistry(":memory:"); }
  void TearDown() override { quibtest::UseRegistry(":memory:"); }

  // The subkey names of key, enumerated from index 0 up.
  static std::vector<std::u16string> Subkeys(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
      char16_t name[256];
      DWORD length = 256;
      LONG rc = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      EXPECT_EQ(std::u16string(name).size(), length);
      names.emplace_back(name, length);
    }
    return names;
  }

  static std::vector<std::u16string> Values(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
      char16_t name[256];
      DWORD length = 256;
      LONG rc = RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(rc, ERROR_SUCCESS);
      if (rc != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }

  static std::u16string QueryString(HKEY key, const char16_t* name) {
    char16_t text[512] = {};
    DWORD size = sizeof text, type = 0;
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    return text;
  }

  static bool Exists(HKEY parent, const char16_t* path) {
    HKEY key = 0;
    LONG rc = RegOpenKeyExW(parent, path, 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    return rc == ERROR_SUCCESS;
  }
};

// A failing call returns its code and leaves it as the thread's last error.
#define EXPECT_FAILS_WITH(code, call)             \
  do {                                            \
    SetLastError(0);                              \
    EXPECT_EQ((call), (code));                    \
    EXPECT_EQ(GetLastError(), DWORD(code));       \
  } while (0)

TEST_F(Registry, CreateReportsWhetherTheKeyIsNewAndOpenFindsItInAnyCase) {
  DWORD disposition = 0;
  HKEY a = CreateKey(HKEY_CLASSES_ROOT, u"Alpha\\Beta", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY b = CreateKey(HKEY_CLASSES_ROOT, u"ALPHA\\beta", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_NE(a, b);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, u"alpha\\BETA"));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, u"Alpha"));
  // The four roots are separate trees.
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, u"Alpha"));

  HKEY missing = 0x1234;
  EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Alpha\\Gamma", 0, KEY_READ, &missing));
  EXPECT_EQ(missing, 0u);
  EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);
}

TEST_F(Registry, NamesKeepTheCaseTheyWereCreatedWith) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, u"Case\\MixedName");
  CreateKey(HKEY_CURRENT_USER, u"CASE\\MIXEDNAME");
  ASSERT_EQ(SetString(key, u"ValueName", u"first"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, u"VALUENAME", u"second"), ERROR_SUCCESS);
  HKEY parent = CreateKey(HKEY_CURRENT_USER, u"case");
  EXPECT_EQ(Subkeys(parent), std::vector<std::u16string>{u"MixedName"});
  EXPECT_EQ(Values(key), std::vector<std::u16string>{u"ValueName"});
  EXPECT_EQ(QueryString(key, u"valuename"), u"second");
  // Letters beyond ASCII fold too.
  HKEY accented = CreateKey(HKEY_CURRENT_USER, u"Case\\\u00C9t\u00E9 \u0414\u043E\u043C");
  DWORD disposition = 0;
  CreateKey(HKEY_CURRENT_USER, u"case\\\u00E9T\u00C9 \u0434\u041E\u041C", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(accented);
}

TEST_F(Registry, ValuesOfEachTypeComeBackAsWritten) {
  struct Case {
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {u"text", REG_SZ, {'h', 0, 'i', 0, 0, 0}},
      {u"number", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
      {u"bytes", REG_BINARY, {0x0A, 0x1B, 0x00, 0xFF}},
      {u"nothing", REG_BINARY, {}},
      {u"none", REG_NONE, {}},
  };
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Types");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " size " << c.data.size());
    ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    DWORD type = 99, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.data.size());
    std::vector<BYTE> back(c.data.size() + 4, 0xEE);
    size = static_cast<DWORD>(back.size());
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, nullptr, back.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, c.data.size());
    back.resize(size);
    EXPECT_EQ(back, c.data);
  }
}

TEST_F(Registry, ABufferTooSmallGetsNothingAndTheSizeNeeded) {
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, u"Sizes");
  ASSERT_EQ(SetString(key, u"v", u"abcdef"), ERROR_SUCCESS);
  BYTE buffer[8];
  std::memset(buffer, 0xEE, sizeof buffer);
  DWORD size = sizeof buffer;
  EXPECT_FAILS_WITH(ERROR_MORE_DATA, RegQueryValueExW(key, u"v", nullptr, nullptr, buffer, &size));
  EXPECT_EQ(size, 14u);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, u"w", nullptr, nullptr, nullptr, &size));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegQueryValueExW(key, u"v", nullptr, nullptr, buffer, nullptr));

  // The same rule for enumerated values and names.
  size = 4;
  char16_t name[8];
  DWORD length = 8;
  EXPECT_FAILS_WITH(ERROR_MORE_DATA, RegEnumValueW(key, 0, name, &length, nullptr, nullptr, buffer, &size));
  EXPECT_EQ(size, 14u);
  length = 1;  // no room for the terminator
  EXPECT_FAILS_WITH(ERROR_MORE_DATA, RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  length = 2;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(std::u16string(name), u"v");

  CreateKey(key, u"Sub");
  length = 3;
  EXPECT_FAILS_WITH(ERROR_MORE_DATA, RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  length = 4;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(length, 3u);
}

TEST_F(Registry, TheDefaultValueEnumeratesWithAnEmptyName) {
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, u"Defaults");
  ASSERT_EQ(SetString(key, u"Zed", u"named"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, nullptr, u"unnamed"), ERROR_SUCCESS);
  char16_t name[16] = {u'x', u'x'};
  DWORD length = 16, type = 0;
  ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(name[0], 0);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Values(key), (std::vector<std::u16string>{u"", u"Zed"}));
  // A null name and an empty name are the same value.
  EXPECT_EQ(QueryString(key, u""), u"unnamed");
  EXPECT_EQ(RegDeleteValueW(key, u""), ERROR_SUCCESS);
  EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, nullptr));
  EXPECT_EQ(Values(key), std::vector<std::u16string>{u"Zed"});
}

TEST_F(Registry, IndexZeroAfterDeletingTheFirstSubkeyYieldsTheNext) {
  HKEY parent = CreateKey(HKEY_CLASSES_ROOT, u"Tree");
  for (const char16_t* name : {u"Cherry", u"apple", u"Banana"}) CreateKey(parent, name);
  std::vector<std::u16string> seen;
  for (;;) {
    char16_t name[256];
    DWORD length = 256;
    LONG rc = RegEnumKeyExW(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    seen.emplace_back(name);
    ASSERT_EQ(RegDeleteKeyW(parent, name), ERROR_SUCCESS);
  }
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"apple", u"Banana", u"Cherry"}));
}

TEST_F(Registry, EnumerationIsInNameOrderWithoutRegardToCase) {
  HKEY parent = CreateKey(HKEY_CURRENT_USER, u"Order");
  for (const char16_t* name : {u"b", u"_under", u"A", u"c2", u"C1", u"10", u"9"}) CreateKey(parent, name);
  // Upper-cased code units compared in order: digits, letters, then '_'.
  std::vector<std::u16string> expected = {u"10", u"9", u"A", u"b", u"C1", u"c2", u"_under"};
  EXPECT_EQ(Subkeys(parent), expected);
  // Any index can be asked for, in any order.
  for (DWORD index : {5u, 1u, 1u, 6u, 0u, 3u, 4u}) {
    SCOPED_TRACE(index);
    char16_t name[256];
    DWORD length = 256;
    ASSERT_EQ(RegEnumKeyExW(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), expected[index]);
  }
}

TEST_F(Registry, EnumerationSeesChangesMadeBetweenCalls) {
  HKEY parent = CreateKey(HKEY_CURRENT_USER, u"Changing");
  CreateKey(parent, u"A");
  CreateKey(parent, u"C");
  char16_t name[256];
  DWORD length = 256;
  ASSERT_EQ(RegEnumKeyExW(parent, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"A");
  // A key added through another handle moves "C" to index 2.
  HKEY other = CreateKey(HKEY_CURRENT_USER, u"Changing");
  CreateKey(other, u"B");
  length = 256;
  ASSERT_EQ(RegEnumKeyExW(parent, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"B");
  ASSERT_EQ(RegDeleteKeyW(other, u"A"), ERROR_SUCCESS);
  length = 256;
  ASSERT_EQ(RegEnumKeyExW(parent, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, AKeyWithSubkeysIsNotDeleted) {
  HKEY parent = CreateKey(HKEY_CLASSES_ROOT, u"Outer\\Inner");
  ASSERT_EQ(SetString(parent, nullptr, u"kept"), ERROR_SUCCESS);
  EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Outer"));
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, u"Outer\\Inner"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"outer\\inner"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Outer"), ERROR_SUCCESS);
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, u"Outer"));
  EXPECT_FAILS_WITH(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Outer"));
  // A root is never deleted.
  EXPECT_FAILS_WITH(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_USERS, u""));

  // The handle of a deleted key refuses further use; a key created again
  // under the same name is a new key, with none of the old values.
  EXPECT_FAILS_WITH(ERROR_KEY_DELETED, SetString(parent, u"late", u"x"));
  HKEY again = CreateKey(HKEY_CLASSES_ROOT, u"Outer\\Inner");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(again, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
}

TEST_F(Registry, AccessMasksDoNotRestrictAHandle) {
  CreateKey(HKEY_CLASSES_ROOT, u"Masks\\Child");
  HKEY reader = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Masks", 0, KEY_READ, &reader), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(reader, u"n", 7), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(reader, u"n"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(reader, u"Child"), ERROR_SUCCESS);
  HKEY none = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Masks", 0, 0, &none), ERROR_SUCCESS);
  DWORD disposition = 0;
  HKEY made = 0;
  EXPECT_EQ(RegCreateKeyExW(none, u"Made", 0, nullptr, 0, 0, nullptr, &made, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
}

TEST_F(Registry, OverlongNamesAndDeepNestingAreRefusedNotCut) {
  std::u16string longest(255, u'k'), tooLong(256, u'k');
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, longest.c_str());
  EXPECT_NE(key, 0u);
  HKEY refused = 0x55;
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (u"x\\" + tooLong).c_str(), 0,
                                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &refused, nullptr));
  EXPECT_EQ(refused, 0u);
  EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, u"x"));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegOpenKeyExW(HKEY_LOCAL_MACHINE, tooLong.c_str(), 0, KEY_READ, &refused));

  // Empty path components are refused too.
  for (const char16_t* path : {u"a\\\\b", u"\\a", u"a\\"}) {
    SCOPED_TRACE(std::char_traits<char16_t>::length(path));
    EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                                                               KEY_ALL_ACCESS, nullptr, &refused, nullptr));
  }

  // 512 levels below a root, and not one more; a refused path creates nothing.
  std::u16string deepest = u"d";
  for (int level = 2; level <= 512; ++level) deepest += u"\\d";
  HKEY bottom = CreateKey(HKEY_USERS, deepest.c_str());
  EXPECT_NE(bottom, 0u);
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER,
                    RegCreateKeyExW(bottom, u"e", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &refused, nullptr));
  std::u16string fresh = u"f";
  for (int level = 2; level <= 513; ++level) fresh += u"\\f";
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegCreateKeyExW(HKEY_USERS, fresh.c_str(), 0, nullptr, 0,
                                                             KEY_ALL_ACCESS, nullptr, &refused, nullptr));
  EXPECT_FALSE(Exists(HKEY_USERS, u"f"));
}

TEST_F(Registry, QueryInfoCountsSubkeysAndValues) {
  HKEY key = CreateKey(HKEY_CURRENT_USER, u"Info");
  CreateKey(key, u"One");
  CreateKey(key, u"Three");
  ASSERT_EQ(SetString(key, nullptr, u"default"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"Number", 3), ERROR_SUCCESS);
  DWORD subkeys = 99, maxSubkey = 99, values = 99, maxName = 99, maxData = 99;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxName,
                             &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(maxSubkey, 5u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 6u);
  EXPECT_EQ(maxData, 16u);
  HKEY empty = CreateKey(key, u"One");
  ASSERT_EQ(RegQueryInfoKeyW(empty, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 0u);
}

TEST_F(Registry, BadHandlesAndArgumentsAreRefusedWithTheLastErrorSet) {
  const HKEY bogus = 0x7777;
  HKEY out = 0;
  DWORD size = 0, length = 8;
  char16_t name[8];
  BYTE data[4] = {};
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegOpenKeyExW(bogus, u"x", 0, KEY_READ, &out));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE,
                    RegCreateKeyExW(bogus, u"x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegCloseKey(bogus));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegDeleteKeyW(bogus, u"x"));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, SetDword(bogus, u"x", 1));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegQueryValueExW(bogus, u"x", nullptr, nullptr, nullptr, &size));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegDeleteValueW(bogus, u"x"));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegEnumKeyExW(bogus, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE,
                    RegEnumValueW(bogus, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegQueryInfoKeyW(bogus, nullptr, nullptr, nullptr, &size, nullptr, nullptr,
                                                           nullptr, nullptr, nullptr, nullptr, nullptr));

  HKEY key = CreateKey(HKEY_CURRENT_USER, u"Args");
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegOpenKeyExW(key, u"x", 0, KEY_READ, nullptr));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegSetValueExW(key, u"d", 0, REG_DWORD, data, 2));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegSetValueExW(key, u"t", 0, 77, data, 4));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegSetValueExW(key, u"n", 0, REG_BINARY, nullptr, 4));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegSetValueExW(key, u"r", 1, REG_BINARY, data, 4));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegDeleteKeyW(key, nullptr));
  EXPECT_FAILS_WITH(ERROR_INVALID_PARAMETER, RegEnumKeyExW(key, 0, nullptr, &length, nullptr, nullptr, nullptr,
                                                           nullptr));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_FAILS_WITH(ERROR_INVALID_HANDLE, RegCloseKey(key));
  // The roots need no closing, and closing them does no harm.
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(HKEY_CLASSES_ROOT, u""));
}

TEST_F(Registry, ANewRegistryStartsEmpty) {
  CreateKey(HKEY_CLASSES_ROOT, u"Leftover");
  quibtest::UseRegistry(":memory:");
  EXPECT_FALSE(Exists(HKEY_CLASSES_ROOT, u"Leftover"));
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
    EXPECT_TRUE(Subkeys(root).empty());
}

}  // namespace
