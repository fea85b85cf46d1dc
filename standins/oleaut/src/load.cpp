// LoadTypeLib: type-library files, the TYPELIB resource of a module file, and
// the built-in standard library.
#include <algorithm>
#include <cstdio>

#include "quibcore/utf.h"
#include "typelib.h"

namespace oleaut {


namespace {

HRESULT ReadFile(const std::string& path, std::vector<unsigned char>& out) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return TYPE_E_CANTLOADLIBRARY;
  unsigned char buffer[8192];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    out.insert(out.end(), buffer, buffer + n);
    if (out.size() > (64u << 20)) break;  // no type library is that large
  }
  bool failed = std::ferror(file) != 0 || out.size() > (64u << 20);
  std::fclose(file);
  return failed ? TYPE_E_IOERROR : S_OK;
}

bool IsCompiledLibrary(const std::vector<unsigned char>& data) {
  return data.size() >= 4 && std::equal(data.begin(), data.begin() + 4, tlbformat::kMagic);
}

}  // namespace
}  // namespace oleaut

HRESULT LoadTypeLib(LPCWSTR path, ITypeLib** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!path || !*path) return E_INVALIDARG;
  if (oleaut::IsStandardLibraryPath(path)) {
    *out = oleaut::StandardLibrary();
    return S_OK;
  }
  std::vector<unsigned char> data;
  HRESULT hr = oleaut::ReadFile(quibcore::ToUtf8(path), data);
  if (FAILED(hr)) return hr;
  if (!oleaut::IsCompiledLibrary(data)) {
    data.clear();
    hr = oleaut::ReadModuleTypeLib(path, data);
    if (FAILED(hr)) return hr;
  }
  oleaut::RawLibrary raw;
  hr = oleaut::DecodeLibrary(data.data(), data.size(), raw);
  if (FAILED(hr)) return hr;
  return oleaut::CreateTypeLib(std::move(raw), out);
}
