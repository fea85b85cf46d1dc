// Multibyte to wide conversion. The default "ANSI" code page (CP_ACP) of this
// platform is UTF-8, the same as CP_UTF8; invalid sequences become U+FFFD.
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/resources.h"
#include "quibcore/utf.h"

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int byteCount, LPWSTR wide,
                        int wideCapacity) {
  if (codePage != CP_ACP && codePage != CP_UTF8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (!text || byteCount == 0 || byteCount < -1 || wideCapacity < 0 || (wideCapacity > 0 && !wide)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::size_t n = byteCount == -1 ? std::strlen(text) + 1 : static_cast<std::size_t>(byteCount);
  std::string bytes(text, n);
  bool invalid = false;
  std::u16string out = quibcore::FromUtf8(bytes, invalid);
  if (invalid && (flags & MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (out.size() > static_cast<std::size_t>(0x7FFFFFFF)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(out.size());
  if (wideCapacity == 0) return needed;
  if (needed > wideCapacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  out.copy(wide, out.size());
  return needed;
}
