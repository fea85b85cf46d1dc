// Type libraries of the runtime: the decoded form of a library, its objects
// (ITypeLib, ITypeInfo2), and the loaders that produce them.
#pragma once

#include <ffi.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "quiboleaut/typelib_format.h"

namespace oleaut {

// ---- Decoded library: the content of the file, checked --------------------

struct RawParam {
  std::uint32_t name;
  USHORT flags;
  VARTYPE vt;
  std::uint16_t depth;  // pointer levels above vt
};

struct RawFunc {
  MEMBERID id;
  std::uint32_t name, help, helpContext;
  std::uint16_t invokeKind, funcKind, callConv, flags, slot;
  VARTYPE returnVt;
  std::uint16_t returnDepth;
  std::vector<RawParam> params;
};

struct RawImpl {
  HREFTYPE ref;
  std::uint16_t flags;
};

struct RawType {
  std::uint32_t name, help;
  GUID guid;
  std::uint16_t kind, flags, major, minor;
  std::uint32_t helpContext, slots;
  std::vector<RawFunc> funcs;
  std::vector<RawImpl> impls;  // for interfaces: the base, if any
};

struct RawImport {
  GUID guid;
  std::uint16_t major, minor;
  std::uint32_t file;
};

struct RawExternal {
  std::uint32_t import;
  GUID guid;
};

struct RawLibrary {
  GUID guid{};
  std::uint16_t major = 0, minor = 0;
  LCID lcid = 0;
  std::uint16_t sysKind = SYS_WIN32, flags = 0;
  std::uint32_t name = 0, help = tlbformat::kNone, helpContext = 0, helpFile = tlbformat::kNone;
  std::vector<std::u16string> names, strings;
  std::vector<RawImport> imports;
  std::vector<RawExternal> externals;
  std::vector<RawType> types;
};

// Checks and decodes a compiled library. Any inconsistency: TYPE_E_INVDATAREAD
// (or TYPE_E_UNSUPFORMAT for another format version); nothing is read past size.
HRESULT DecodeLibrary(const unsigned char* data, std::size_t size, RawLibrary& out);

// The built-in standard library (IUnknown, IDispatch).
ITypeLib* StandardLibrary();
bool IsStandardLibraryPath(LPCWSTR path);

// A new library object over decoded content, with one reference.
HRESULT CreateTypeLib(RawLibrary&& raw, ITypeLib** out);

// The TYPELIB resource 1 of a module file, read as data.
HRESULT ReadModuleTypeLib(LPCWSTR path, std::vector<unsigned char>& out);

}  // namespace oleaut
