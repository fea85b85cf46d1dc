// A second process for the registry tests: writes or checks a set of keys in
// the registry file that QUIB_REGISTRY names. Exit status 0 means done.
//
//   registry_peer write PREFIX COUNT   creates HKCU\Peer\PREFIXi for i < COUNT,
//                                      default value "PREFIXi", DWORD "n" = i
//   registry_peer check PREFIX COUNT   exits 0 when all of them are there
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry.h"

namespace {

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

int Write(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    std::u16string name = u"Peer\\" + Wide(prefix + std::to_string(i));
    HKEY key = 0;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              &disposition);
    if (rc != 0) return std::fprintf(stderr, "create %d: %d\n", i, rc), 2;
    std::u16string text = Wide(prefix + std::to_string(i));
    rc = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * 2));
    DWORD n = static_cast<DWORD>(i);
    if (rc == 0) rc = RegSetValueExW(key, u"n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    RegCloseKey(key);
    if (rc != 0) return std::fprintf(stderr, "set %d: %d\n", i, rc), 3;
  }
  return 0;
}

int Check(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    std::u16string name = u"Peer\\" + Wide(prefix + std::to_string(i));
    HKEY key = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key) != 0) return 4;
    char16_t text[64] = {};
    DWORD size = sizeof text, type = 0, n = 0, nSize = sizeof n;
    LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (rc == 0) rc = RegQueryValueExW(key, u"n", nullptr, nullptr, reinterpret_cast<BYTE*>(&n), &nSize);
    RegCloseKey(key);
    if (rc != 0 || type != REG_SZ || text != Wide(prefix + std::to_string(i)) || n != static_cast<DWORD>(i))
      return 5;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 64;
  std::string command = argv[1], prefix = argv[2];
  int count = std::atoi(argv[3]);
  if (command == "write") return Write(prefix, count);
  if (command == "check") return Check(prefix, count);
  return 64;
}
