// Registry scripts: the statements of a block.
//
// Sections: the KeyHolder; ApplyBlock; values (WriteValue, SkipValueClause,
// LookupValueType, HexDigitValue); registry probes and DeleteKeyTree.
#include "registration/script_statements.h"

#include "platform/errors.h"
#include "platform/wstring.h"
#include "registration/object_buffer.h"
#include "registration/script_tokenizer.h"

namespace {

// Opening a key that DeleteKeyTree empties and removes.
constexpr REGSAM kDeleteTreeAccess = KEY_READ | KEY_WRITE;
static_assert(kDeleteTreeAccess == 0x2001F);

bool IsWord(LPCWSTR token, LPCWSTR word) { return WideCompareNoCase(token, word) == 0; }

// Keys that forced deletions never remove.
bool IsProtectedKeyName(LPCWSTR name) { return IsWord(name, u"CLSID") || IsWord(name, u"TYPELIB"); }

bool ContainsBackslash(LPCWSTR text) {
  for (; *text; ++text)
    if (*text == u'\\') return true;
  return false;
}

HRESULT ApplyBlockAt(LPCWSTR& position, WCHAR* token, HKEY parent, bool registerMode, bool skipMode, int depth);

// Unregister mode: the statement naming a key. The key name is in token.
HRESULT RemoveKey(LPCWSTR& position, WCHAR* token, HKEY parent, KeyHolder& current, bool& skipMode,
                  bool skipAtEntry, bool removalAllowed, int depth) {
  if (!skipMode && current.Open(parent, token, KEY_READ) != ERROR_SUCCESS) skipMode = true;

  WCHAR remembered[kNameCapacity];
  WideCopy(remembered, token);  // the caller refused longer names

  HRESULT hr;
  const bool occupied = skipMode || KeyHasSubkeys(current.Get()) || KeyHasValues(current.Get());
  if (occupied) {
    if (FAILED(hr = ReadToken(position, token)) || FAILED(hr = SkipValueClause(position, token))) return hr;
    if (token[0] == u'{') {
      if (FAILED(hr = ApplyBlockAt(position, token, current.Get(), false, skipMode, depth + 1)) ||
          FAILED(hr = ReadToken(position, token)) || FAILED(hr = SkipValueClause(position, token)))
        return hr;
    }
    if (skipMode) {
      skipMode = skipAtEntry;
      return S_OK;
    }
    // A key that still has subkeys stays, and so does everything beneath it.
    if (KeyHasSubkeys(current.Get())) return S_OK;
  }

  if (current.Close() != ERROR_SUCCESS) return DISP_E_EXCEPTION;
  if (removalAllowed) RegDeleteKeyW(parent, remembered);

  if (!occupied) {
    // Deleted before its clause and block were read: read them without acting.
    if (FAILED(hr = ReadToken(position, token)) || FAILED(hr = SkipValueClause(position, token))) return hr;
    if (token[0] == u'{') {
      if (FAILED(hr = ApplyBlockAt(position, token, 0, false, true, depth + 1)) ||
          FAILED(hr = ReadToken(position, token)) || FAILED(hr = SkipValueClause(position, token)))
        return hr;
    }
  }
  return S_OK;
}

// Register mode: the statement naming a key. The key name is in token.
HRESULT WriteKey(LPCWSTR& position, WCHAR* token, HKEY parent, KeyHolder& current) {
  if (current.Open(parent, token, KEY_ALL_ACCESS) != ERROR_SUCCESS &&
      current.Open(parent, token, KEY_READ) != ERROR_SUCCESS) {
    HKEY created = 0;
    DWORD disposition = 0;
    if (RegCreateKeyExW(parent, token, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created,
                        &disposition) != ERROR_SUCCESS)
      return DISP_E_EXCEPTION;
    if (current.Attach(created) != ERROR_SUCCESS) return DISP_E_EXCEPTION;
  }
  HRESULT hr = ReadToken(position, token);
  if (FAILED(hr)) return hr;
  if (token[0] == u'=') return WriteValue(position, current.Get(), nullptr, token);
  return S_OK;
}

HRESULT ApplyBlockAt(LPCWSTR& position, WCHAR* token, HKEY parent, bool registerMode, bool skipMode, int depth) {
  if (depth > kMaxBlockDepth) return DISP_E_EXCEPTION;

  KeyHolder current;  // parent of the nested blocks
  bool removalAllowed = true;
  const bool skipAtEntry = skipMode;

  HRESULT hr = ReadToken(position, token);
  if (FAILED(hr)) return hr;

  while (token[0] != u'}') {
    bool done = false;  // the statement has been handled up to its block check

    if (IsWord(token, u"ForceRemove") || IsWord(token, u"Delete")) {
      const bool deleteOnly = IsWord(token, u"Delete");
      if (FAILED(hr = ReadToken(position, token))) return hr;
      if (registerMode) {
        if (ContainsBackslash(token)) return DISP_E_EXCEPTION;
        if (!IsProtectedKeyName(token)) DeleteKeyTree(parent, token);
        if (deleteOnly) {
          if (FAILED(hr = ReadToken(position, token)) || FAILED(hr = SkipValueClause(position, token))) return hr;
          done = true;
        }
      }
    }

    if (!done) {
      if (IsWord(token, u"NoRemove")) {
        removalAllowed = false;
        if (FAILED(hr = ReadToken(position, token))) return hr;
      }

      if (IsWord(token, u"Val")) {
        WCHAR name[kNameCapacity];
        if (FAILED(hr = ReadToken(position, name, kNameCapacity)) || FAILED(hr = ReadToken(position, token)))
          return hr;
        if (token[0] != u'=') return DISP_E_EXCEPTION;
        if (registerMode) {
          if (FAILED(hr = WriteValue(position, parent, name, token))) return hr;
        } else {
          if (!skipMode) RegDeleteValueW(parent, name);
          if (FAILED(hr = SkipValueClause(position, token))) return hr;
          continue;
        }
      } else {
        if (ContainsBackslash(token)) return DISP_E_EXCEPTION;
        if (registerMode) {
          if (FAILED(hr = WriteKey(position, token, parent, current))) return hr;
        } else {
          if (WideLength(token) >= kNameCapacity) return DISP_E_EXCEPTION;
          if (FAILED(hr = RemoveKey(position, token, parent, current, skipMode, skipAtEntry, removalAllowed, depth)))
            return hr;
          continue;
        }
      }
    }

    // Register mode: a block standing alone opens under the current key.
    if (token[0] == u'{' && token[1] == 0) {
      if (FAILED(hr = ApplyBlockAt(position, token, current.Get(), true, false, depth + 1)) ||
          FAILED(hr = ReadToken(position, token)))
        return hr;
    }
  }
  return S_OK;
}

LONG DeleteKeyTreeAt(HKEY parent, LPCWSTR name, int depth) {
  // Deeper trees are left alone rather than walked on an unbounded stack.
  if (depth > kMaxDeleteDepth) return ERROR_INVALID_PARAMETER;
  KeyHolder key;
  LONG error = key.Open(parent, name, kDeleteTreeAccess);
  if (error != ERROR_SUCCESS) return error;

  WCHAR subkey[kSubkeyNameCapacity];
  for (;;) {
    DWORD length = kSubkeyNameCapacity;
    FILETIME written{};
    if (RegEnumKeyExW(key.Get(), 0, subkey, &length, nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS) break;
    error = DeleteKeyTreeAt(key.Get(), subkey, depth + 1);
    if (error != ERROR_SUCCESS) return error;
  }
  key.Close();
  return RegDeleteKeyW(parent, name);
}

}  // namespace

// ---- KeyHolder

LONG KeyHolder::Open(HKEY parent, LPCWSTR name, REGSAM access) {
  HKEY opened = 0;
  LONG error = RegOpenKeyExW(parent, name, 0, access, &opened);
  if (error != ERROR_SUCCESS) return error;
  return Attach(opened);
}

LONG KeyHolder::Attach(HKEY key) {
  LONG error = Close();
  key_ = key;
  return error;
}

LONG KeyHolder::Close() {
  if (!key_) return ERROR_SUCCESS;
  HKEY key = key_;
  key_ = 0;
  return RegCloseKey(key);
}

// ---- ApplyBlock

HRESULT ApplyBlock(LPCWSTR& position, WCHAR* token, HKEY parent, bool registerMode, bool skipMode) {
  return ApplyBlockAt(position, token, parent, registerMode, registerMode ? false : skipMode, 1);
}

// ---- Values

VARTYPE LookupValueType(LPCWSTR letter) {
  if (IsWord(letter, u"S")) return VT_BSTR;
  if (IsWord(letter, u"D")) return VT_UI4;
  if (IsWord(letter, u"B")) return VT_UI1;
  return VT_EMPTY;
}

BYTE HexDigitValue(WCHAR c) {
  if (c >= u'0' && c <= u'9') return static_cast<BYTE>(c - u'0');
  if (c >= u'A' && c <= u'F') return static_cast<BYTE>(c - u'A' + 10);
  if (c >= u'a' && c <= u'f') return static_cast<BYTE>(c - u'a' + 10);
  return 0;
}

HRESULT WriteValue(LPCWSTR& position, HKEY key, LPCWSTR name, WCHAR* token) {
  WCHAR letter[kTokenCapacity];
  HRESULT hr = ReadToken(position, letter);
  if (FAILED(hr)) return hr;
  const VARTYPE kind = LookupValueType(letter);
  if (kind == VT_EMPTY) return DISP_E_EXCEPTION;

  ObjectBuffer value(kTokenCapacity);
  if (!value) return E_FAIL;
  SkipWhitespace(position);
  if (FAILED(hr = ReadToken(position, value.Get()))) return hr;
  const std::size_t length = WideLength(value.Get());

  // The registry's answer is not looked at: a refused write does not fail the statement.
  switch (kind) {
    case VT_BSTR:
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.Get()),
                     static_cast<DWORD>((length + 1) * sizeof(WCHAR)));
      break;
    case VT_UI4: {
      ULONG number = 0;
      if (FAILED(VarUI4FromStr(value.Get(), 0, 0, &number))) return DISP_E_EXCEPTION;
      const DWORD data = number;
      RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
      break;
    }
    default: {
      if (length % 2 != 0) return E_FAIL;
      BYTE bytes[kTokenCapacity / 2] = {};
      for (std::size_t i = 0; i < length; ++i)
        bytes[i / 2] = static_cast<BYTE>(bytes[i / 2] + (HexDigitValue(value.Get()[i]) << (i % 2 == 0 ? 4 : 0)));
      RegSetValueExW(key, name, 0, REG_BINARY, bytes, static_cast<DWORD>(length / 2));
      break;
    }
  }
  return ReadToken(position, token);
}

HRESULT SkipValueClause(LPCWSTR& position, WCHAR* token) {
  ObjectBuffer value(kTokenCapacity);
  if (!value) return E_FAIL;
  if (token[0] != u'=') return S_OK;
  HRESULT hr = ReadToken(position, token);  // the type letter, not examined
  if (FAILED(hr)) return hr;
  SkipWhitespace(position);
  if (FAILED(hr = ReadToken(position, value.Get()))) return hr;
  return ReadToken(position, token);
}

// ---- Registry probes and subtree deletion

LONG DeleteKeyTree(HKEY parent, LPCWSTR name) { return DeleteKeyTreeAt(parent, name, 0); }

bool KeyHasSubkeys(HKEY key) {
  DWORD subkeys = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  return subkeys > 0;
}

bool KeyHasValues(HKEY key) {
  DWORD values = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  if (values != 1) return values > 0;

  ObjectBuffer name(kTokenCapacity);
  if (!name) return false;
  DWORD length = kTokenCapacity;
  if (RegEnumValueW(key, 0, name.Get(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return false;
  return name.Get()[0] != 0 && WideCompare(name.Get(), u"Default") != 0;
}
