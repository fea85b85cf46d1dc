// quibhost's commands. Each takes its own arguments (after the command name)
// and returns the process exit code.
#pragma once

#include <string>
#include <vector>

namespace quibhost {

using Args = std::vector<std::string>;

// Exit codes shared by the commands.
enum ExitCode {
  kExitOk = 0,
  kExitFailure = 1,         // the operation ran and failed
  kExitUsage = 2,           // the command line is wrong
  kExitNoLibrary = 3,       // the library does not load
  kExitNoEntryPoint = 4,    // the library lacks the routine to call
};

int RegisterCommand(const Args& args);
int DemoCommand(const Args& args);
int CallCommand(const Args& args);
int ScriptCommand(const Args& args);
int TypelibCommand(const Args& args);
int RegCommand(const Args& args);

// Loads library and calls DllRegisterServer (or DllUnregisterServer), saying
// what happened unless silent; returns the register command's exit code.
int CallRegistrationExport(const std::string& library, bool unregister, bool silent);

// True when args holds -h or --help.
bool WantsHelp(const Args& args);
// Prints "quibhost: <what>" to standard error.
void Fail(const std::string& what);

// The library that this quibhost was built with (for the demo).
std::string DefaultLibraryPath();

}  // namespace quibhost
