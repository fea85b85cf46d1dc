// Registered type libraries: placeholder until the registry is available.
#include "typelib.h"

HRESULT LoadRegTypeLib(REFGUID libid, WORD, WORD, LCID, ITypeLib** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (libid == LIBID_stdole) {
    *out = oleaut::StandardLibrary();
    return S_OK;
  }
  return TYPE_E_LIBNOTREGISTERED;
}
HRESULT RegisterTypeLib(ITypeLib*, LPCWSTR, LPCWSTR) { return TYPE_E_REGISTRYACCESS; }
HRESULT UnRegisterTypeLib(REFGUID, WORD, WORD, LCID, SYSKIND) { return TYPE_E_REGISTRYACCESS; }
