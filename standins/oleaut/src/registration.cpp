// Registered type libraries: LoadRegTypeLib, RegisterTypeLib, UnRegisterTypeLib.
//
// Entries under HKEY_CLASSES_ROOT:
//   TypeLib\{libid}\maj.min            (default) help string
//   TypeLib\{libid}\maj.min\lcid\win32 (default) full path
//   TypeLib\{libid}\maj.min\FLAGS      (default) library flags, decimal
//   TypeLib\{libid}\maj.min\HELPDIR    (default) help directory
//   Interface\{iid}                    (default) interface name, with ProxyStubClsid,
//                                      ProxyStubClsid32 and TypeLib (plus "Version") below
// Versions and locales are written in hexadecimal.
#include <cstdio>
#include <string>

#include "platform/errors.h"
#include "platform/registry.h"
#include "typelib.h"

namespace {

// Marshalers named in the Interface entries of dual and dispatch interfaces.
constexpr const char16_t* kDualMarshaler = u"{00020424-0000-0000-C000-000000000046}";
constexpr const char16_t* kDispatchMarshaler = u"{00020420-0000-0000-C000-000000000046}";

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

std::u16string GuidText(const GUID& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return Ascii(buffer);
}

std::u16string Hex(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", value);
  return Ascii(buffer);
}

std::u16string VersionText(WORD major, WORD minor) { return Hex(major) + u"." + Hex(minor); }

const char16_t* SysKindName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16: return u"win16";
    case SYS_MAC: return u"mac";
    case SYS_WIN64: return u"win64";
    default: return u"win32";
  }
}

// Closes a key at the end of a scope.
struct Key {
  HKEY handle = 0;
  ~Key() {
    if (handle) RegCloseKey(handle);
  }
};

LONG SetDefault(const std::u16string& path, const std::u16string* value, const char16_t* valueName = nullptr) {
  Key key;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key.handle, nullptr);
  if (rc != ERROR_SUCCESS || !value) return rc;
  return RegSetValueExW(key.handle, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                        static_cast<DWORD>((value->size() + 1) * sizeof(char16_t)));
}

bool ReadDefault(HKEY parent, const std::u16string& path, std::u16string& out) {
  Key key;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key.handle) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.handle, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
    return false;
  std::u16string value(size / sizeof(char16_t) + 1, u'\0');
  DWORD capacity = static_cast<DWORD>(value.size() * sizeof(char16_t));
  if (RegQueryValueExW(key.handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &capacity) !=
      ERROR_SUCCESS)
    return false;
  value.resize(value.find(u'\0') == std::u16string::npos ? value.size() : value.find(u'\0'));
  out = value;
  return true;
}

std::vector<std::u16string> SubKeys(HKEY parent, const std::u16string& path) {
  std::vector<std::u16string> names;
  Key key;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key.handle) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

void DeleteTree(const std::u16string& path) {
  for (const auto& child : SubKeys(HKEY_CLASSES_ROOT, path)) DeleteTree(path + u"\\" + child);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
}

bool ParseHex(const std::u16string& s, unsigned& out) {
  if (s.empty() || s.size() > 4) return false;
  out = 0;
  for (char16_t c : s) {
    int d = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : c >= u'A' && c <= u'F' ? c - u'A' + 10 : -1;
    if (d < 0) return false;
    out = out * 16 + static_cast<unsigned>(d);
  }
  return true;
}

// The registered version key of libid with this major version and the
// highest minor version at or above minor.
bool FindVersion(const std::u16string& libKey, WORD major, WORD minor, std::u16string& out) {
  long best = -1;
  for (const auto& name : SubKeys(HKEY_CLASSES_ROOT, libKey)) {
    std::size_t dot = name.find(u'.');
    unsigned ma, mi;
    if (dot == std::u16string::npos || !ParseHex(name.substr(0, dot), ma) || !ParseHex(name.substr(dot + 1), mi))
      continue;
    if (ma == major && mi >= minor && static_cast<long>(mi) > best) {
      best = mi;
      out = name;
    }
  }
  return best >= 0;
}

bool IsAutomationInterface(const TYPEATTR& attr) {
  return attr.typekind == TKIND_DISPATCH ||
         (attr.typekind == TKIND_INTERFACE && (attr.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
}

// Calls visit(info, attr) for each automation interface of the library.
template <class Visit>
void ForEachAutomationInterface(ITypeLib* lib, Visit&& visit) {
  for (UINT i = 0, n = lib->GetTypeInfoCount(); i < n; ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(lib->GetTypeInfo(i, &info))) continue;
    TYPEATTR* ta = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&ta))) {
      if (IsAutomationInterface(*ta)) visit(info, *ta);
      info->ReleaseTypeAttr(ta);
    }
    info->Release();
  }
}

}  // namespace

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, ITypeLib** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (libid == LIBID_stdole && major == 2) {
    *out = oleaut::StandardLibrary();
    return S_OK;
  }
  std::u16string libKey = u"TypeLib\\" + GuidText(libid), version;
  if (!FindVersion(libKey, major, minor, version)) return TYPE_E_LIBNOTREGISTERED;
  std::u16string versionKey = libKey + u"\\" + version, path;
  const std::u16string locales[] = {Hex(locale), Hex(locale & 0x3FF), u"0"};
  for (const auto& lcid : locales)
    for (const char16_t* kind : {u"win32", u"win64"})
      if (ReadDefault(HKEY_CLASSES_ROOT, versionKey + u"\\" + lcid + u"\\" + kind, path) && !path.empty())
        return LoadTypeLib(path.c_str(), out);
  return TYPE_E_LIBNOTREGISTERED;
}

