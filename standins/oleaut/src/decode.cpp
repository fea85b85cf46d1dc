// Checking and decoding a compiled type library. Every offset, count, index
// and string length is checked against the data before it is used.
#include <algorithm>

#include "typelib.h"

namespace oleaut {
namespace {

using namespace tlbformat;

constexpr HRESULT kCorrupt = TYPE_E_INVDATAREAD;

struct Span {
  std::uint32_t offset = 0, count = 0;
};

class Decoder {
 public:
  Decoder(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  HRESULT Run(RawLibrary& lib) {
    if (size_ < kHeaderSize) return kCorrupt;
    for (int i = 0; i < 4; ++i)
      if (data_[i] != kMagic[i]) return kCorrupt;
    if (Get16(data_ + header::kMajor) != kVersionMajor) return TYPE_E_UNSUPFORMAT;
    if (Get32(data_ + header::kFileSize) != size_) return kCorrupt;
    if (Get32(data_ + header::kSections) != kSectionCount) return kCorrupt;
    for (std::uint32_t s = 0; s < kSectionCount; ++s) {
      const unsigned char* d = data_ + header::kDirectory + 8 * s;
      sections_[s].offset = Get32(d);
      sections_[s].count = Get32(d + 4);
      std::uint64_t bytes = std::uint64_t{sections_[s].count} * kRecordSize[s];
      if (sections_[s].offset < kHeaderSize || sections_[s].offset % 4 != 0) return kCorrupt;
      if (sections_[s].offset + bytes > size_) return kCorrupt;
    }
    if (sections_[kLibrary].count != 1 || sections_[kText].count % 2 != 0) return kCorrupt;
    if (!Texts(kNames, lib.names) || !Texts(kStrings, lib.strings) || !UniqueNames(lib.names)) return kCorrupt;
    nameCount_ = static_cast<std::uint32_t>(lib.names.size());
    stringCount_ = static_cast<std::uint32_t>(lib.strings.size());
    if (!Library(lib) || !Imports(lib) || !Externals(lib) || !Types(lib)) return kCorrupt;
    return S_OK;
  }

 private:
  const unsigned char* Record(Section s, std::uint32_t index) const {
    return data_ + sections_[s].offset + std::size_t{index} * kRecordSize[s];
  }
  bool Name(std::uint32_t i) const { return i < nameCount_; }
  bool String(std::uint32_t i) const { return i == kNone || i < stringCount_; }

  bool Texts(Section s, std::vector<std::u16string>& out) const {
    const Span& text = sections_[kText];
    out.reserve(sections_[s].count);
    for (std::uint32_t i = 0; i < sections_[s].count; ++i) {
      const unsigned char* r = Record(s, i);
      std::uint32_t offset = Get32(r + text::kOffset), length = Get32(r + text::kLength);
      if (offset % 2 != 0 || offset > text.count || length > (text.count - offset) / 2) return false;
      if (s == kNames && (length == 0 || length > kMaxNameLength)) return false;
      std::u16string value(length, u'\0');
      const unsigned char* chars = data_ + text.offset + offset;
      for (std::uint32_t c = 0; c < length; ++c) value[c] = static_cast<char16_t>(Get16(chars + 2 * c));
      if (value.find(u'\0') != std::u16string::npos) return false;
      out.push_back(std::move(value));
    }
    return true;
  }

  static char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

  static bool UniqueNames(const std::vector<std::u16string>& names) {
    std::vector<std::u16string> folded;
    folded.reserve(names.size());
    for (const auto& n : names) {
      std::u16string f = n;
      for (auto& c : f) c = Fold(c);
      folded.push_back(std::move(f));
    }
    std::sort(folded.begin(), folded.end());
    return std::adjacent_find(folded.begin(), folded.end()) == folded.end();
  }

  bool Library(RawLibrary& lib) const {
    const unsigned char* r = Record(kLibrary, 0);
    lib.guid = GetGuid<GUID>(r + library::kGuid);
    lib.major = Get16(r + library::kMajor);
    lib.minor = Get16(r + library::kMinor);
    lib.lcid = Get32(r + library::kLcid);
    lib.sysKind = Get16(r + library::kSysKind);
    lib.flags = Get16(r + library::kFlags);
    lib.name = Get32(r + library::kName);
    lib.help = Get32(r + library::kHelp);
    lib.helpContext = Get32(r + library::kHelpContext);
    lib.helpFile = Get32(r + library::kHelpFile);
    return lib.sysKind <= SYS_WIN64 && Name(lib.name) && String(lib.help) && String(lib.helpFile);
  }

  bool Imports(RawLibrary& lib) const {
    for (std::uint32_t i = 0; i < sections_[kImports].count; ++i) {
      const unsigned char* r = Record(kImports, i);
      RawImport im{GetGuid<GUID>(r + import::kGuid), Get16(r + import::kMajor), Get16(r + import::kMinor),
                   Get32(r + import::kFile)};
      if (im.file == kNone || !String(im.file)) return false;
      lib.imports.push_back(im);
    }
    return true;
  }

  bool Externals(RawLibrary& lib) const {
    for (std::uint32_t i = 0; i < sections_[kExternals].count; ++i) {
      const unsigned char* r = Record(kExternals, i);
      RawExternal ex{Get32(r + external::kImport), GetGuid<GUID>(r + external::kGuid)};
      if (ex.import >= lib.imports.size()) return false;
      lib.externals.push_back(ex);
    }
    return true;
  }

  bool Ref(const RawLibrary& lib, HREFTYPE ref, std::uint32_t self) const {
    if (ref & kExternalRef) return (ref & ~kExternalRef) < lib.externals.size();
    return ref < sections_[kTypes].count && ref != self;
  }

  static bool Vt(VARTYPE vt, std::uint16_t depth, bool isReturn) {
    if (depth > kMaxPointerDepth) return false;
    switch (vt) {
      case VT_I2: case VT_I4: case VT_INT: case VT_UI4: case VT_UINT: case VT_R4: case VT_R8: case VT_BOOL:
      case VT_BSTR: case VT_ERROR: case VT_DISPATCH: case VT_UNKNOWN: case VT_VARIANT: case VT_I1: case VT_UI1:
      case VT_UI2:
        return true;
      case VT_HRESULT: return isReturn && depth == 0;
      case VT_VOID: return isReturn ? depth == 0 : depth > 0;
      default: return false;
    }
  }

  bool Params(RawFunc& f, std::uint32_t first, std::uint32_t count) const {
    if (count > kMaxParams || first > sections_[kParams].count || count > sections_[kParams].count - first)
      return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const unsigned char* r = Record(kParams, first + i);
      RawParam p{Get32(r + param::kName), Get16(r + param::kFlags), Get16(r + param::kVt), Get16(r + param::kDepth)};
      if (!Name(p.name) || !Vt(p.vt, p.depth, false)) return false;
      if (p.flags & ~(PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) return false;
      // A return value is the last parameter, written through a pointer.
      if ((p.flags & PARAMFLAG_FRETVAL) && (i + 1 != count || p.depth == 0)) return false;
      if ((p.flags & PARAMFLAG_FOUT) && p.depth == 0) return false;
      f.params.push_back(p);
    }
    return true;
  }

  bool Funcs(RawType& t, std::uint32_t first, std::uint32_t count) const {
    if (first > sections_[kFunctions].count || count > sections_[kFunctions].count - first || count > 0xFFFF)
      return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const unsigned char* r = Record(kFunctions, first + i);
      RawFunc f{};
      f.id = static_cast<MEMBERID>(Get32(r + function::kId));
      f.name = Get32(r + function::kName);
      f.help = Get32(r + function::kHelp);
      f.helpContext = Get32(r + function::kHelpContext);
      f.invokeKind = Get16(r + function::kInvokeKind);
      f.funcKind = Get16(r + function::kFuncKind);
      f.callConv = Get16(r + function::kCallConv);
      f.flags = Get16(r + function::kFlags);
      f.slot = Get16(r + function::kSlot);
      f.returnVt = Get16(r + function::kReturnVt);
      f.returnDepth = Get16(r + function::kReturnDepth);
      if (!Name(f.name) || !String(f.help)) return false;
      if (f.invokeKind != INVOKE_FUNC && f.invokeKind != INVOKE_PROPERTYGET && f.invokeKind != INVOKE_PROPERTYPUT &&
          f.invokeKind != INVOKE_PROPERTYPUTREF)
        return false;
      if (f.callConv != CC_STDCALL && f.callConv != CC_CDECL) return false;
      if (f.funcKind == FUNC_PUREVIRTUAL) {
        if (t.kind == TKIND_COCLASS || f.slot >= t.slots || f.slot >= 4096) return false;
      } else if (f.funcKind != FUNC_DISPATCH || t.kind != TKIND_DISPATCH) {
        return false;
      }
      if (!Vt(f.returnVt, f.returnDepth, true)) return false;
      if (!Params(f, Get32(r + function::kFirstParam), Get32(r + function::kParamCount))) return false;
      t.funcs.push_back(std::move(f));
    }
    return true;
  }

