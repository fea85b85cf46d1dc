// The TYPELIB resource 1 of a module file, read as data (nothing in it runs).
#include "platform/resources.h"
#include "platform/loader.h"
#include "typelib.h"

namespace oleaut {

HRESULT ReadModuleTypeLib(LPCWSTR path, std::vector<unsigned char>& out) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return TYPE_E_CANTLOADLIBRARY;
  HRESULT hr = TYPE_E_CANTLOADLIBRARY;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), u"TYPELIB")) {
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data) {
      const auto* bytes = static_cast<const unsigned char*>(data);
      out.assign(bytes, bytes + size);
      hr = S_OK;
    }
  }
  FreeLibrary(module);
  return hr;
}

}  // namespace oleaut