HRESULT RegisterTypeLib(ITypeLib* lib, LPCWSTR fullPath, LPCWSTR helpDir) {
  if (!lib || !fullPath) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  GUID libid = attr->guid;
  std::u16string versionText = VersionText(attr->wMajorVerNum, attr->wMinorVerNum);
  std::u16string versionKey = u"TypeLib\\" + GuidText(libid) + u"\\" + versionText;
  std::u16string localeKey = versionKey + u"\\" + Hex(attr->lcid) + u"\\" + SysKindName(attr->syskind);
  std::u16string flags = Ascii(std::to_string(attr->wLibFlags).c_str());
  lib->ReleaseTLibAttr(attr);

  BSTR name = nullptr, doc = nullptr;
  hr = lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  std::u16string description = doc ? std::u16string(doc, SysStringLen(doc)) : name ? std::u16string(name) : u"";
  SysFreeString(name);
  SysFreeString(doc);

  std::u16string path = fullPath, dir = helpDir ? helpDir : u"";
  if (SetDefault(versionKey, &description) != ERROR_SUCCESS || SetDefault(localeKey, &path) != ERROR_SUCCESS ||
      SetDefault(versionKey + u"\\FLAGS", &flags) != ERROR_SUCCESS ||
      SetDefault(versionKey + u"\\HELPDIR", &dir) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;

  std::u16string libText = GuidText(libid);
  ForEachAutomationInterface(lib, [&](ITypeInfo* info, const TYPEATTR& ta) {
    BSTR typeName = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
    std::u16string key = u"Interface\\" + GuidText(ta.guid);
    std::u16string shown = typeName ? std::u16string(typeName, SysStringLen(typeName)) : u"";
    std::u16string marshaler =
        (ta.wTypeFlags & TYPEFLAG_FDUAL) || ta.typekind == TKIND_INTERFACE ? kDualMarshaler : kDispatchMarshaler;
    bool ok = SetDefault(key, &shown) == ERROR_SUCCESS &&
              SetDefault(key + u"\\ProxyStubClsid", &marshaler) == ERROR_SUCCESS &&
              SetDefault(key + u"\\ProxyStubClsid32", &marshaler) == ERROR_SUCCESS &&
              SetDefault(key + u"\\TypeLib", &libText) == ERROR_SUCCESS &&
              SetDefault(key + u"\\TypeLib", &versionText, u"Version") == ERROR_SUCCESS;
    SysFreeString(typeName);
    if (!ok) hr = TYPE_E_REGISTRYACCESS;
  });
  return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, SYSKIND syskind) {
  std::u16string libKey = u"TypeLib\\" + GuidText(libid);
  std::u16string versionKey = libKey + u"\\" + VersionText(major, minor);
  std::u16string localeKey = versionKey + u"\\" + Hex(locale);
  std::u16string kindKey = localeKey + u"\\" + SysKindName(syskind);
  std::u16string path;
  if (!ReadDefault(HKEY_CLASSES_ROOT, kindKey, path)) return TYPE_E_REGISTRYACCESS;

  // The library's automation interfaces, where they still point at it.
  ITypeLib* lib = nullptr;
  if (!path.empty() && SUCCEEDED(LoadTypeLib(path.c_str(), &lib))) {
    std::u16string libText = GuidText(libid);
    ForEachAutomationInterface(lib, [&](ITypeInfo*, const TYPEATTR& ta) {
      std::u16string key = u"Interface\\" + GuidText(ta.guid), owner;
      if (ReadDefault(HKEY_CLASSES_ROOT, key + u"\\TypeLib", owner) && owner == libText) DeleteTree(key);
    });
    lib->Release();
  }
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kindKey.c_str());
  if (SubKeys(HKEY_CLASSES_ROOT, localeKey).empty()) RegDeleteKeyW(HKEY_CLASSES_ROOT, localeKey.c_str());
  bool otherLocales = false;
  for (const auto& name : SubKeys(HKEY_CLASSES_ROOT, versionKey))
    if (name != u"FLAGS" && name != u"HELPDIR") otherLocales = true;
  if (!otherLocales) DeleteTree(versionKey);
  if (SubKeys(HKEY_CLASSES_ROOT, libKey).empty()) RegDeleteKeyW(HKEY_CLASSES_ROOT, libKey.c_str());
  return S_OK;
}
