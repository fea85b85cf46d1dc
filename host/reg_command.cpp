// quibhost reg: the registry as ".reg" text, exported or imported.
//
// The text is UTF-8. Sections are "[ROOT\path]" ("[-ROOT\path]" deletes a
// tree on import); "@" is the default value; strings are quoted with \\ and
// \" escaped; dword:XXXXXXXX; hex:bb,bb,... for binary and hex(0): for
// REG_NONE values; a value "=-" is deleted on import.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "commands.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "wide.h"

namespace quibhost {

namespace {

constexpr const char* kHelp =
    "usage: quibhost reg export [KEY]\n"
    "       quibhost reg import FILE\n"
    "\n"
    "export prints KEY and everything beneath it (without KEY, the whole registry) as\n"
    "\".reg\" text. KEY starts with a root: HKEY_CLASSES_ROOT (HKCR), HKEY_CURRENT_USER\n"
    "(HKCU), HKEY_LOCAL_MACHINE (HKLM) or HKEY_USERS (HKU).\n"
    "import applies a \".reg\" file: [KEY] sections create keys, [-KEY] deletes a tree,\n"
    "\"name\"=- deletes a value.\n";

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

struct Root {
  const char* name;
  const char* shortName;
  HKEY key;
};
constexpr Root kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

bool EqualNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Splits "ROOT\a\b" into its root and the path below it.
bool SplitKey(const std::string& text, const Root** root, std::string* path) {
  std::size_t slash = text.find('\\');
  std::string head = text.substr(0, slash);
  for (const Root& r : kRoots)
    if (EqualNoCase(head, r.name) || EqualNoCase(head, r.shortName)) {
      *root = &r;
      *path = slash == std::string::npos ? "" : text.substr(slash + 1);
      while (!path->empty() && path->back() == '\\') path->pop_back();
      return true;
    }
  return false;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexBytes(const char* prefix, const std::vector<BYTE>& data) {
  std::string out = prefix;
  char byte[4];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    if (i) out += ',';
    out += byte;
  }
  return out;
}

// Writes one value line; false when the value cannot be read.
bool ExportValue(HKEY key, const std::u16string& name, std::ostream& out) {
  DWORD type = 0, size = 0;
  LPCWSTR valueName = name.empty() ? nullptr : name.c_str();
  if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  std::vector<BYTE> data(size);
  if (RegQueryValueExW(key, valueName, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
  data.resize(size);
  out << (name.empty() ? std::string("@") : Quote(Narrow(name.c_str()))) << '=';
  if (type == REG_SZ) {
    std::size_t chars = data.size() / sizeof(WCHAR);
    std::u16string text(chars, u'\0');
    std::memcpy(text.data(), data.data(), chars * sizeof(WCHAR));
    while (!text.empty() && text.back() == 0) text.pop_back();
    out << Quote(Narrow(text.data(), text.size()));
  } else if (type == REG_DWORD && data.size() == 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    char text[20];
    std::snprintf(text, sizeof text, "dword:%08x", v);
    out << text;
  } else if (type == REG_BINARY) {
    out << HexBytes("hex:", data);
  } else {
    out << HexBytes(("hex(" + std::to_string(type) + "):").c_str(), data);
  }
  out << "\n";
  return true;
}

LONG ExportKey(HKEY key, const std::string& path, std::ostream& out, int depth) {
  out << "\n[" << path << "]\n";
  std::vector<WCHAR> name(16384);
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG rc = RegEnumValueW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    ExportValue(key, std::u16string(name.data(), length), out);
  }
  if (depth > 512) return ERROR_SUCCESS;
  for (DWORD i = 0;; ++i) {
    WCHAR child[256];
    DWORD length = 256;
    LONG rc = RegEnumKeyExW(key, i, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    HKEY sub = 0;
    if (RegOpenKeyExW(key, child, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    rc = ExportKey(sub, path + "\\" + Narrow(child, length), out, depth + 1);
    RegCloseKey(sub);
    if (rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

// Opens root\path; with create, makes every missing level.
LONG OpenPath(HKEY root, const std::string& path, bool create, HKEY* result) {
  HKEY current = root;
  *result = 0;
  std::size_t start = 0;
  if (path.empty()) return RegOpenKeyExW(root, nullptr, 0, KEY_ALL_ACCESS, result);
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::u16string part = Wide(path.substr(start, end - start));
    HKEY next = 0;
    LONG rc = create ? RegCreateKeyExW(current, part.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr)
                     : RegOpenKeyExW(current, part.c_str(), 0, KEY_ALL_ACCESS, &next);
    if (current != root) RegCloseKey(current);
    if (rc != ERROR_SUCCESS) return rc;
    current = next;
    start = end + 1;
  }
  *result = current;
  return ERROR_SUCCESS;
}

LONG DeleteTree(HKEY parent, const std::u16string& name, int depth) {
  HKEY key = 0;
  LONG rc = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (rc != ERROR_SUCCESS) return rc;
  WCHAR child[256];
  DWORD length = 256;
  while (depth < 600 && RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
    rc = DeleteTree(key, std::u16string(child, length), depth + 1);
    if (rc != ERROR_SUCCESS) break;
    length = 256;
  }
  RegCloseKey(key);
  return RegDeleteKeyW(parent, name.c_str());
}

int Export(const Args& args) {
  std::ostringstream out;
  out << kHeader << "\n";
  std::vector<std::pair<const Root*, std::string>> keys;
  if (args.empty()) {
    for (const Root& r : kRoots) keys.push_back({&r, ""});
  } else {
    const Root* root = nullptr;
    std::string path;
    if (!SplitKey(args[0], &root, &path)) {
      Fail("reg export: '" + args[0] + "' does not start with a root key (HKCR, HKCU, HKLM, HKU)");
      return kExitUsage;
    }
    keys.push_back({root, path});
  }
  for (const auto& [root, path] : keys) {
    HKEY key = 0;
    LONG rc = OpenPath(root->key, path, false, &key);
    if (rc != ERROR_SUCCESS) {
      if (args.empty()) continue;  // an empty root has nothing to show
      Fail("reg export: cannot open " + args[0] + ": " + PlatformErrorText(static_cast<DWORD>(rc)));
      return kExitFailure;
    }
    rc = ExportKey(key, path.empty() ? root->name : std::string(root->name) + "\\" + path, out, 0);
    if (key != root->key) RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
      Fail("reg export: cannot read the registry: " + PlatformErrorText(static_cast<DWORD>(rc)));
      return kExitFailure;
    }
  }
  std::fputs(out.str().c_str(), stdout);
  return kExitOk;
}

// Parses a quoted string at text[pos]; pos moves past it.
bool ParseQuoted(const std::string& text, std::size_t& pos, std::string* value) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  value->clear();
  while (pos < text.size() && text[pos] != '"') {
    if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
    *value += text[pos++];
  }
  if (pos >= text.size()) return false;
  ++pos;
  return true;
}

bool ParseHex(const std::string& text, std::vector<BYTE>* data) {
  data->clear();
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c == ',') {
      if (digits.empty() || digits.size() > 2) return false;
      data->push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  if (!digits.empty()) {
    if (digits.size() > 2) return false;
    data->push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
  }
  return true;
}

// Applies one value line to key; returns an error text, empty on success.
std::string ImportValue(HKEY key, const std::string& line) {
  std::size_t pos = 0;
  std::string name;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ParseQuoted(line, pos, &name)) {
    return "a value name must be @ or a quoted string";
  }
  if (pos >= line.size() || line[pos] != '=') return "'=' expected after the value name";
  std::string data = line.substr(pos + 1);
  std::u16string wideName = Wide(name);
  LPCWSTR valueName = line[0] == '@' ? nullptr : wideName.c_str();
  LONG rc;
  if (data == "-") {
    rc = RegDeleteValueW(key, valueName);
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  } else if (!data.empty() && data[0] == '"') {
    std::string text;
    std::size_t p = 0;
    if (!ParseQuoted(data, p, &text) || p != data.size()) return "unterminated string value";
    std::u16string wide = Wide(text);
    rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR)));
  } else if (data.rfind("dword:", 0) == 0) {
    std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return "dword: needs one to eight hexadecimal digits";
    DWORD v = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
    rc = RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
  } else if (data.rfind("hex", 0) == 0) {
    DWORD type = REG_BINARY;
    std::size_t colon = data.find(':');
    if (colon == std::string::npos) return "hex values are written hex:bb,bb or hex(N):bb,bb";
    if (data[3] == '(') {
      std::size_t close = data.find(')');
      if (close == std::string::npos || close + 1 != colon) return "hex(N): expected";
      std::string n = data.substr(4, close - 4);
      if (n.empty() || n.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return "bad hex(N) type";
      type = static_cast<DWORD>(std::stoul(n, nullptr, 16));
    } else if (colon != 3) {
      return "hex values are written hex:bb,bb or hex(N):bb,bb";
    }
    std::vector<BYTE> bytes;
    if (!ParseHex(data.substr(colon + 1), &bytes)) return "bad hexadecimal bytes";
    rc = RegSetValueExW(key, valueName, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  } else {
    return "unknown value type (expected \"text\", dword:, hex: or -)";
  }
  if (rc != ERROR_SUCCESS) return "the registry refused the value: " + PlatformErrorText(static_cast<DWORD>(rc));
  return {};
}

int Import(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    Fail("reg import: cannot open " + file + ": " + std::strerror(errno));
    return kExitFailure;
  }
  std::vector<std::string> lines;
  std::string line, pending;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.back() == '\\') {  // continued on the next line
      std::size_t first = pending.empty() ? 0 : line.find_first_not_of(" \t");
      pending += line.substr(first, line.size() - 1 - first);
      continue;
    }
    if (!pending.empty()) {
      std::size_t first = line.find_first_not_of(" \t");
      line = pending + (first == std::string::npos ? "" : line.substr(first));
      pending.clear();
    }
    lines.push_back(line);
  }
  if (lines.empty() || lines[0].find(kHeader) == std::string::npos) {
    Fail("reg import: " + file + " does not start with \"" + kHeader + "\"");
    return kExitFailure;
  }
  HKEY current = 0;
  int failures = 0;
  auto closeCurrent = [&] {
    if (current) RegCloseKey(current);
    current = 0;
  };
  for (std::size_t n = 1; n < lines.size(); ++n) {
    const std::string& l = lines[n];
    std::string where = file + ":" + std::to_string(n + 1) + ": ";
    if (l.empty() || l[0] == ';') continue;
    if (l[0] == '[') {
      closeCurrent();
      if (l.back() != ']') {
        Fail("reg import: " + where + "a section ends with ']'");
        ++failures;
        continue;
      }
      bool remove = l.size() > 1 && l[1] == '-';
      std::string name = l.substr(remove ? 2 : 1, l.size() - (remove ? 3 : 2));
      const Root* root = nullptr;
      std::string path;
      if (!SplitKey(name, &root, &path)) {
        Fail("reg import: " + where + "'" + name + "' does not start with a root key");
        ++failures;
        continue;
      }
      if (remove) {
        std::size_t slash = path.rfind('\\');
        HKEY parent = root->key;
        LONG rc = slash == std::string::npos ? ERROR_SUCCESS : OpenPath(root->key, path.substr(0, slash), false, &parent);
        if (rc == ERROR_SUCCESS && !path.empty()) {
          rc = DeleteTree(parent, Wide(slash == std::string::npos ? path : path.substr(slash + 1)), 0);
          if (parent != root->key) RegCloseKey(parent);
        }
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
          Fail("reg import: " + where + "cannot delete " + name + ": " + PlatformErrorText(static_cast<DWORD>(rc)));
          ++failures;
        }
        continue;
      }
      LONG rc = OpenPath(root->key, path, true, &current);
      if (rc != ERROR_SUCCESS) {
        Fail("reg import: " + where + "cannot create " + name + ": " + PlatformErrorText(static_cast<DWORD>(rc)));
        ++failures;
        current = 0;
      }
      if (current == root->key) current = 0;  // values directly under a root are not kept
      continue;
    }
    if (!current) {
      Fail("reg import: " + where + "a value line outside a key section");
      ++failures;
      continue;
    }
    std::string error = ImportValue(current, l);
    if (!error.empty()) {
      Fail("reg import: " + where + error);
      ++failures;
    }
  }
  closeCurrent();
  return failures ? kExitFailure : kExitOk;
}

}  // namespace

int RegCommand(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (!args.empty() && args[0] == "export" && args.size() <= 2) return Export(Args(args.begin() + 1, args.end()));
  if (args.size() == 2 && args[0] == "import") return Import(args[1]);
  Fail("reg: expected 'export [KEY]' or 'import FILE' (see quibhost reg --help)");
  return kExitUsage;
}

}  // namespace quibhost
