// quibhost: an automation client that uses the library as a device's script
// host and tools would.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"

namespace {

constexpr const char* kUsage =
    "usage: quibhost [--registry FILE] COMMAND [ARGS...]\n"
    "\n"
    "An automation client for in-process servers such as libquibvoicerec.so.\n"
    "\n"
    "Commands:\n"
    "  register [-u] [-s] LIBRARY   register (or with -u unregister) a library\n"
    "  demo [LIBRARY]               register, record a voice note, play it, unregister\n"
    "  call PROGID MEMBER [ARG...]  one late-bound call on a new object\n"
    "  script [-u] [--module PATH] [--set NAME=VALUE]... FILE\n"
    "                               apply a registry script to the registry\n"
    "  typelib FILE                 print a type library as IDL\n"
    "  reg export [KEY] | reg import FILE\n"
    "                               the registry as .reg text\n"
    "\n"
    "Options:\n"
    "  --registry FILE   use this registry file (default: $QUIB_REGISTRY, else the per-user file)\n"
    "  -h, --help        show this help; 'quibhost COMMAND --help' shows a command's help\n";

}  // namespace

int main(int argc, char** argv) {
  quibhost::Args args(argv + 1, argv + argc);
  while (!args.empty() && args.front().rfind("--", 0) == 0) {
    std::string option = args.front();
    if (option == "--help") {
      std::fputs(kUsage, stdout);
      return quibhost::kExitOk;
    }
    if (option == "--registry") {
      if (args.size() < 2) {
        quibhost::Fail("--registry needs a file name");
        return quibhost::kExitUsage;
      }
      setenv("QUIB_REGISTRY", args[1].c_str(), 1);
      args.erase(args.begin(), args.begin() + 2);
      continue;
    }
    quibhost::Fail("unknown option '" + option + "' (see quibhost --help)");
    return quibhost::kExitUsage;
  }
  if (args.empty() || args.front() == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? quibhost::kExitUsage : quibhost::kExitOk;
  }
  std::string command = args.front();
  args.erase(args.begin());
  struct {
    const char* name;
    int (*run)(const quibhost::Args&);
  } const commands[] = {
      {"register", quibhost::RegisterCommand}, {"demo", quibhost::DemoCommand},
      {"call", quibhost::CallCommand},         {"script", quibhost::ScriptCommand},
      {"typelib", quibhost::TypelibCommand},   {"reg", quibhost::RegCommand},
  };
  for (const auto& c : commands)
    if (command == c.name) return c.run(args);
  quibhost::Fail("unknown command '" + command + "' (see quibhost --help)");
  return quibhost::kExitUsage;
}

namespace quibhost {

bool WantsHelp(const Args& args) {
  for (const std::string& a : args)
    if (a == "-h" || a == "--help") return true;
  return false;
}

void Fail(const std::string& what) { std::fprintf(stderr, "quibhost: %s\n", what.c_str()); }

std::string DefaultLibraryPath() { return QUIB_DEFAULT_LIBRARY; }

}  // namespace quibhost
