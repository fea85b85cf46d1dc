// Registry scripts: whitespace, tokens and root key names.
#include "registration/script_tokenizer.h"

#include "platform/wstring.h"

namespace {

struct RootKeyName {
  const WCHAR* name;
  HKEY key;
};

// Looked up in this order.
constexpr RootKeyName kRootKeys[] = {
    {u"HKCR", HKEY_CLASSES_ROOT},
    {u"HKCU", HKEY_CURRENT_USER},
    {u"HKLM", HKEY_LOCAL_MACHINE},
    {u"HKU", HKEY_USERS},
    {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {u"HKEY_USERS", HKEY_USERS},
};

constexpr WCHAR kQuote = u'\'';

}  // namespace

bool IsScriptWhitespace(WCHAR c) { return c == u'\t' || c == u'\n' || c == u'\r' || c == u' '; }

void SkipWhitespace(LPCWSTR& position) {
  while (IsScriptWhitespace(*position)) ++position;
}

HRESULT ReadToken(LPCWSTR& position, WCHAR* buffer, std::size_t capacity) {
  SkipWhitespace(position);
  if (*position == 0) return DISP_E_EXCEPTION;
  std::size_t count = 0;

  if (*position != kQuote) {
    // Refused as soon as the run outgrows the buffer: nothing is written past it.
    while (*position != 0 && !IsScriptWhitespace(*position)) {
      if (count + 1 >= capacity) return DISP_E_EXCEPTION;
      buffer[count++] = *position++;
    }
    buffer[count] = 0;
    return S_OK;
  }

  const std::size_t limit = capacity - 1 < kQuotedTokenLimit ? capacity - 1 : kQuotedTokenLimit;
  ++position;
  while (*position != 0) {
    if (*position == kQuote && position[1] != kQuote) break;
    if (*position == kQuote) ++position;  // the first of a doubled quote
    if (count == limit) return DISP_E_EXCEPTION;
    buffer[count++] = *position++;
  }
  if (*position == 0) return DISP_E_EXCEPTION;
  buffer[count] = 0;
  ++position;
  return S_OK;
}

HKEY LookupRootKey(LPCWSTR token) {
  for (const RootKeyName& root : kRootKeys)
    if (WideCompareNoCase(token, root.name) == 0) return root.key;
  return 0;
}
