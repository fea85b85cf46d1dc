// The registry-script tokenizer: tokens, quoting, lengths and root key names.
#include "registration/script_tokenizer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TokenCase {
  const char* name;
  std::u16string text;
  HRESULT result;
  std::u16string token;  // when the read succeeds
  std::u16string rest;   // what is left after the token
};

TEST(ReadToken, ReadsTheTokensOfTheFormat) {
  const TokenCase cases[] = {
      {"plain run", u"abc def", S_OK, u"abc", u" def"},
      {"leading whitespace of every kind", u" \t\r\nabc", S_OK, u"abc", u""},
      {"run ends at tab", u"abc\tdef", S_OK, u"abc", u"\tdef"},
      {"run ends at line feed", u"abc\ndef", S_OK, u"abc", u"\ndef"},
      {"braces and '=' belong to a run", u"abc={x} y", S_OK, u"abc={x}", u" y"},
      {"quotes inside a run belong to it", u"ab'c' d", S_OK, u"ab'c'", u" d"},
      {"other control characters are not whitespace", u"a\vb c", S_OK, u"a\vb", u" c"},
      {"quoted token", u"'quib Class' x", S_OK, u"quib Class", u" x"},
      {"doubled quote stands for one", u"'it''s'", S_OK, u"it's", u""},
      {"only doubled quotes", u"''''''", S_OK, u"''", u""},
      {"empty quoted token", u"'' next", S_OK, u"", u" next"},
      {"quoted token ends at its quote", u"'abc'def", S_OK, u"abc", u"def"},
      {"whitespace inside quotes is kept", u"'a \t\r\nb'", S_OK, u"a \t\r\nb", u""},
      {"unterminated quoted token", u"'abc", DISP_E_EXCEPTION, u"", u""},
      {"quote doubled at the very end", u"'abc''", DISP_E_EXCEPTION, u"", u""},
      {"lone quote", u"'", DISP_E_EXCEPTION, u"", u""},
      {"end of text", u"", DISP_E_EXCEPTION, u"", u""},
      {"only whitespace left", u" \t\r\n ", DISP_E_EXCEPTION, u"", u""},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.name);
    WCHAR buffer[kTokenCapacity];
    LPCWSTR position = c.text.c_str();
    ASSERT_EQ(ReadToken(position, buffer), c.result);
    if (c.result == S_OK) {
      EXPECT_EQ(std::u16string(buffer), c.token);
      EXPECT_EQ(std::u16string(position), c.rest);
    }
  }
}

TEST(ReadToken, TwoTokensInARow) {
  std::u16string text = u"'abc'def";
  LPCWSTR position = text.c_str();
  WCHAR buffer[kTokenCapacity];
  ASSERT_EQ(ReadToken(position, buffer), S_OK);
  ASSERT_EQ(ReadToken(position, buffer), S_OK);
  EXPECT_EQ(std::u16string(buffer), u"def");
  EXPECT_EQ(ReadToken(position, buffer), DISP_E_EXCEPTION);
}

struct LengthCase {
  const char* name;
  std::size_t length;
  bool quoted;
  std::size_t capacity;
  HRESULT result;
};

