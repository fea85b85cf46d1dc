// Wide-string and memory routines over 16-bit characters.
#pragma once

#include "platform/types.h"

inline std::size_t WideLength(LPCWSTR text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Folds A-Z to a-z; the platform's case-insensitive comparisons fold these only.
inline WCHAR WideFoldCase(WCHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; }

// Zero when both strings are equal ignoring case; otherwise the sign of the first difference.
inline int WideCompareNoCase(LPCWSTR a, LPCWSTR b) {
  for (;; ++a, ++b) {
    WCHAR x = WideFoldCase(*a), y = WideFoldCase(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

inline int WideCompare(LPCWSTR a, LPCWSTR b) {
  for (;; ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (*a == 0) return 0;
  }
}

// Copies with the terminator; the destination must have room.
inline WCHAR* WideCopy(WCHAR* dest, LPCWSTR src) {
  std::size_t i = 0;
  for (; src[i] != 0; ++i) dest[i] = src[i];
  dest[i] = 0;
  return dest;
}

// Copies at most capacity - 1 characters and always terminates (capacity > 0).
// Returns false when the source did not fit.
inline bool WideCopyBounded(WCHAR* dest, std::size_t capacity, LPCWSTR src) {
  std::size_t i = 0;
  for (; src[i] != 0; ++i) {
    if (i + 1 >= capacity) {
      dest[i] = 0;
      return false;
    }
    dest[i] = src[i];
  }
  dest[i] = 0;
  return true;
}
