// InterfaceTableQuery and AssignInterface.
#include "module/interface_table.h"

namespace {
IUnknown* InterfaceAt(void* object, DWORD offset) {
  return reinterpret_cast<IUnknown*>(static_cast<char*>(object) + offset);
}
}  // namespace

HRESULT InterfaceTableQuery(void* object, const InterfaceTableRow* table, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualGUID(iid, IID_IUnknown)) {
    IUnknown* identity = InterfaceAt(object, table[0].offset);
    identity->AddRef();
    *out = identity;
    return S_OK;
  }
  for (const InterfaceTableRow* row = table; row->kind != kInterfaceTableEnd; ++row) {
    if (row->iid && !IsEqualGUID(*row->iid, iid)) continue;
    if (row->kind == kInterfaceTableOffset) {
      IUnknown* face = InterfaceAt(object, row->offset);
      face->AddRef();
      *out = face;
      return S_OK;
    }
    auto function = reinterpret_cast<InterfaceTableFunction>(row->kind);
    HRESULT hr = function(object, iid, out, row->offset);
    if (hr == S_OK) return S_OK;
    if (FAILED(hr) && row->iid) return hr;
  }
  return E_NOINTERFACE;
}

IUnknown* AssignInterface(IUnknown** slot, IUnknown* value) {
  if (value) value->AddRef();
  if (*slot) (*slot)->Release();
  *slot = value;
  return value;
}
