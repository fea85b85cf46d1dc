// TypeInfoHolder: loading under the module's first critical section (double
// test), the name cache, and the calls handed on to the type information.
#include "automation/type_info_holder.h"

#include "automation/contract.h"
#include "module/interface_table.h"
#include "module/module_state.h"
#include "platform/heaps.h"
#include "platform/wstring.h"

TypeInfoHolder g_recorderTypeInfo = {&IID_IquibVoiceRec, &LIBID_QUIBVOICERECLib, 1, 0, nullptr, nullptr, 0};

HRESULT TypeInfoHolder::EnsureLoaded(LCID locale) {
  if (Loaded()) return S_OK;
  ModuleState* module = &g_moduleState;
  HRESULT hr = S_OK;
  EnterCriticalSection(&module->firstSection);
  if (!typeInfo) {
    ITypeLib* library = nullptr;
    hr = LoadRegTypeLib(*libraryId, majorVersion, minorVersion, locale, &library);
    if (SUCCEEDED(hr)) {
      ITypeInfo* info = nullptr;
      hr = library->GetTypeInfoOfGuid(*interfaceId, &info);
      if (SUCCEEDED(hr)) {
        ITypeInfo2* info2 = nullptr;
        if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
          AssignInterface(reinterpret_cast<IUnknown**>(&info), info2);
          info2->Release();
        }
        LoadNameCache(info);
        __atomic_store_n(&typeInfo, info, __ATOMIC_RELEASE);
      }
      library->Release();
    }
  }
  LeaveCriticalSection(&module->firstSection);
  // One registration per call that got this far; Cleanup tolerates repeats.
  module->AddTermCallback(&TypeInfoHolder::Cleanup, reinterpret_cast<std::uintptr_t>(this));
  return hr;
}

void TypeInfoHolder::LoadNameCache(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return;
  LONG count = attr->cFuncs;
  NameCacheEntry* entries = nullptr;
  if (count > 0) {
    entries = static_cast<NameCacheEntry*>(ObjectAlloc(sizeof(NameCacheEntry) * static_cast<std::size_t>(count)));
    // Without the array every name goes to the type information.
    if (!entries) count = 0;
  }
  for (LONG i = 0; i < count; ++i) entries[i] = {nullptr, 0, DISPID_UNKNOWN};
  for (LONG i = 0; i < count; ++i) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(static_cast<UINT>(i), &desc))) continue;
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr)) && name) {
      entries[i] = {name, static_cast<LONG>(SysStringLen(name)), desc->memid};
      name = nullptr;
    }
    SysFreeString(name);
    info->ReleaseFuncDesc(desc);
  }
  nameCache = entries;
  cacheCount = count;
  info->ReleaseTypeAttr(attr);
}

HRESULT TypeInfoHolder::GetTypeInfo(LCID locale, ITypeInfo** out) {
  HRESULT hr = S_OK;
  if (!Loaded()) hr = EnsureLoaded(locale);
  ITypeInfo* info = Loaded();
  *out = info;
  if (!info) return hr;
  info->AddRef();
  return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  HRESULT hr = S_OK;
  if (!Loaded()) hr = EnsureLoaded(locale);
  ITypeInfo* info = Loaded();
  if (!info) return hr;
  if (static_cast<int>(count) <= 0) return hr;
  if (!names || !ids || !names[0]) return E_INVALIDARG;
  if (count == 1) {
    auto n = static_cast<LONG>(WideLength(names[0]));
    for (LONG i = cacheCount - 1; i >= 0; --i) {
      const NameCacheEntry& e = nameCache[i];
      if (e.length == n && e.name && std::memcmp(e.name, names[0], sizeof(OLECHAR) * static_cast<std::size_t>(n)) == 0) {
        ids[0] = e.memberId;
        return hr;
      }
    }
  }
  return info->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(void* instance, DISPID member, LCID locale, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  ITypeInfo* info = Loaded();
  if (!info) {
    HRESULT hr = EnsureLoaded(locale);
    info = Loaded();
    if (!info) return hr;
  }
  return info->Invoke(instance, member, flags, params, result, exception, argError);
}

void TypeInfoHolder::Cleanup(std::uintptr_t data) {
  auto* holder = reinterpret_cast<TypeInfoHolder*>(data);
  if (holder->typeInfo) {
    holder->typeInfo->Release();
    __atomic_store_n(&holder->typeInfo, nullptr, __ATOMIC_RELEASE);
  }
  if (holder->nameCache) {
    for (LONG i = holder->cacheCount - 1; i >= 0; --i) SysFreeString(holder->nameCache[i].name);
    ObjectFree(holder->nameCache);
    holder->nameCache = nullptr;
    holder->cacheCount = 0;
  }
}
