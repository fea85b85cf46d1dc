// Text conversions and error words for the host.
#include "wide.h"

#include "platform/errors.h"
#include "quibcore/utf.h"

namespace quibhost {

std::u16string Wide(const std::string& text) { return quibcore::FromUtf8(text); }

std::string Narrow(const WCHAR* text, std::size_t length) { return quibcore::ToUtf8(text, length); }

std::string Narrow(const WCHAR* text) { return quibcore::ToUtf8(text); }

std::string PlatformErrorText(DWORD code) {
  const char* words;
  switch (static_cast<LONG>(code)) {
    case ERROR_FILE_NOT_FOUND: words = "not found"; break;
    case ERROR_PATH_NOT_FOUND: words = "path not found"; break;
    case ERROR_ACCESS_DENIED: words = "access denied"; break;
    case ERROR_INVALID_HANDLE: words = "invalid handle"; break;
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: words = "out of memory"; break;
    case ERROR_BAD_FORMAT: words = "bad format"; break;
    case ERROR_INVALID_PARAMETER: words = "invalid parameter"; break;
    case ERROR_INSUFFICIENT_BUFFER: words = "buffer too small"; break;
    case ERROR_MOD_NOT_FOUND: words = "no such library"; break;
    case ERROR_PROC_NOT_FOUND: words = "no such routine"; break;
    case ERROR_BAD_EXE_FORMAT: words = "not a loadable library"; break;
    case ERROR_MORE_DATA: words = "more data"; break;
    case ERROR_NO_MORE_ITEMS: words = "no more items"; break;
    case ERROR_BADDB: words = "the registry file is damaged or not a registry"; break;
    case ERROR_CANTOPEN: words = "the registry cannot be opened"; break;
    case ERROR_CANTREAD: words = "the registry cannot be read"; break;
    case ERROR_CANTWRITE: words = "the registry cannot be written"; break;
    default: words = "platform error"; break;
  }
  return std::string(words) + " (" + std::to_string(code) + ")";
}

}  // namespace quibhost
