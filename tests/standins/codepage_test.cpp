// Multibyte to wide conversion: the default code page is UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "platform/errors.h"
#include "platform/resources.h"

namespace {

std::u16string Convert(UINT codePage, const std::string& bytes, DWORD flags = 0) {
  int needed = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(needed), u'?');
  int written = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), needed);
  EXPECT_EQ(written, needed);
  return out;
}

TEST(CodePages, TheDefaultPageIsUtf8AndInvalidSequencesBecomeReplacementCharacters) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string wide;
  } cases[] = {
      {"ascii", "HKCR {", u"HKCR {"},
      {"two-byte", "caf\xC3\xA9", u"caf\u00E9"},
      {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
      {"four-byte", "\xF0\x9F\x8E\xA4", u"\U0001F3A4"},
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"truncated", "a\xC3", u"a\uFFFD"},
      {"latin-1 byte", "\xE9t\xE9", u"\uFFFDt\uFFFD"},
      {"surrogate encoded", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"embedded nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Convert(CP_ACP, c.bytes), c.wide);
    EXPECT_EQ(Convert(CP_UTF8, c.bytes), c.wide);
  }
}

TEST(CodePages, AByteCountOfMinusOneIncludesTheTerminator) {
  char16_t out[8];
  std::fill(std::begin(out), std::end(out), u'#');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, out, 8), 4);
  EXPECT_EQ(std::u16string(out), u"abc");
  EXPECT_EQ(out[4], u'#');
}

TEST(CodePages, RefusalsSetTheLastError) {
  char16_t out[2];
  struct Case {
    const char* name;
    UINT codePage;
    DWORD flags;
    const char* text;
    int count;
    LONG error;
  } cases[] = {
      {"small buffer", CP_ACP, 0, "abc", 3, ERROR_INSUFFICIENT_BUFFER},
      {"unknown page", 1252, 0, "abc", 3, ERROR_INVALID_PARAMETER},
      {"null text", CP_ACP, 0, nullptr, 3, ERROR_INVALID_PARAMETER},
      {"zero count", CP_ACP, 0, "abc", 0, ERROR_INVALID_PARAMETER},
      {"negative count", CP_ACP, 0, "abc", -2, ERROR_INVALID_PARAMETER},
      {"unknown flag", CP_ACP, 0x100, "abc", 3, ERROR_INVALID_FLAGS},
      {"strict", CP_ACP, MB_ERR_INVALID_CHARS, "a\x80", 2, ERROR_NO_UNICODE_TRANSLATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(c.codePage, c.flags, c.text, c.count, out, 2), 0);
    EXPECT_EQ(GetLastError(), DWORD(c.error));
  }
}

}  // namespace
