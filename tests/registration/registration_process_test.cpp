// Registration against the persistent registry: the entries that
// DllRegisterServer writes are there for a second process, and gone for it
// after DllUnregisterServer.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quib_test_support.h"
#include "registry_snapshot.h"

namespace {

// Runs the probe with the registry file and returns what it printed.
std::string Probe(const std::string& registryFile, const std::string& key) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "<pipe failed>";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  std::string variable = "QUIB_REGISTRY=" + registryFile;
  std::vector<std::string> words;
#ifdef QUIB_PROBE_LAUNCHER
  // The emulator and its options, separated by ','.
  std::string launcher = QUIB_PROBE_LAUNCHER;
  for (std::size_t start = 0, end; start <= launcher.size(); start = end + 1) {
    end = launcher.find(',', start);
    if (end == std::string::npos) end = launcher.size();
    if (end > start) words.push_back(launcher.substr(start, end - start));
  }
#endif
  words.push_back(QUIB_REGISTRY_PROBE);
  words.push_back(key);
  std::vector<char*> args;
  for (std::string& word : words) args.push_back(word.data());
  args.push_back(nullptr);
  std::string pathVariable = std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  char* const env[] = {variable.data(), pathVariable.data(), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  std::string out;
  char buffer[512];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
  close(pipeEnds[0]);
  if (spawned != 0) return "<spawn failed>";
  int status = 0;
  waitpid(child, &status, 0);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class PersistentRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    char directory[] = "/tmp/quib-registration-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    directory_ = directory;
    file_ = directory_ + "/registry.db";
    quibtest::UseRegistry(file_);
  }
  void TearDown() override {
    quibtest::UseRegistry(":memory:");
    std::remove(file_.c_str());
    std::remove((file_ + "-journal").c_str());
    std::remove((file_ + "-wal").c_str());
    std::remove((file_ + "-shm").c_str());
    rmdir(directory_.c_str());
  }
  std::string directory_, file_;
};

TEST_F(PersistentRegistration, ASecondProcessSeesTheRegistration) {
  quibtest::LoadedLibrary library;
  ASSERT_NE(library.module, nullptr);
  auto registerServer = library.Proc<HRESULT()>(u"DllRegisterServer");
  auto unregisterServer = library.Proc<HRESULT()>(u"DllUnregisterServer");
  ASSERT_NE(registerServer, nullptr);
  ASSERT_NE(unregisterServer, nullptr);
  WCHAR path[260];
  const DWORD length = GetModuleFileNameW(library.module, path, 260);
  ASSERT_GT(length, 0u);

  const std::string server = "CLSID\\{6E3A5C22-2B7D-4F18-A9C4-5D0E7B31F2A8}\\InprocServer32";
  ASSERT_EQ(Probe(file_, server), "<missing>");
  ASSERT_EQ(registerServer(), S_OK);
  EXPECT_EQ(Probe(file_, server), quibtest::Narrow(std::u16string(path, length)));
  EXPECT_EQ(Probe(file_, "QuibVoiceRec.quibVoiceRec\\CurVer"), "QuibVoiceRec.quibVoiceRec.1");
  ASSERT_EQ(unregisterServer(), S_OK);
  EXPECT_EQ(Probe(file_, server), "<missing>");
  EXPECT_EQ(Probe(file_, "CLSID"), "<no value>");
}

}  // namespace
