// UTF-8 <-> UTF-16 for the host.
#include "wide.h"

#include "platform/errors.h"

namespace quibhost {

std::u16string Wide(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    char32_t c = 0xFFFD;
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > text.size()) {
      ++i;
    } else {
      c = len == 1 ? b : b & (0xFF >> (len + 1));
      bool ok = true;
      for (std::size_t k = 1; k < len; ++k) {
        auto n = static_cast<unsigned char>(text[i + k]);
        if ((n & 0xC0) != 0x80) ok = false;
        c = (c << 6) | (n & 0x3F);
      }
      if (!ok) c = 0xFFFD;
      i += ok ? len : 1;
    }
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
  return out;
}

std::string Narrow(const WCHAR* text, std::size_t length) {
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Narrow(const WCHAR* text) {
  if (!text) return {};
  std::size_t n = 0;
  while (text[n]) ++n;
  return Narrow(text, n);
}

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
