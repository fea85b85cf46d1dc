// Helpers of the registry tests: typed value access, a scratch directory, and
// running the peer program in a process of its own.
#pragma once

#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "scratch_files.h"

extern char** environ;

namespace quibtest {

inline LONG SetString(HKEY key, const char16_t* name, const std::u16string& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

inline LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

inline HKEY CreateKey(HKEY parent, const char16_t* path, DWORD* disposition = nullptr) {
  HKEY key = 0;
  EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition), ERROR_SUCCESS);
  return key;
}

// Starts the peer program with QUIB_REGISTRY set to file; Wait gives its exit
// status. The emulator, when the build has one, runs it.
class Peer {
 public:
  Peer(const std::string& file, const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    std::string emulator = QUIB_PEER_EMULATOR;  // words separated by spaces
    for (std::size_t at = 0; at < emulator.size();) {
      std::size_t end = emulator.find(' ', at);
      if (end == std::string::npos) end = emulator.size();
      if (end > at) argv.push_back(emulator.substr(at, end - at));
      at = end + 1;
    }
    argv.push_back(QUIB_PEER_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env = {"QUIB_REGISTRY=" + file};
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("QUIB_REGISTRY=", 0) != 0) env.push_back(*e);
    std::vector<char*> cenv;
    for (std::string& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    if (posix_spawnp(&pid_, cargv[0], nullptr, nullptr, cargv.data(), cenv.data()) != 0) pid_ = -1;
  }
  int Wait() {
    if (pid_ < 0) return -1;
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Peer() { Wait(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

 private:
  pid_t pid_ = -1;
};

}  // namespace quibtest
