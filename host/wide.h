// Conversions between the host's UTF-8 text and the platform's wide strings.
#pragma once

#include <string>

#include "platform/types.h"

namespace quibhost {

std::u16string Wide(const std::string& text);
std::string Narrow(const WCHAR* text);
std::string Narrow(const WCHAR* text, std::size_t length);
// Words for a platform error code ("the file does not exist (2)").
std::string PlatformErrorText(DWORD code);

}  // namespace quibhost
