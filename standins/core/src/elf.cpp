// ELF headers, read field by field from the little-endian image.
#include "elf.h"

#include <cstring>

namespace quibcore {

namespace {

constexpr std::uint32_t kSectionProgbits = 1;
constexpr std::uint32_t kSectionNobits = 8;
constexpr std::uint64_t kSectionAlloc = 0x2;
constexpr std::uint32_t kSegmentLoad = 1;

// Reads little-endian fields, remembering whether any read fell outside.
class Reader {
 public:
  Reader(const unsigned char* image, std::size_t size) : image_(image), size_(size) {}
  bool ok() const { return ok_; }
  std::uint64_t Read(std::uint64_t at, unsigned bytes) {
    if (!Fits(at, bytes)) {
      ok_ = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i) v |= std::uint64_t{image_[at + i]} << (8 * i);
    return v;
  }
  bool Fits(std::uint64_t at, std::uint64_t length) const { return at <= size_ && length <= size_ - at; }

 private:
  const unsigned char* image_;
  std::size_t size_;
  bool ok_ = true;
};

// Field offsets of the two classes.
struct Layout {
  unsigned word;  // size of an address or offset field
  std::uint64_t phoff, shoff, phentsize, phnum, shentsize, shnum, shstrndx;
  unsigned minPh, minSh;
  // section header fields
  std::uint64_t shType, shFlags, shAddr, shOffset, shSize;
  // program header fields
  std::uint64_t pOffset, pVaddr, pFilesz;
};
constexpr Layout kElf32 = {4, 0x1C, 0x20, 0x2A, 0x2C, 0x2E, 0x30, 0x32, 32, 40, 4, 8, 0xC, 0x10, 0x14, 4, 8, 0x10};
constexpr Layout kElf64 = {8, 0x20, 0x28, 0x36, 0x38, 0x3A, 0x3C, 0x3E, 56, 64, 4, 8, 0x10, 0x18, 0x20, 8, 0x10, 0x20};

}  // namespace

ElfResult FindElfSection(const unsigned char* image, std::size_t size, const char* name, ElfSection& section) {
  static const unsigned char kMagic[4] = {0x7F, 'E', 'L', 'F'};
  if (!image || size < 0x40 || std::memcmp(image, kMagic, 4) != 0) return ElfResult::Malformed;
  if (image[5] != 1 || image[6] != 1) return ElfResult::Malformed;  // little-endian, version 1
  const Layout* l = image[4] == 1 ? &kElf32 : image[4] == 2 ? &kElf64 : nullptr;
  if (!l) return ElfResult::Malformed;
  Reader r(image, size);
  std::uint64_t type = r.Read(0x10, 2);
  if (type != 2 && type != 3) return ElfResult::Malformed;  // executable or shared object

  std::uint64_t shoff = r.Read(l->shoff, l->word), shentsize = r.Read(l->shentsize, 2);
  std::uint64_t shnum = r.Read(l->shnum, 2), shstrndx = r.Read(l->shstrndx, 2);
  std::uint64_t phoff = r.Read(l->phoff, l->word), phentsize = r.Read(l->phentsize, 2);
  std::uint64_t phnum = r.Read(l->phnum, 2);
  if (!r.ok() || shnum == 0 || shentsize < l->minSh || shstrndx >= shnum) return ElfResult::Malformed;
  if (!r.Fits(shoff, shnum * shentsize)) return ElfResult::Malformed;
  if (phnum != 0 && (phentsize < l->minPh || !r.Fits(phoff, phnum * phentsize))) return ElfResult::Malformed;

  auto sectionField = [&](std::uint64_t index, std::uint64_t field, unsigned bytes) {
    return r.Read(shoff + index * shentsize + field, bytes);
  };
  std::uint64_t namesAt = sectionField(shstrndx, l->shOffset, l->word);
  std::uint64_t namesSize = sectionField(shstrndx, l->shSize, l->word);
  if (!r.ok() || !r.Fits(namesAt, namesSize)) return ElfResult::Malformed;

  std::size_t wanted = std::strlen(name);
  for (std::uint64_t i = 0; i < shnum; ++i) {
    std::uint64_t nameAt = sectionField(i, 0, 4);
    if (!r.ok()) return ElfResult::Malformed;
    if (nameAt >= namesSize) continue;
    const char* candidate = reinterpret_cast<const char*>(image + namesAt + nameAt);
    std::uint64_t room = namesSize - nameAt;
    if (room <= wanted || std::memcmp(candidate, name, wanted + 1) != 0) continue;

    std::uint64_t shType = sectionField(i, 4, 4);
    section.offset = sectionField(i, l->shOffset, l->word);
    section.size = sectionField(i, l->shSize, l->word);
    section.address = sectionField(i, l->shAddr, l->word);
    section.allocated = (sectionField(i, l->shFlags, l->word) & kSectionAlloc) != 0;
    if (!r.ok() || shType == kSectionNobits || shType != kSectionProgbits) return ElfResult::Malformed;
    if (!r.Fits(section.offset, section.size)) return ElfResult::Malformed;
    section.loadedFromFile = false;
    for (std::uint64_t p = 0; p < phnum && section.allocated; ++p) {
      std::uint64_t at = phoff + p * phentsize;
      if (r.Read(at, 4) != kSegmentLoad) continue;
      std::uint64_t offset = r.Read(at + l->pOffset, l->word), vaddr = r.Read(at + l->pVaddr, l->word);
      std::uint64_t filesz = r.Read(at + l->pFilesz, l->word);
      if (!r.ok()) return ElfResult::Malformed;
      // The section's bytes in memory are its bytes in the file.
      if (section.address >= vaddr && section.size <= filesz && section.address - vaddr <= filesz - section.size &&
          section.offset - offset == section.address - vaddr)
        section.loadedFromFile = true;
    }
    return ElfResult::Found;
  }
  return ElfResult::Missing;
}

}  // namespace quibcore
