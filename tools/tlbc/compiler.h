// The type-library compiler: interface definition source in, compiled type
// library (docs/typelib-format.md) out.
#pragma once

#include <string>
#include <vector>

namespace tlbc {

// On failure returns false with error as "file:line:column: error: message".
bool Compile(const std::string& source, const std::string& fileName, std::vector<unsigned char>& out,
             std::string& error);

}  // namespace tlbc
