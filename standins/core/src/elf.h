// Reading section and segment headers of an ELF file image (32- or 64-bit,
// little-endian), every offset checked against the image's size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quibcore {

struct ElfSection {
  std::uint64_t offset = 0;  // in the file
  std::uint64_t size = 0;
  std::uint64_t address = 0;  // in the loaded image, relative to its base
  bool allocated = false;     // SHF_ALLOC: present in memory once loaded
  bool loadedFromFile = false;  // lies in the file part of a loadable segment
};

enum class ElfResult { Found, Missing, Malformed };

// Finds the section of that name in the file image. Malformed for anything
// that is not a well-formed little-endian ELF shared object or executable.
ElfResult FindElfSection(const unsigned char* image, std::size_t size, const char* name, ElfSection& section);

}  // namespace quibcore
