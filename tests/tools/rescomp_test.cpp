// The resource compiler run as the build runs it: manifests it accepts, and
// manifests it refuses with a message rather than writing a section.
#include <gtest/gtest.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <cstdlib>
#include <unistd.h>

extern char** environ;

#include "scratch_files.h"

using quibtest::ReadFile;
using quibtest::ScratchDir;
using quibtest::WriteFile;

namespace {

// Runs the compiler; its exit status, -1 when it could not run.
int RunCompiler(const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  std::string emulator = QUIB_TOOL_EMULATOR;
  for (std::size_t at = 0; at < emulator.size();) {
    std::size_t end = emulator.find(' ', at);
    if (end == std::string::npos) end = emulator.size();
    if (end > at) argv.push_back(emulator.substr(at, end - at));
    at = end + 1;
  }
  argv.push_back(QUIB_RESCOMP_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ResourceCompiler, WritesASectionForAGoodManifest) {
  ScratchDir dir;
  WriteFile(dir.File("a.bin"), std::string("abc\0def", 7));
  WriteFile(dir.File("v.txt"), "FileVersion = 2.3.4.5\nProductVersion = 2.3.4.5\nOLESelfRegister =\n");
  WriteFile(dir.File("m.manifest"), "# comment\n\nDATA 7 0 a.bin\n16 1 1033 v.txt version  # trailing comment\n");
  WriteFile(dir.File("extra.bin"), "xyz");
  ASSERT_EQ(RunCompiler({"--manifest", dir.File("m.manifest"), "--output", dir.File("out.cpp"), "--add",
                         "TYPELIB 1 1033 " + dir.File("extra.bin")}),
            0);
  std::string source = ReadFile(dir.File("out.cpp"));
  EXPECT_NE(source.find("section(\".quibrsrc\")"), std::string::npos);
  // Header: "QRSC", version 1, header size 16, three entries.
  EXPECT_NE(source.find("0x51, 0x52, 0x53, 0x43, 0x01, 0x00, 0x10, 0x00, 0x03, 0x00, 0x00, 0x00"), std::string::npos);
}

TEST(ResourceCompiler, RefusesFaultyManifests) {
  struct Case {
    const char* name;
    std::string manifest;
  } cases[] = {
      {"missing file", "DATA 1 0 nosuch.bin\n"},
      {"too few fields", "DATA 1 0\n"},
      {"too many fields", "DATA 1 0 a.bin version extra\n"},
      {"id zero", "DATA 0 0 a.bin\n"},
      {"id too large", "DATA 65536 0 a.bin\n"},
      {"id not a number", "DATA one 0 a.bin\n"},
      {"language too large", "DATA 1 70000 a.bin\n"},
      {"type name with a dash", "MY-DATA 1 0 a.bin\n"},
      {"numeric type zero", "0 1 0 a.bin\n"},
      {"twice", "DATA 1 0 a.bin\ndata 1 0 a.bin\n"},
      {"unknown encoding", "DATA 1 0 a.bin zip\n"},
      {"version without versions", "16 1 1033 bad.txt version\n"},
  };
  ScratchDir dir;
  WriteFile(dir.File("a.bin"), "abc");
  WriteFile(dir.File("bad.txt"), "OLESelfRegister =\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File("m.manifest"), c.manifest);
    EXPECT_EQ(RunCompiler({"--manifest", dir.File("m.manifest"), "--output", dir.File("out.cpp")}), 1);
  }
  EXPECT_EQ(ReadFile(dir.File("out.cpp")), "");
}

}  // namespace
