// UTF-16 <-> UTF-8 conversion for the core stand-in's own use (file names, logs).
#pragma once

#include <string>

#include "platform/types.h"

namespace quibcore {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(LPCWSTR text);
std::string ToUtf8(LPCWSTR text, std::size_t length);
// Invalid sequences become U+FFFD.
std::u16string FromUtf8(const std::string& text);
// The same, telling whether any sequence was invalid.
std::u16string FromUtf8(const std::string& text, bool& invalid);

}  // namespace quibcore
