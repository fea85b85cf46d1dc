// The platform loader over dlopen: counted loads, entry-point calls serialised
// under one loader lock, exported routines by name, module file names, files
// loaded as data for their resources, and the platform's library names.
#include "platform/loader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>

#include "elf.h"
#include "module_record.h"
#include "platform/errors.h"
#include "platform/resources.h"
#include "quibtest/loader.h"
#include "quibcore/utf.h"

namespace quibcore {

std::recursive_mutex& LoaderLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace quibcore

namespace {

using quibcore::LoaderLock;

std::unordered_set<ModuleRecord*>& Modules() {
  static std::unordered_set<ModuleRecord*> modules;
  return modules;
}

// Libraries run from a file, not those loaded as data.
ModuleRecord* FindByPath(const std::string& path) {
  for (ModuleRecord* m : Modules())
    if (m->library && m->path == path) return m;
  return nullptr;
}

bool IsLoaded(HMODULE module) { return module && Modules().count(module) != 0; }

// Test hooks: libraries and routines that the loader pretends not to find.
std::set<std::string>& HiddenLibraries() {
  static std::set<std::string> hidden;
  return hidden;
}
std::set<std::pair<std::string, std::string>>& HiddenRoutines() {
  static std::set<std::pair<std::string, std::string>> hidden;
  return hidden;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string BaseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The platform's libraries by their device names, and the stand-in that
// serves each, found next to this core library.
struct PlatformLibrary {
  const char* name;
  const char* file;
};
constexpr PlatformLibrary kPlatformLibraries[] = {
    {"oleaut32.dll", "libquiboleaut.so"},
    {"ole32.dll", "libquibcore.so"},
    {"coredll.dll", "libquibcore.so"},
    {"voicectl.dll", "libquibvoicectl.so"},
};

std::string CoreDirectory() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&LoadLibraryW), &info) || !info.dli_fname) return ".";
  char resolved[PATH_MAX];
  std::string self = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
  std::size_t slash = self.rfind('/');
  return slash == std::string::npos ? "." : self.substr(0, slash);
}

// The stand-in file for a platform name ("OLEAUT32.DLL" or "oleaut32"), or
// empty when name is not one.
const PlatformLibrary* PlatformLibraryOf(const std::string& name) {
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) return nullptr;
  std::string lower = Lower(name);
  for (const PlatformLibrary& library : kPlatformLibraries) {
    std::string full = library.name;
    if (lower == full || lower + ".dll" == full) return &library;
  }
  return nullptr;
}

bool NameMatches(const ModuleRecord* m, const std::string& library) {
  std::string wanted = Lower(library);
  if (!m->alias.empty() && (wanted == m->alias || wanted + ".dll" == m->alias)) return true;
  return wanted == Lower(BaseName(m->path));
}

LibraryEntryPoint EntryPointOf(ModuleRecord* m) {
  if (!m->library) return nullptr;
  return reinterpret_cast<LibraryEntryPoint>(dlsym(m->library, "DllMain"));
}

}  // namespace

namespace quibcore {

bool IsLoadedModule(HMODULE module) { return IsLoaded(module); }

}  // namespace quibcore

HMODULE LoadLibraryW(LPCWSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = quibcore::ToUtf8(path);
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  std::string alias;
  if (const PlatformLibrary* platform = PlatformLibraryOf(name)) {
    alias = platform->name;
    if (HiddenLibraries().count(alias)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    name = CoreDirectory() + "/" + platform->file;
  }
  char resolved[PATH_MAX];
  if (!realpath(name.c_str(), resolved)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (ModuleRecord* m = FindByPath(resolved)) {
    ++m->loads;
    if (m->alias.empty()) m->alias = alias;
    return m;
  }
  void* library = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  auto* m = new ModuleRecord;
  m->path = resolved;
  m->library = library;
  m->loads = 1;
  m->alias = alias;
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
  if (!module->library) {  // loaded as data: nothing ran, nothing to run
    Modules().erase(module);
    delete module;
    return TRUE;
  }
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
  std::string routine = quibcore::ToUtf8(name);
  bool hidden = false;
  for (const auto& [library, hiddenRoutine] : HiddenRoutines())
    if (hiddenRoutine == routine && (library.empty() || NameMatches(module, library))) hidden = true;
  void* symbol = module->library && !hidden ? dlsym(module->library, routine.c_str()) : nullptr;
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

namespace {

// Reads a whole file (at most 1 GiB) into memory.
LONG ReadImage(const std::string& path, std::vector<unsigned char>& image) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
  struct stat st {};
  LONG code = ERROR_SUCCESS;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    code = ERROR_ACCESS_DENIED;
  } else if (st.st_size > (1 << 30)) {
    code = ERROR_BAD_EXE_FORMAT;
  } else {
    image.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < image.size()) {
      ssize_t n = read(fd, image.data() + done, image.size() - done);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    image.resize(done);  // a file that shrank meanwhile is parsed as it was read
  }
  close(fd);
  return code;
}

}  // namespace

HMODULE LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags) {
  if (reserved || (flags & ~LOAD_LIBRARY_AS_DATAFILE) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(flags & LOAD_LIBRARY_AS_DATAFILE)) return LoadLibraryW(path);
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = quibcore::ToUtf8(path);
  if (const PlatformLibrary* platform = PlatformLibraryOf(name)) {
    std::lock_guard<std::recursive_mutex> hold(LoaderLock());
    if (HiddenLibraries().count(platform->name)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    name = CoreDirectory() + "/" + platform->file;
  }
  auto m = std::make_unique<ModuleRecord>();
  if (LONG code = ReadImage(name, m->image); code != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(code));
    return nullptr;
  }
  quibcore::ElfSection section;
  if (quibcore::FindElfSection(m->image.data(), m->image.size(), ".quibrsrc", section) ==
      quibcore::ElfResult::Malformed) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  char resolved[PATH_MAX];
  m->path = realpath(name.c_str(), resolved) ? resolved : name;
  m->loads = 1;
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  ModuleRecord* record = m.release();
  Modules().insert(record);
  return record;
}

namespace quibtest {

void HideLibrary(const std::string& name) {
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  HiddenLibraries().insert(Lower(name));
}

void HideRoutine(const std::string& library, const std::string& routine) {
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  HiddenRoutines().insert({library, routine});
}

void ClearHiddenNames() {
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  HiddenLibraries().clear();
  HiddenRoutines().clear();
}

}  // namespace quibtest
