// The client side of the object model: GUID text, program identifiers, and
// in-process servers loaded through the registry's InprocServer32 path.
#include "platform/activation.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/loader.h"
#include "platform/registry.h"

namespace {

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();

int HexValue(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false on a non-hex character.
bool ReadHex(LPCWSTR text, std::size_t pos, int digits, std::uint32_t* value) {
  std::uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int h = HexValue(text[pos + i]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(h);
  }
  *value = v;
  return true;
}

// The default value of HKCR\<path> as a string; empty when missing.
std::u16string ReadDefault(const std::u16string& path) {
  HKEY key = 0;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  DWORD type = 0, size = 0;
  std::u16string value;
  if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ &&
      size >= sizeof(WCHAR)) {
    std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 1, 0);
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS)
      value.assign(buffer.data());
  }
  RegCloseKey(key);
  return value;
}

bool KeyExists(const std::u16string& path) {
  HKEY key = 0;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::u16string GuidText(REFGUID guid) {
  WCHAR text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

// Servers loaded on behalf of clients, until they agree to be unloaded.
struct LoadedServer {
  std::u16string path;
  HMODULE module;
};
std::mutex g_serversLock;
std::vector<LoadedServer> g_servers;

}  // namespace

HRESULT CLSIDFromString(LPCWSTR text, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (!text) return S_OK;
  std::size_t n = 0;
  while (text[n]) ++n;
  if (n != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' ||
      text[24] != u'-')
    return CO_E_CLASSSTRING;
  GUID g{};
  std::uint32_t v = 0;
  if (!ReadHex(text, 1, 8, &g.Data1)) return CO_E_CLASSSTRING;
  if (!ReadHex(text, 10, 4, &v)) return CO_E_CLASSSTRING;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(text, 15, 4, &v)) return CO_E_CLASSSTRING;
  g.Data3 = static_cast<std::uint16_t>(v);
  static constexpr std::size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, &v)) return CO_E_CLASSSTRING;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  *clsid = g;
  return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
  if (!buffer || capacity < 39) return 0;
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  for (int i = 0; i < 39; ++i) buffer[i] = static_cast<WCHAR>(text[i]);
  return 39;
}

HRESULT CLSIDFromProgID(LPCWSTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (progId[0] == u'{') return CLSIDFromString(progId, clsid);
  std::u16string name = progId;
  // CurVer names the current version's identifier; a cycle ends the walk.
  for (int hops = 0; hops < 16; ++hops) {
    std::u16string current = ReadDefault(name + u"\\CurVer");
    if (current.empty() || current == name || !KeyExists(current)) break;
    name = current;
  }
  std::u16string text = ReadDefault(name + u"\\CLSID");
  if (text.empty()) return CO_E_CLASSSTRING;
  return CLSIDFromString(text.c_str(), clsid);
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  std::u16string path = ReadDefault(u"CLSID\\" + GuidText(clsid) + u"\\InprocServer32");
  if (path.empty()) return REGDB_E_CLASSNOTREG;

  HMODULE module = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_serversLock);
    for (const LoadedServer& s : g_servers)
      if (s.path == path) module = s.module;
    if (!module) {
      module = LoadLibraryW(path.c_str());
      if (!module) return CO_E_DLLNOTFOUND;
      g_servers.push_back({path, module});
    }
  }
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(GetProcAddressW(module, u"DllGetClassObject"));
  if (!getClassObject) return CO_E_ERRORINDLL;
  return getClassObject(clsid, iid, out);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, iid, out);
  factory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> hold(g_serversLock);
  for (auto it = g_servers.begin(); it != g_servers.end();) {
    auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(GetProcAddressW(it->module, u"DllCanUnloadNow"));
    if (canUnload && canUnload() == S_OK) {
      FreeLibrary(it->module);
      it = g_servers.erase(it);
    } else {
      ++it;
    }
  }
}
