// The platform loader over dlopen: counted loads, entry-point calls serialised
// under one loader lock, exported routines by name, module file names.
#include "platform/loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/errors.h"
#include "utf.h"

struct ModuleRecord {
  std::string path;  // absolute, as realpath gives it
  void* library = nullptr;
  unsigned loads = 0;
};

namespace {

// Re-entrant: an entry point may load or free other libraries.
std::recursive_mutex& LoaderLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::unordered_set<ModuleRecord*>& Modules() {
  static std::unordered_set<ModuleRecord*> modules;
  return modules;
}

ModuleRecord* FindByPath(const std::string& path) {
  for (ModuleRecord* m : Modules())
    if (m->path == path) return m;
  return nullptr;
}

bool IsLoaded(HMODULE module) { return module && Modules().count(module) != 0; }

LibraryEntryPoint EntryPointOf(ModuleRecord* m) {
  return reinterpret_cast<LibraryEntryPoint>(dlsym(m->library, "DllMain"));
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = quibcore::ToUtf8(path);
  char resolved[PATH_MAX];
  if (!realpath(name.c_str(), resolved)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  if (ModuleRecord* m = FindByPath(resolved)) {
    ++m->loads;
    return m;
  }
  void* library = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  auto* m = new ModuleRecord{resolved, library, 1};
  Modules().insert(m);
  if (LibraryEntryPoint entry = EntryPointOf(m)) entry(m, DLL_PROCESS_ATTACH, nullptr);
  return m;
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  if (!IsLoaded(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--module->loads > 0) return TRUE;
  if (LibraryEntryPoint entry = EntryPointOf(module)) entry(module, DLL_PROCESS_DETACH, nullptr);
  Modules().erase(module);
  dlclose(module->library);
  delete module;
  return TRUE;
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  if (!IsLoaded(module) || !name) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* symbol = dlsym(module->library, quibcore::ToUtf8(name).c_str());
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity) {
  std::string path;
  {
    std::lock_guard<std::recursive_mutex> hold(LoaderLock());
    if (module) {
      if (!IsLoaded(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
      }
      path = module->path;
    } else {
      char self[PATH_MAX];
      ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
      if (n < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
      }
      path.assign(self, static_cast<std::size_t>(n));
    }
  }
  if (!buffer || capacity == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::u16string wide = quibcore::FromUtf8(path);
  if (wide.size() + 1 > capacity) {
    wide.copy(buffer, capacity - 1);
    buffer[capacity - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return capacity;
  }
  wide.copy(buffer, wide.size());
  buffer[wide.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(wide.size());
}
