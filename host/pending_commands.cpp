// Commands whose services are still being built.
#include "commands.h"

namespace quibhost {
int ScriptCommand(const Args&) {
  Fail("script: not available in this build yet");
  return kExitFailure;
}
int TypelibCommand(const Args&) {
  Fail("typelib: not available in this build yet");
  return kExitFailure;
}
}  // namespace quibhost
