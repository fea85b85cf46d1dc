// quibhost call: create an object by program identifier and make one
// late-bound call on it.
#include <cstdio>

#include "commands.h"
#include "dispatch_client.h"
#include "hresult_names.h"
#include "platform/activation.h"
#include "wide.h"

namespace quibhost {

namespace {
constexpr const char* kHelp =
    "usage: quibhost call PROGID MEMBER [ARG...]\n"
    "\n"
    "Creates an object of the class that PROGID names (through the registry) and calls\n"
    "MEMBER late-bound, as a script would: as a method or as a property get. Each ARG\n"
    "is passed as a script passes it: a whole number as a 32-bit integer, another\n"
    "number as a double, anything else as a string. Prints the result.\n"
    "Exit codes: 0 success, 1 the object cannot be created or the call fails, 2 usage.\n";
}  // namespace

int CallCommand(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (args.size() < 2) {
    Fail("call: PROGID and MEMBER are needed (see quibhost call --help)");
    return kExitUsage;
  }
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(Wide(args[0]).c_str(), &clsid);
  if (FAILED(hr)) {
    Fail("call: '" + args[0] + "' names no registered class: " + DescribeHresult(hr));
    return kExitFailure;
  }
  IDispatch* object = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
  if (FAILED(hr)) {
    Fail("call: cannot create " + args[0] + ": " + DescribeHresult(hr));
    return kExitFailure;
  }
  std::vector<VARIANT> callArgs;
  for (std::size_t i = 2; i < args.size(); ++i) callArgs.push_back(ParseArgument(args[i]));
  CallOutcome outcome = CallMember(object, args[1], callArgs);
  ClearArguments(callArgs);
  int exitCode = kExitOk;
  if (FAILED(outcome.hr)) {
    Fail("call: " + outcome.error);
    exitCode = kExitFailure;
  } else {
    std::printf("%s\n", outcome.result.vt == VT_EMPTY ? DescribeHresult(outcome.hr).c_str()
                                                      : FormatVariant(outcome.result).c_str());
  }
  VariantClear(&outcome.result);
  object->Release();
  CoFreeUnusedLibraries();
  return exitCode;
}

}  // namespace quibhost
