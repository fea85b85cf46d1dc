// Resources of a module: the resource section that the build's resource
// compiler placed in the library (format in docs/resources.md), found in the
// loaded image or in a file loaded as data, and checked before any use.
#include "platform/resources.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <mutex>
#include <string>

#include "elf.h"
#include "module_record.h"
#include "platform/errors.h"

namespace {

constexpr char kSectionName[] = ".quibrsrc";
constexpr unsigned char kMagic[4] = {'Q', 'R', 'S', 'C'};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kEntrySize = 24;

std::uint32_t Le(const unsigned char* p, unsigned bytes) {
  std::uint32_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v |= std::uint32_t{p[i]} << (8 * i);
  return v;
}

// One entry of the section's table, as stored.
struct Entry {
  std::uint16_t typeNameLength;  // characters; 0 for a numeric type
  std::uint16_t typeId;
  std::uint16_t id;
  std::uint16_t language;
  std::uint32_t typeNameOffset;
  std::uint32_t dataOffset;
  std::uint32_t dataSize;
};

Entry EntryAt(const unsigned char* p) {
  return {static_cast<std::uint16_t>(Le(p, 2)), static_cast<std::uint16_t>(Le(p + 2, 2)),
          static_cast<std::uint16_t>(Le(p + 4, 2)), static_cast<std::uint16_t>(Le(p + 6, 2)),
          Le(p + 8, 4), Le(p + 12, 4), Le(p + 16, 4)};
}

bool Within(std::uint64_t at, std::uint64_t length, std::uint64_t size) { return at <= size && length <= size - at; }

// Every offset and length of the section lies inside it.
bool SectionIsWellFormed(const unsigned char* data, std::size_t size) {
  if (size < kHeaderSize || std::memcmp(data, kMagic, 4) != 0) return false;
  std::uint32_t version = Le(data + 4, 2), headerSize = Le(data + 6, 2);
  std::uint32_t count = Le(data + 8, 4), total = Le(data + 12, 4);
  if (version != kVersion || headerSize < kHeaderSize || total > size || total < headerSize) return false;
  if (!Within(headerSize, std::uint64_t{count} * kEntrySize, total)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    Entry e = EntryAt(data + headerSize + std::size_t{i} * kEntrySize);
    if (e.typeNameLength && !Within(e.typeNameOffset, std::uint64_t{e.typeNameLength} * 2, total)) return false;
    if (!Within(e.dataOffset, e.dataSize, total)) return false;
  }
  return true;
}

// True when [begin, begin + size) lies in a readable loaded segment of the
// object whose load address is base: what the process really has mapped,
// whatever the file on disk says now.
bool MappedReadable(std::uintptr_t base, std::uintptr_t begin, std::size_t size) {
  struct Query {
    std::uintptr_t base, begin;
    std::size_t size;
    bool found;
  } query{base, begin, size, false};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto* q = static_cast<Query*>(data);
        if (info->dlpi_addr != q->base) return 0;
        for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& ph = info->dlpi_phdr[i];
          if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_R)) continue;
          std::uintptr_t start = info->dlpi_addr + ph.p_vaddr;
          if (q->begin >= start && q->size <= ph.p_filesz && q->begin - start <= ph.p_filesz - q->size) q->found = true;
        }
        return q->found ? 1 : 0;
      },
      &query);
  return query.found;
}

