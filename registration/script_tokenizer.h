// Registry scripts: whitespace, tokens and root key names.
//
// A script position is a pointer to the next wide character to read; every
// reader moves it forward and never past the terminating NUL.
#pragma once

#include <cstddef>

#include "platform/registry.h"

// Characters in the token buffer of one script run, terminator included.
constexpr std::size_t kTokenCapacity = 4096;
// A quoted token holds at most this many characters (and no more than its
// buffer takes).
constexpr std::size_t kQuotedTokenLimit = 4094;

// Tab, line feed, carriage return and space; nothing else separates tokens.
bool IsScriptWhitespace(WCHAR c);

// Moves the position past whitespace.
void SkipWhitespace(LPCWSTR& position);

// Reads the next token into buffer (capacity in characters, terminator
// included) and leaves the position after it. A quoted token runs to the next
// single quote not doubled, each doubled quote standing for one; any other
// token runs to the next whitespace. DISP_E_EXCEPTION when no token is left,
// a quoted token is unterminated, or the token does not fit the buffer.
HRESULT ReadToken(LPCWSTR& position, WCHAR* buffer, std::size_t capacity = kTokenCapacity);

// The root key a token names, ignoring case, or 0.
HKEY LookupRootKey(LPCWSTR token);
