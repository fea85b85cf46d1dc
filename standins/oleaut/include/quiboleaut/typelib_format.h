// The compiled type-library format (docs/typelib-format.md): layout constants
// shared by the loader and the compiler, and little-endian field access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tlbformat {

constexpr unsigned char kMagic[4] = {'Q', 'T', 'L', 'B'};
constexpr std::uint16_t kVersionMajor = 1;
constexpr std::uint16_t kVersionMinor = 0;

constexpr std::uint32_t kNone = 0xFFFFFFFFu;        // no string, no base type
constexpr std::uint32_t kExternalRef = 0x80000000u;  // type reference into the external table

enum Section : std::uint32_t {
  kLibrary,    // exactly one record
  kNames,      // distinct names, unique ignoring case
  kStrings,    // help strings and file names
  kText,       // UTF-16LE characters; its count is a byte size
  kImports,
  kExternals,  // types of imported libraries, by GUID
  kTypes,
  kFunctions,
  kParams,
  kImpls,
  kSectionCount
};

// Record sizes, per section (the text section counts bytes).
constexpr std::uint32_t kRecordSize[kSectionCount] = {44, 8, 8, 1, 24, 20, 60, 40, 12, 8};

constexpr std::uint32_t kHeaderSize = 16 + 8 * kSectionCount;

// Field offsets inside the records.
namespace header {
constexpr std::size_t kMagic = 0, kMajor = 4, kMinor = 6, kFileSize = 8, kSections = 12, kDirectory = 16;
}
namespace library {
constexpr std::size_t kGuid = 0, kMajor = 16, kMinor = 18, kLcid = 20, kSysKind = 24, kFlags = 26, kName = 28,
                      kHelp = 32, kHelpContext = 36, kHelpFile = 40;
}
namespace text {  // names and strings
constexpr std::size_t kOffset = 0, kLength = 4;
}
namespace import {
constexpr std::size_t kGuid = 0, kMajor = 16, kMinor = 18, kFile = 20;
}
namespace external {
constexpr std::size_t kImport = 0, kGuid = 4;
}
namespace type {
constexpr std::size_t kName = 0, kHelp = 4, kGuid = 8, kKind = 24, kFlags = 26, kMajor = 28, kMinor = 30,
                      kHelpContext = 32, kFirstFunc = 36, kFuncCount = 40, kFirstImpl = 44, kImplCount = 48,
                      kBase = 52, kSlots = 56;
}
namespace function {
constexpr std::size_t kId = 0, kName = 4, kHelp = 8, kHelpContext = 12, kInvokeKind = 16, kFuncKind = 18,
                      kCallConv = 20, kFlags = 22, kSlot = 24, kFirstParam = 28, kParamCount = 32, kReturnVt = 36,
                      kReturnDepth = 38;
}
namespace param {
constexpr std::size_t kName = 0, kFlags = 4, kVt = 8, kDepth = 10;
}
namespace impl {
constexpr std::size_t kRef = 0, kFlags = 4;
}

// Limits the loader enforces.
constexpr std::uint32_t kMaxParams = 32;
constexpr std::uint16_t kMaxPointerDepth = 3;
constexpr std::uint32_t kMaxNameLength = 255;

inline std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A GUID as stored: Data1, Data2, Data3 little-endian, then the 8 bytes.
template <class G>
inline G GetGuid(const unsigned char* p) {
  G g;
  g.Data1 = Get32(p);
  g.Data2 = Get16(p + 4);
  g.Data3 = Get16(p + 6);
  for (int i = 0; i < 8; ++i) g.Data4[i] = p[8 + i];
  return g;
}
template <class G>
inline void PutGuid(unsigned char* p, const G& g) {
  Put32(p, g.Data1);
  Put16(p + 4, g.Data2);
  Put16(p + 6, g.Data3);
  for (int i = 0; i < 8; ++i) p[8 + i] = g.Data4[i];
}

}  // namespace tlbformat
