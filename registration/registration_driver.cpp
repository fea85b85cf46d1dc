// The registration driver and the exports DllRegisterServer and DllUnregisterServer.
#include "registration/registration_driver.h"

#include "module/exports.h"
#include "module/module_state.h"
#include "platform/errors.h"
#include "platform/loader.h"
#include "platform/wstring.h"
#include "registration/script_runner.h"

namespace {

constexpr WORD kRecorderScriptId = 101;

// Whether a map entry takes part in a walk.
bool IsSelected(const ObjectMapEntry& entry, const CLSID* filter) {
  if (filter) return IsEqualGUID(*entry.clsid, *filter);
  return !(entry.descriptionCallback && entry.descriptionCallback());
}

// Releases what LoadModuleTypeLibrary handed out.
struct LoadedTypeLibrary {
  BSTR path = nullptr;
  ITypeLib* library = nullptr;
  ~LoadedTypeLibrary() {
    if (library) library->Release();
    SysFreeString(path);
  }
};

}  // namespace

HRESULT UpdateRecorderRegistry(BOOL registerEntries) {
  return ApplyRegistryResource(kRecorderScriptId, registerEntries, nullptr);
}

HRESULT RegisterObjects(ModuleState* module, BOOL registerTypeLibrary, const CLSID* filter) {
  if (!module) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (ObjectMapEntry* entry = module->objectMap; entry->clsid; ++entry) {
    if (!IsSelected(*entry, filter)) continue;
    hr = entry->registryUpdater(TRUE);
    if (FAILED(hr)) return hr;
  }
  if (registerTypeLibrary) hr = RegisterModuleTypeLibrary(module);
  return hr;
}

HRESULT UnregisterObjects(ModuleState* module, BOOL unregisterTypeLibrary, const CLSID* filter) {
  if (!module) return E_INVALIDARG;
  for (ObjectMapEntry* entry = module->objectMap; entry->clsid; ++entry)
    if (IsSelected(*entry, filter)) entry->registryUpdater(FALSE);
  if (unregisterTypeLibrary) UnregisterModuleTypeLibrary(module);
  return S_OK;
}

bool TypeLibraryFallbackPath(LPCWSTR path, WCHAR* result, std::size_t capacity) {
  const std::size_t length = WideLength(path);
  std::size_t stem = length;
  for (std::size_t i = 0; i < length; ++i)
    if (path[i] == u'.') stem = i;
  if (stem + 4 >= capacity) return false;
  std::memmove(result, path, stem * sizeof(WCHAR));
  WideCopy(result + stem, u".tlb");
  return true;
}

void HelpDirectoryOf(LPCWSTR path, WCHAR* result) {
  std::size_t cut = 0;
  for (std::size_t i = 0; path[i]; ++i)
    if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':') cut = i + 1;
  std::memmove(result, path, cut * sizeof(WCHAR));
  result[cut] = 0;
}

HRESULT LoadModuleTypeLibrary(ModuleState* module, BSTR* path, ITypeLib** library) {
  *path = nullptr;
  *library = nullptr;

  WCHAR file[kModulePathCapacity];
  const DWORD length = GetModuleFileNameW(module->typeLibInstance, file, kModulePathCapacity);
  if (length >= kModulePathCapacity) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  file[length] = 0;

  ITypeLib* loaded = nullptr;
  HRESULT hr = LoadTypeLib(file, &loaded);
  if (FAILED(hr)) {
    if (!TypeLibraryFallbackPath(file, file, kModulePathCapacity))
      return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    loaded = nullptr;
    hr = LoadTypeLib(file, &loaded);
    if (FAILED(hr)) return hr;
  }

  *path = SysAllocString(file);
  if (!*path) {
    loaded->Release();
    return E_OUTOFMEMORY;
  }
  *library = loaded;
  return hr;
}

HRESULT RegisterModuleTypeLibrary(ModuleState* module) {
  LoadedTypeLibrary loaded;
  HRESULT hr = LoadModuleTypeLibrary(module, &loaded.path, &loaded.library);
  if (FAILED(hr)) return hr;
  WCHAR helpDirectory[kModulePathCapacity];  // the loaded path fits, so its directory does
  HelpDirectoryOf(loaded.path, helpDirectory);
  return RegisterTypeLib(loaded.library, loaded.path, helpDirectory);
}

HRESULT UnregisterModuleTypeLibrary(ModuleState* module) {
  LoadedTypeLibrary loaded;
  const HRESULT hr = LoadModuleTypeLibrary(module, &loaded.path, &loaded.library);
  if (FAILED(hr)) return hr;
  TLIBATTR* attributes = nullptr;
  if (FAILED(loaded.library->GetLibAttr(&attributes))) return hr;

  // Looked up when needed, so that a runtime without it still unregisters the rest.
  if (HMODULE runtime = LoadLibraryW(u"oleaut32.dll")) {
    if (auto routine = reinterpret_cast<UnRegisterTypeLibRoutine>(GetProcAddressW(runtime, u"UnRegisterTypeLib")))
      routine(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
              attributes->syskind);
    FreeLibrary(runtime);
  }
  loaded.library->ReleaseTLibAttr(attributes);
  return hr;
}

QUIB_EXPORT HRESULT DllRegisterServer() { return RegisterObjects(ModuleState::Current(), TRUE, nullptr); }

QUIB_EXPORT HRESULT DllUnregisterServer() {
  UnregisterObjects(ModuleState::Current(), FALSE, nullptr);
  return S_OK;
}
