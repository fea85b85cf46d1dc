// quibhost register: load a library, call DllRegisterServer or DllUnregisterServer.
#include <cstdio>

#include "commands.h"
#include "hresult_names.h"
#include "platform/errors.h"
#include "platform/loader.h"
#include "wide.h"

namespace quibhost {

namespace {
constexpr const char* kHelp =
    "usage: quibhost register [-u] [-s] LIBRARY\n"
    "\n"
    "Loads LIBRARY and calls its DllRegisterServer (with -u: DllUnregisterServer).\n"
    "  -u  unregister\n"
    "  -s  silent: print nothing, report through the exit code only\n"
    "Exit codes: 0 success, 1 the call failed, 2 usage, 3 the library does not load,\n"
    "4 the library lacks the entry point.\n";
}  // namespace

int CallRegistrationExport(const std::string& library, bool unregister, bool silent) {
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  HMODULE module = LoadLibraryW(Wide(library).c_str());
  if (!module) {
    if (!silent) Fail("cannot load " + library + ": " + PlatformErrorText(GetLastError()));
    return kExitNoLibrary;
  }
  auto run = reinterpret_cast<HRESULT (*)()>(GetProcAddressW(module, Wide(entry).c_str()));
  if (!run) {
    if (!silent) Fail(library + " has no entry point " + entry);
    FreeLibrary(module);
    return kExitNoEntryPoint;
  }
  HRESULT hr = run();
  FreeLibrary(module);
  if (!silent) {
    if (SUCCEEDED(hr))
      std::printf("%s in %s succeeded: %s\n", entry, library.c_str(), DescribeHresult(hr).c_str());
    else
      Fail(std::string(entry) + " in " + library + " failed: " + DescribeHresult(hr));
  }
  return SUCCEEDED(hr) ? kExitOk : kExitFailure;
}

int RegisterCommand(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  bool unregister = false, silent = false;
  std::string library;
  for (const std::string& a : args) {
    if (a == "-u")
      unregister = true;
    else if (a == "-s")
      silent = true;
    else if (!a.empty() && a[0] == '-') {
      Fail("register: unknown option '" + a + "'");
      return kExitUsage;
    } else if (library.empty())
      library = a;
    else {
      Fail("register: more than one library named");
      return kExitUsage;
    }
  }
  if (library.empty()) {
    Fail("register: no library named (see quibhost register --help)");
    return kExitUsage;
  }
  return CallRegistrationExport(library, unregister, silent);
}

}  // namespace quibhost
