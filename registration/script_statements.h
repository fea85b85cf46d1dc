// Registry scripts: the statements of a block, applied to the registry in
// register mode (open or create keys, write values, forced deletions) or in
// unregister mode (delete what the block names, keep what is protected or
// still has subkeys).
#pragma once

#include <cstddef>

#include "platform/automation.h"
#include "platform/registry.h"

// Blocks nest at most this deep; a root section's block is level 1.
constexpr int kMaxBlockDepth = 512;
// DeleteKeyTree descends at most this many levels below the key it was given.
constexpr int kMaxDeleteDepth = 512;
// Characters of a value name or a remembered key name, terminator included.
constexpr std::size_t kNameCapacity = 260;
// Characters of the subkey names that DeleteKeyTree enumerates, terminator included.
constexpr std::size_t kSubkeyNameCapacity = 256;

// Holds at most one open registry key and closes it when it gets another or
// is dropped. A parent key passed to a block is borrowed, never held.
class KeyHolder {
 public:
  KeyHolder() = default;
  ~KeyHolder() { Close(); }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;

  HKEY Get() const { return key_; }

  // Opens the named subkey. When the platform refuses, returns its error code
  // and keeps the old key; otherwise holds the new key and returns the error
  // code of closing the old one (0).
  LONG Open(HKEY parent, LPCWSTR name, REGSAM access);
  // Holds key, closing the one held before; returns that close's error code.
  LONG Attach(HKEY key);
  // Closes the held key, if any; holds none afterwards.
  LONG Close();

 private:
  HKEY key_ = 0;
};

// Applies one block. token holds the block's opening token; on success it
// holds the token that closed the block. parent is borrowed. In register mode
// skipMode is ignored; in unregister mode it makes the block read but not act.
HRESULT ApplyBlock(LPCWSTR& position, WCHAR* token, HKEY parent, bool registerMode, bool skipMode);

// Reads "type value" after the "=" in token and writes the value (name null:
// the default value) to key; token then holds the token after the value.
HRESULT WriteValue(LPCWSTR& position, HKEY key, LPCWSTR name, WCHAR* token);

// When token is "=...", reads and drops the type letter and the value; token
// then holds the token after them.
HRESULT SkipValueClause(LPCWSTR& position, WCHAR* token);

// Deletes the named subkey of parent with its whole subtree; the platform's
// error code, 0 when it is gone.
LONG DeleteKeyTree(HKEY parent, LPCWSTR name);

bool KeyHasSubkeys(HKEY key);
// True when the key holds a value other than its default one (unnamed, or
// named "Default").
bool KeyHasValues(HKEY key);

// The variant type of a type letter ("S", "D", "B", any case): VT_BSTR,
// VT_UI4 or VT_UI1; VT_EMPTY for anything else.
VARTYPE LookupValueType(LPCWSTR letter);

// '0'-'9', 'A'-'F', 'a'-'f' give their value; anything else gives 0.
BYTE HexDigitValue(WCHAR c);