// The module's resource section, found once and then remembered (loader lock
// held). Sets the last error and gives false when there is none to use.
bool SectionOf(HMODULE module, const unsigned char*& data, std::size_t& size) {
  if (!module || !quibcore::IsLoadedModule(module)) {
    SetLastError(module ? ERROR_INVALID_HANDLE : ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  if (module->section == ModuleRecord::Section::Unknown) {
    module->section = ModuleRecord::Section::Missing;
    if (!module->library) {
      quibcore::ElfSection s;
      quibcore::ElfResult found = quibcore::FindElfSection(module->image.data(), module->image.size(), kSectionName, s);
      if (found == quibcore::ElfResult::Found) {
        module->sectionData = module->image.data() + s.offset;
        module->sectionSize = static_cast<std::size_t>(s.size);
        module->section = ModuleRecord::Section::Present;
      } else if (found == quibcore::ElfResult::Malformed) {
        module->section = ModuleRecord::Section::Malformed;
      }
    } else {
      // A running library: its headers come from its file, its bytes from memory.
      std::vector<unsigned char> file;
      FILE* f = std::fopen(module->path.c_str(), "rb");
      if (f) {
        unsigned char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) file.insert(file.end(), buffer, buffer + n);
        std::fclose(f);
      }
      quibcore::ElfSection s;
      link_map* map = nullptr;
      quibcore::ElfResult found = quibcore::FindElfSection(file.data(), file.size(), kSectionName, s);
      if (found == quibcore::ElfResult::Found && s.allocated && s.loadedFromFile &&
          dlinfo(module->library, RTLD_DI_LINKMAP, &map) == 0 && map &&
          MappedReadable(map->l_addr, map->l_addr + s.address, static_cast<std::size_t>(s.size))) {
        module->sectionData = reinterpret_cast<const unsigned char*>(map->l_addr + s.address);
        module->sectionSize = static_cast<std::size_t>(s.size);
        module->section = ModuleRecord::Section::Present;
      } else if (found != quibcore::ElfResult::Missing) {
        module->section = ModuleRecord::Section::Malformed;
      }
    }
    if (module->section == ModuleRecord::Section::Present &&
        !SectionIsWellFormed(module->sectionData, module->sectionSize))
      module->section = ModuleRecord::Section::Malformed;
  }
  switch (module->section) {
    case ModuleRecord::Section::Present:
      data = module->sectionData;
      size = module->sectionSize;
      return true;
    case ModuleRecord::Section::Malformed:
      SetLastError(ERROR_BAD_FORMAT);
      return false;
    default:
      SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
      return false;
  }
}

// An integer given as MAKEINTRESOURCE or as the text "#123".
bool IntegerOf(LPCWSTR name, std::uint32_t& value) {
  if (IS_INTRESOURCE(name)) {
    value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(name));
    return true;
  }
  if (name[0] != u'#' || !name[1]) return false;
  value = 0;
  for (LPCWSTR p = name + 1; *p; ++p) {
    if (*p < u'0' || *p > u'9' || value > 0xFFFF) return false;
    value = value * 10 + static_cast<std::uint32_t>(*p - u'0');
  }
  return value <= 0xFFFF;
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Type names compare without regard to ASCII case.
bool TypeMatches(const unsigned char* section, const Entry& e, LPCWSTR type, bool numeric, std::uint32_t typeId) {
  if (numeric) return e.typeNameLength == 0 && e.typeId == typeId;
  if (e.typeNameLength == 0) return false;
  const unsigned char* name = section + e.typeNameOffset;
  for (std::uint16_t i = 0; i < e.typeNameLength; ++i) {
    if (!type[i] || Upper(static_cast<char16_t>(Le(name + 2 * i, 2))) != Upper(type[i])) return false;
  }
  return type[e.typeNameLength] == 0;
}

// The entry of that type, id and language; language 0 (neutral) takes an
// entry of language 0 if there is one, else the first of that type and id.
HRSRC Find(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  if (!type || !name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(quibcore::LoaderLock());
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  if (!SectionOf(module, data, size)) return nullptr;
  std::uint32_t typeId = 0, id = 0;
  bool numericType = IntegerOf(type, typeId);
  bool numericName = IntegerOf(name, id);
  std::uint32_t headerSize = Le(data + 6, 2), count = Le(data + 8, 4);
  const unsigned char* typeFound = nullptr;
  const unsigned char* nameFound = nullptr;
  for (std::uint32_t i = 0; i < count; ++i) {
    const unsigned char* row = data + headerSize + std::size_t{i} * kEntrySize;
    Entry e = EntryAt(row);
    if (!TypeMatches(data, e, type, numericType, typeId)) continue;
    typeFound = row;
    if (!numericName || e.id != id) continue;
    if (!nameFound) nameFound = row;
    if (e.language == language) return reinterpret_cast<HRSRC>(const_cast<unsigned char*>(row));
  }
  if (nameFound && language == 0) return reinterpret_cast<HRSRC>(const_cast<unsigned char*>(nameFound));
  SetLastError(!typeFound ? ERROR_RESOURCE_TYPE_NOT_FOUND
               : !nameFound ? ERROR_RESOURCE_NAME_NOT_FOUND
                            : ERROR_RESOURCE_LANG_NOT_FOUND);
  return nullptr;
}

// The entry a resource handle names, when it is one of module's entries.
bool EntryOf(HMODULE module, HRSRC resource, const unsigned char*& data, Entry& entry) {
  std::size_t size = 0;
  if (!resource || !SectionOf(module, data, size)) {
    if (!resource) SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  auto* row = static_cast<const unsigned char*>(resource);
  std::uint32_t headerSize = Le(data + 6, 2), count = Le(data + 8, 4);
  const unsigned char* first = data + headerSize;
  if (row < first || row >= first + std::size_t{count} * kEntrySize || (row - first) % kEntrySize != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  entry = EntryAt(row);
  return true;
}

}  // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) { return Find(module, type, name, 0); }

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  return Find(module, type, name, language);
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  std::lock_guard<std::recursive_mutex> hold(quibcore::LoaderLock());
  const unsigned char* data = nullptr;
  Entry entry{};
  if (!EntryOf(module, resource, data, entry)) return nullptr;
  return const_cast<unsigned char*>(data + entry.dataOffset);
}

void* LockResource(HGLOBAL data) {
  if (!data) SetLastError(ERROR_INVALID_HANDLE);
  return data;
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  std::lock_guard<std::recursive_mutex> hold(quibcore::LoaderLock());
  const unsigned char* data = nullptr;
  Entry entry{};
  if (!EntryOf(module, resource, data, entry)) return 0;
  return entry.dataSize;
}
