// quibhost end to end: each test runs the built program in processes of its
// own against a registry file of the test's, as a person would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct HostRun {
  int exitCode;
  std::string output;  // standard output and standard error, interleaved
};

class HostTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quibhost-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    registry_ = dir_ / "registry.db";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  HostRun Host(const std::string& arguments) const { return Program(QUIB_HOST_PATH, arguments); }

  // Runs a program of the build with the test's registry.
  HostRun Program(const std::string& program, const std::string& arguments) const {
    std::string command = "cd '" + dir_.string() + "' && QUIB_REGISTRY='" + registry_.string() + "' " +
                          QUIB_HOST_RUNNER + " '" + program + "' " + arguments + " 2>&1";
    HostRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  std::string Write(const std::string& name, const std::string& text) const {
    std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  std::filesystem::path dir_;
  std::filesystem::path registry_;
};

TEST_F(HostTest, EveryCommandHasHelp) {
  for (const char* command : {"--help", "register --help", "demo --help", "call --help", "script --help",
                              "typelib --help", "reg --help"}) {
    SCOPED_TRACE(command);
    HostRun run = Host(command);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("usage: quibhost"), std::string::npos) << run.output;
  }
}

TEST_F(HostTest, RegisterExitCodesTellTheFailuresApart) {
  struct Case {
    std::string arguments;
    int exitCode;
    const char* says;
  } cases[] = {
      {"register", 2, "no library named"},
      {"register /nonexistent/libnothing.so", 3, "cannot load"},
      {std::string("register ") + QUIB_CORE_PATH, 4, "no entry point DllRegisterServer"},
      {std::string("register -u ") + QUIB_CORE_PATH, 4, "no entry point DllUnregisterServer"},
      {"register -s /nonexistent/libnothing.so", 3, ""},
      {"frobnicate", 2, "unknown command"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    HostRun run = Host(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    if (*c.says)
      EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    else
      EXPECT_EQ(run.output, "");
  }
}

TEST_F(HostTest, RegistryExportImportRoundTrip) {
  std::string file = Write("in.reg",
                           "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Quib Test]\r\n"
                           "@=\"default \\\"text\\\"\"\r\n"
                           "\"Count\"=dword:0000002a\r\n"
                           "\"Bytes\"=hex:0a,1b,\\\r\n  ff\r\n"
                           "\"Nothing\"=hex(0):\r\n"
                           "\r\n[HKEY_CURRENT_USER\\Software\\Quib Test\\Child]\r\n"
                           "\"Path\"=\"C:\\\\Notes\\\\\"\r\n");
  HostRun imported = Host("reg import '" + file + "'");
  ASSERT_EQ(imported.exitCode, 0) << imported.output;
  HostRun exported = Host("reg export 'HKCU\\Software\\Quib Test'");
  ASSERT_EQ(exported.exitCode, 0) << exported.output;
  const std::string expected =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Quib Test]\n"
      "@=\"default \\\"text\\\"\"\n"
      "\"Bytes\"=hex:0a,1b,ff\n"
      "\"Count\"=dword:0000002a\n"
      "\"Nothing\"=hex(0):\n"
      "\n[HKEY_CURRENT_USER\\Software\\Quib Test\\Child]\n"
      "\"Path\"=\"C:\\\\Notes\\\\\"\n";
  EXPECT_EQ(exported.output, expected);

  // Its own export imports again into an empty registry and exports the same.
  std::string again = Write("again.reg", exported.output);
  std::filesystem::remove(registry_);
  ASSERT_EQ(Host("reg import '" + again + "'").exitCode, 0);
  EXPECT_EQ(Host("reg export 'HKEY_CURRENT_USER\\Software\\Quib Test'").output, expected);

  // Deletions: a value with "=-", a tree with [-KEY].
  std::string removal = Write("remove.reg",
                              "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Quib Test]\n\"Count\"=-\n\n"
                              "[-HKEY_CURRENT_USER\\Software\\Quib Test\\Child]\n");
  ASSERT_EQ(Host("reg import '" + removal + "'").exitCode, 0);
  HostRun after = Host("reg export 'HKCU\\Software\\Quib Test'");
  EXPECT_EQ(after.output.find("Count"), std::string::npos) << after.output;
  EXPECT_EQ(after.output.find("Child"), std::string::npos) << after.output;
}

TEST_F(HostTest, RegistryImportNamesWhatIsWrong) {
  struct Case {
    const char* text;
    const char* says;
  } cases[] = {
      {"REGEDIT4\n", "does not start with"},
      {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\x]\n", "does not start with a root key"},
      {"Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n", "outside a key section"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"a\"=dword:123456789\n", "dword:"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"a\"=hex:0g\n", "hexadecimal"},
      {"Windows Registry Editor Version 5.00\n[HKCU\\x]\n\"a\"=\"open\n", "unterminated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    HostRun run = Host("reg import '" + Write("bad.reg", c.text) + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }
  EXPECT_EQ(Host("reg import /nonexistent.reg").exitCode, 1);
  EXPECT_EQ(Host("reg export HKEY_NOWHERE").exitCode, 2);
}

TEST_F(HostTest, TypelibPrintsIdlThatCompilesToTheSameLibrary) {
  HostRun first = Host(std::string("typelib '") + QUIB_LIBRARY_PATH + "'");
  ASSERT_EQ(first.exitCode, 0) << first.output;
  EXPECT_NE(first.output.find("library QUIBVOICERECLib"), std::string::npos);
  EXPECT_NE(first.output.find("HRESULT hwnd([out, retval] long *pVal);"), std::string::npos) << first.output;

  std::string idl = Write("printed.idl", first.output);
  std::string tlb = (dir_ / "printed.tlb").string();
  HostRun compiled = Program(QUIB_TLBC_PATH, "'" + idl + "' -o '" + tlb + "'");
  ASSERT_EQ(compiled.exitCode, 0) << compiled.output;
  HostRun second = Host("typelib '" + tlb + "'");
  ASSERT_EQ(second.exitCode, 0) << second.output;
  EXPECT_EQ(second.output, first.output);

  std::ifstream a(tlb, std::ios::binary), b(QUIB_TLB_PATH, std::ios::binary);
  std::string recompiled((std::istreambuf_iterator<char>(a)), {}), original((std::istreambuf_iterator<char>(b)), {});
  EXPECT_FALSE(original.empty());
  EXPECT_EQ(recompiled, original) << "the printed IDL compiles to another type library";

  EXPECT_EQ(Host("typelib /nonexistent.tlb").exitCode, 1);
  EXPECT_EQ(Host(std::string("typelib '") + idl + "'").exitCode, 1);
  EXPECT_EQ(Host("typelib").exitCode, 2);
}

}  // namespace