// The buffer is one character larger than the capacity given to ReadToken and
// carries a guard there, so a write past the capacity shows.
TEST(ReadToken, RefusesTokensThatDoNotFitTheirBuffer) {
  const LengthCase cases[] = {
      {"quoted 4094", 4094, true, kTokenCapacity, S_OK},
      {"quoted 4095", 4095, true, kTokenCapacity, DISP_E_EXCEPTION},
      {"quoted 5000", 5000, true, kTokenCapacity, DISP_E_EXCEPTION},
      {"unquoted 4094", 4094, false, kTokenCapacity, S_OK},
      {"unquoted 4095", 4095, false, kTokenCapacity, S_OK},
      {"unquoted 4096", 4096, false, kTokenCapacity, DISP_E_EXCEPTION},
      {"unquoted 10000", 10000, false, kTokenCapacity, DISP_E_EXCEPTION},
      {"quoted name 259", 259, true, 260, S_OK},
      {"quoted name 260", 260, true, 260, DISP_E_EXCEPTION},
      {"unquoted name 259", 259, false, 260, S_OK},
      {"unquoted name 260", 260, false, 260, DISP_E_EXCEPTION},
  };
  for (const LengthCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string body(c.length, u'x');
    std::u16string text = c.quoted ? u"'" + body + u"' tail" : body + u" tail";
    std::u16string buffer(c.capacity + 1, u'#');
    LPCWSTR position = text.c_str();
    ASSERT_EQ(ReadToken(position, buffer.data(), c.capacity), c.result);
    EXPECT_EQ(buffer[c.capacity], u'#') << "written past the buffer";
    if (c.result == S_OK) {
      EXPECT_EQ(std::u16string(buffer.c_str()), body);
      EXPECT_EQ(std::u16string(position), u" tail");
    }
  }
}

TEST(ReadToken, DoubledQuotesCountOnceTowardsTheLimit) {
  std::u16string body(4093, u'x');
  std::u16string text = u"'" + body + u"'''";  // 4093 characters and one quote
  WCHAR buffer[kTokenCapacity];
  LPCWSTR position = text.c_str();
  ASSERT_EQ(ReadToken(position, buffer), S_OK);
  EXPECT_EQ(std::char_traits<char16_t>::length(buffer), 4094u);
}

TEST(SkipWhitespace, StopsAtTheFirstOtherCharacter) {
  std::u16string text = u"\t\r\n x ";
  LPCWSTR position = text.c_str();
  SkipWhitespace(position);
  EXPECT_EQ(*position, u'x');
  std::u16string empty = u" \t";
  position = empty.c_str();
  SkipWhitespace(position);
  EXPECT_EQ(*position, 0);
}

struct RootCase {
  const char16_t* token;
  HKEY key;
};

TEST(LookupRootKey, NamesTheFourRootsInAnyCase) {
  const RootCase cases[] = {
      {u"HKCR", HKEY_CLASSES_ROOT},
      {u"hkcr", HKEY_CLASSES_ROOT},
      {u"HkCu", HKEY_CURRENT_USER},
      {u"HKLM", HKEY_LOCAL_MACHINE},
      {u"hku", HKEY_USERS},
      {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {u"hkey_current_user", HKEY_CURRENT_USER},
      {u"HKEY_Local_Machine", HKEY_LOCAL_MACHINE},
      {u"HKEY_USERS", HKEY_USERS},
      {u"HKCR{", 0},
      {u"HKC", 0},
      {u"HKCRX", 0},
      {u"", 0},
      {u"}", 0},
      {u"HKEY_CLASSES_ROOT ", 0},
  };
  for (const RootCase& c : cases) {
    SCOPED_TRACE(std::string(c.token, c.token + std::char_traits<char16_t>::length(c.token)));
    EXPECT_EQ(LookupRootKey(c.token), c.key);
  }
}

TEST(LookupRootKey, AcceptsAQuotedRootName) {
  std::u16string text = u"'HKEY_CLASSES_ROOT' {";
  LPCWSTR position = text.c_str();
  WCHAR buffer[kTokenCapacity];
  ASSERT_EQ(ReadToken(position, buffer), S_OK);
  EXPECT_EQ(LookupRootKey(buffer), HKEY_CLASSES_ROOT);
}

TEST(LookupRootKey, RootNameWrittenAgainstItsBraceIsOneToken) {
  std::u16string text = u"HKCR{ }";
  LPCWSTR position = text.c_str();
  WCHAR buffer[kTokenCapacity];
  ASSERT_EQ(ReadToken(position, buffer), S_OK);
  EXPECT_EQ(std::u16string(buffer), u"HKCR{");
  EXPECT_EQ(LookupRootKey(buffer), 0u);
}

}  // namespace
