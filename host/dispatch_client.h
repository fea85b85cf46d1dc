// Late-bound calls as a script host makes them: names resolved through
// GetIDsOfNames, arguments typed as a script types them, Invoke.
#pragma once

#include <string>
#include <vector>

#include "platform/automation.h"

namespace quibhost {

// A script's argument: a whole number that fits 32 bits becomes VT_I4, any
// other number VT_R8, anything else a VT_BSTR string.
VARIANT ParseArgument(const std::string& text);

// Frees the arguments' strings.
void ClearArguments(std::vector<VARIANT>& args);

struct CallOutcome {
  HRESULT hr = S_OK;
  VARIANT result{};
  std::string error;  // what failed, in words, when hr is a failure
};

// Calls `member` with args (in the script's order) as a method or property get.
CallOutcome CallMember(IDispatch* object, const std::string& member, std::vector<VARIANT>& args);

// The value of a variant as a script would print it.
std::string FormatVariant(const VARIANT& value);

}  // namespace quibhost
