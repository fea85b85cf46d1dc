// A second process for the registration tests: prints the default value of
// a key under HKEY_CLASSES_ROOT, read from the registry that QUIB_REGISTRY
// names, or "<missing>".
#include <cstdio>
#include <string>

#include "platform/registry.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::u16string path;
  for (const char* c = argv[1]; *c; ++c) path += static_cast<char16_t>(static_cast<unsigned char>(*c));
  HKEY key = 0;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != 0) {
    std::puts("<missing>");
    return 0;
  }
  char16_t value[1024] = {};
  DWORD type = 0, size = sizeof value - sizeof(char16_t);
  const LONG error = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (error != 0 || type != REG_SZ) {
    std::puts("<no value>");
    return 0;
  }
  std::string out;
  for (const char16_t* c = value; *c; ++c) out += *c < 0x80 ? static_cast<char>(*c) : '?';
  std::puts(out.c_str());
  return 0;
}
