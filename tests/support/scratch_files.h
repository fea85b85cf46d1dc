// Scratch directories and whole-file reads and writes for tests.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace quibtest {

// A directory under /tmp, removed with its files when the scope ends.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/quibtest.XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~ScratchDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace quibtest
