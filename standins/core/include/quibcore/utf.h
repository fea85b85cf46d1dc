// UTF-16 <-> UTF-8 conversion, shared by the stand-ins and the tools that link
// the core stand-in (file names, logs, text output).
#pragma once

#include <string>

#include "platform/types.h"

#define QUIB_CORE_SUPPORT __attribute__((visibility("default")))

namespace quibcore {

// Unpaired surrogates become U+FFFD.
QUIB_CORE_SUPPORT std::string ToUtf8(LPCWSTR text);
QUIB_CORE_SUPPORT std::string ToUtf8(LPCWSTR text, std::size_t length);
// Invalid sequences become U+FFFD.
QUIB_CORE_SUPPORT std::u16string FromUtf8(const std::string& text);
// The same, telling whether any sequence was invalid.
QUIB_CORE_SUPPORT std::u16string FromUtf8(const std::string& text, bool& invalid);

}  // namespace quibcore
