// Names and descriptions of the status codes quibhost reports.
#pragma once

#include <string>

#include "platform/types.h"

namespace quibhost {

// "S_OK", "E_FAIL", ...; an empty string for a code without a name.
const char* HresultName(HRESULT hr);
// "0x80004005 E_FAIL (unspecified failure)": the code in hex, by name, in words.
std::string DescribeHresult(HRESULT hr);

}  // namespace quibhost
