// BSTR: a 32-bit byte length before the characters, a NUL after them.
#include <cstring>

#include "platform/automation.h"
#include "platform/heaps.h"

namespace {
// The length word sits right before the characters; the block starts there.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (0xFFFFFFFFu - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR) / 2) return nullptr;
  std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(CoTaskMemAlloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  auto byteLength = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &byteLength, kPrefix);
  auto* chars = reinterpret_cast<OLECHAR*>(block + kPrefix);
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT n = 0;
  while (text[n]) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR text) {
  if (text) CoTaskMemFree(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  std::uint32_t byteLength;
  std::memcpy(&byteLength, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
  return byteLength / sizeof(OLECHAR);
}