  bool Types(RawLibrary& lib) const {
    std::uint32_t count = sections_[kTypes].count;
    if (count > 0xFFFF) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const unsigned char* r = Record(kTypes, i);
      RawType t{};
      t.name = Get32(r + type::kName);
      t.help = Get32(r + type::kHelp);
      t.guid = GetGuid<GUID>(r + type::kGuid);
      t.kind = Get16(r + type::kKind);
      t.flags = Get16(r + type::kFlags);
      t.major = Get16(r + type::kMajor);
      t.minor = Get16(r + type::kMinor);
      t.helpContext = Get32(r + type::kHelpContext);
      t.slots = Get32(r + type::kSlots);
      std::uint32_t base = Get32(r + type::kBase);
      std::uint32_t firstImpl = Get32(r + type::kFirstImpl), implCount = Get32(r + type::kImplCount);
      if (!Name(t.name) || !String(t.help) || t.slots > 4096) return false;
      if (t.kind != TKIND_INTERFACE && t.kind != TKIND_DISPATCH && t.kind != TKIND_COCLASS) return false;
      if (t.kind == TKIND_COCLASS) {
        if (base != kNone || implCount > 0xFFFF || firstImpl > sections_[kImpls].count ||
            implCount > sections_[kImpls].count - firstImpl)
          return false;
        for (std::uint32_t k = 0; k < implCount; ++k) {
          const unsigned char* ir = Record(kImpls, firstImpl + k);
          RawImpl im{Get32(ir + impl::kRef), Get16(ir + impl::kFlags)};
          if (!Ref(lib, im.ref, i) || im.flags & ~(IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE |
                                                    IMPLTYPEFLAG_FRESTRICTED))
            return false;
          t.impls.push_back(im);
        }
      } else {
        if (implCount != 0) return false;
        if (base != kNone) {
          if (!Ref(lib, base, i)) return false;
          t.impls.push_back({base, 0});
        }
      }
      if (!Funcs(t, Get32(r + type::kFirstFunc), Get32(r + type::kFuncCount))) return false;
      lib.types.push_back(std::move(t));
    }
    return true;
  }

  const unsigned char* data_;
  std::size_t size_;
  Span sections_[kSectionCount];
  std::uint32_t nameCount_ = 0, stringCount_ = 0;
};

}  // namespace

HRESULT DecodeLibrary(const unsigned char* data, std::size_t size, RawLibrary& out) {
  if (!data) return kCorrupt;
  RawLibrary lib;
  HRESULT hr = Decoder(data, size).Run(lib);
  if (SUCCEEDED(hr)) out = std::move(lib);
  return hr;
}

}  // namespace oleaut
