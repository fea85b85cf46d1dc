// Test helpers for registration: a fresh in-memory registry per test, and the
// registry's content under a root as a set of lines, read through the
// registry routines as any client would.
#pragma once

#include <gtest/gtest.h>
#include <quibtest/registry.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/registry.h"

namespace quibtest {

inline std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// One line per key ("A\B") and per value ("A\B @name = S:text"; the default
// value shows as "@"), for the whole tree under root.
using RegistryLines = std::set<std::string>;

inline void CollectKey(HKEY key, const std::string& path, RegistryLines& lines) {
  if (!path.empty()) lines.insert(path);
  for (DWORD i = 0;; ++i) {
    // On the heap: the walk recurses as deep as the registry goes.
    std::u16string name(4096, u'\0');
    std::string bytes(8192, '\0');
    BYTE* data = reinterpret_cast<BYTE*>(bytes.data());
    DWORD nameLength = 4096;
    DWORD type = 0;
    DWORD size = 8192;
    if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data, &size) != 0) break;
    std::string line = path + " @" + Narrow(name.substr(0, nameLength)) + " = ";
    if (type == REG_SZ) {
      std::u16string text(size / 2, u'\0');
      std::memcpy(text.data(), data, text.size() * 2);
      while (!text.empty() && text.back() == 0) text.pop_back();
      line += "S:" + Narrow(text);
    } else if (type == REG_DWORD && size == 4) {
      DWORD number;
      std::memcpy(&number, data, 4);
      line += "D:" + std::to_string(number);
    } else {
      line += "T" + std::to_string(type) + ":";
      for (DWORD b = 0; b < size; ++b) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", data[b]);
        line += hex;
      }
    }
    lines.insert(line);
  }
  for (DWORD i = 0;; ++i) {
    char16_t name[256];
    DWORD nameLength = 256;
    FILETIME written{};
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, &written) != 0) break;
    HKEY child = 0;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != 0) continue;
    std::string childName = Narrow(std::u16string(name, nameLength));
    CollectKey(child, path.empty() ? childName : path + "\\" + childName, lines);
    RegCloseKey(child);
  }
}

inline RegistryLines Snapshot(HKEY root = HKEY_CURRENT_USER) {
  RegistryLines lines;
  CollectKey(root, "", lines);
  return lines;
}

// Opens (creating) the key at path under root and writes its default value, if given.
inline void PutKey(HKEY root, const std::u16string& path, const char16_t* defaultValue = nullptr,
                   const char16_t* valueName = nullptr) {
  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition), 0)
      << Narrow(path);
  if (defaultValue) {
    std::u16string v = defaultValue;
    RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * 2));
  }
  RegCloseKey(key);
}

// Every test starts on an empty registry of its own.
class InMemoryRegistry : public ::testing::Test {
 protected:
  void SetUp() override { UseRegistry(":memory:"); }
  void TearDown() override { UseRegistry(":memory:"); }
};

}  // namespace quibtest
