// What the loader keeps of each loaded module, shared with the resource
// services. All of it is guarded by the loader lock.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "platform/types.h"

struct ModuleRecord {
  std::string path;  // absolute, as realpath gives it
  void* library = nullptr;  // dlopen handle; null for a file loaded as data
  unsigned loads = 0;
  std::string alias;  // the platform name it was loaded by ("oleaut32.dll"), if any
  // A file loaded as data: its bytes, never mapped to run.
  std::vector<unsigned char> image;
  // The resource section, found on first use: where it lies and whether it
  // was looked for, is missing or is malformed.
  enum class Section { Unknown, Present, Missing, Malformed } section = Section::Unknown;
  const unsigned char* sectionData = nullptr;
  std::size_t sectionSize = 0;
};

namespace quibcore {

// Re-entrant: an entry point may load or free other libraries.
std::recursive_mutex& LoaderLock();
// True when module is a live record of the loader (lock held).
bool IsLoadedModule(HMODULE module);

}  // namespace quibcore
