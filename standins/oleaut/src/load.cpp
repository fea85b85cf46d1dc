// LoadTypeLib: type-library files, the TYPELIB resource of a module file, and
// the built-in standard library.
#include <algorithm>
#include <cstdio>

#include "typelib.h"

namespace oleaut {

std::string ToUtf8(LPCWSTR text) {
  std::string out;
  for (std::size_t i = 0; text[i]; ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

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
  HRESULT hr = oleaut::ReadFile(oleaut::ToUtf8(path), data);
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
