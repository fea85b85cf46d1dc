// quibhost script: a registry script file applied to the registry by the same
// interpreter that the library's own registration uses.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "commands.h"
#include "hresult_names.h"
#include "platform/heaps.h"
#include "platform/resources.h"
#include "registration/script_runner.h"
#include "wide.h"

namespace quibhost {

namespace {
constexpr const char* kHelp =
    "usage: quibhost script [-u] [--module PATH] [--set NAME=VALUE]... FILE\n"
    "\n"
    "Applies the registry script FILE to the registry, in register mode or with -u in\n"
    "unregister mode, as a library's self-registration does: every %NAME% placeholder\n"
    "is filled in first (%% is a literal '%'), and a root section that fails while\n"
    "registering is undone. The text is read in the default code page (UTF-8).\n"
    "  -u                 unregister\n"
    "  --module PATH      the value of %MODULE% (single quotes doubled, as for a library)\n"
    "  --set NAME=VALUE   a further placeholder (names up to 31 characters)\n"
    "Prints the result in hex and by name; exits 0 on success, 1 on failure, 2 on usage.\n";
}  // namespace

int ScriptCommand(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  bool unregister = false;
  std::string module, file;
  bool haveModule = false;
  std::vector<std::pair<std::u16string, std::u16string>> sets;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-u") {
      unregister = true;
    } else if ((a == "--module" || a == "--set") && i + 1 < args.size()) {
      const std::string& value = args[++i];
      if (a == "--module") {
        module = value;
        haveModule = true;
      } else {
        std::size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0) {
          Fail("script: --set takes NAME=VALUE, not '" + value + "'");
          return kExitUsage;
        }
        sets.push_back({Wide(value.substr(0, eq)), Wide(value.substr(eq + 1))});
      }
    } else if (!a.empty() && a[0] == '-') {
      Fail("script: unknown option '" + a + "' (see quibhost script --help)");
      return kExitUsage;
    } else if (file.empty()) {
      file = a;
    } else {
      Fail("script: more than one script named");
      return kExitUsage;
    }
  }
  if (file.empty()) {
    Fail("script: no script named (see quibhost script --help)");
    return kExitUsage;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    Fail("script: cannot open " + file + ": " + std::strerror(errno));
    return kExitFailure;
  }
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string text = bytes.str();
  text = text.substr(0, text.find('\0'));  // the script ends at a NUL, as a resource does
  std::vector<WCHAR> wide(text.size() + 1, 0);
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));

  ReplacementMap map;
  if (haveModule) {
    std::u16string path = Wide(module);
    std::vector<WCHAR> escaped(2 * path.size() + 1, 0);
    EscapeSingleQuotes(escaped.data(), path.c_str());
    if (FAILED(map.Add(u"Module", escaped.data()))) {
      Fail("script: out of memory");
      return kExitFailure;
    }
  }
  for (const auto& [name, value] : sets) {
    if (FAILED(map.Add(name.c_str(), value.c_str()))) {
      Fail("script: out of memory");
      return kExitFailure;
    }
  }
  RegistryScriptParser parser{nullptr, &map};
  HRESULT hr = RunScript(parser, wide.data(), unregister ? FALSE : TRUE);
  std::string what = std::string(unregister ? "unregister" : "register") + " " + file;
  if (FAILED(hr)) {
    Fail("script: " + what + " failed: " + DescribeHresult(hr));
    return kExitFailure;
  }
  std::printf("%s: %s\n", what.c_str(), DescribeHresult(hr).c_str());
  return kExitOk;
}

}  // namespace quibhost
