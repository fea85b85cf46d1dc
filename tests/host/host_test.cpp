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

TEST_F(HostTest, RegisteredInOneProcessCreatedAndCalledInAnother) {
  std::string library = QUIB_LIBRARY_PATH;
  HostRun registered = Host("register '" + library + "'");
  ASSERT_EQ(registered.exitCode, 0) << registered.output;
  EXPECT_NE(registered.output.find("0x00000000 S_OK"), std::string::npos) << registered.output;

  struct Case {
    const char* arguments;
    int exitCode;
    const char* says;
  } cases[] = {
      {"call QuibVoiceRec.quibVoiceRec Active", 0, "0\n"},
      {"call QuibVoiceRec.quibVoiceRec.1 active", 0, "0\n"},
      {"call QuibVoiceRec.quibVoiceRec HWnd", 0, "0\n"},  // no control: S_FALSE is no error late-bound
      {"call QuibVoiceRec.quibVoiceRec PlayFile /nonexistent.wav", 0, "S_OK"},
      {"call QuibVoiceRec.quibVoiceRec Play", 0, "S_OK"},
      {"call QuibVoiceRec.quibVoiceRec Record", 1, "DISP_E_BADPARAMCOUNT"},
      {"call QuibVoiceRec.quibVoiceRec Init a b c", 1, "DISP_E_TYPEMISMATCH"},
      {"call QuibVoiceRec.quibVoiceRec Fly", 1, "DISP_E_UNKNOWNNAME"},
      {"call No.Such.Class Active", 1, "names no registered class"},
      {"call QuibVoiceRec.quibVoiceRec", 2, "PROGID and MEMBER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    HostRun run = Host(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }

  HostRun unregistered = Host("register -u '" + library + "'");
  ASSERT_EQ(unregistered.exitCode, 0) << unregistered.output;
  HostRun gone = Host("call QuibVoiceRec.quibVoiceRec Active");
  EXPECT_EQ(gone.exitCode, 1) << gone.output;
  EXPECT_EQ(Host("register -s '" + library + "'").output, "");
}

TEST_F(HostTest, DemoRecordsAWaveFileAndPrintsTheEvents) {
  HostRun demo = Host("demo --seconds 0.2 --output note.wav");
  ASSERT_EQ(demo.exitCode, 0) << demo.output;
  for (const char* expected : {"DllRegisterServer", "call Init(", "call Show()", "call Record(",
                               "-864 recording started", "-863 recording stopped", "-862 playing started",
                               "-865 the control closed, recording saved", "call PlayFile(", "DllUnregisterServer",
                               "RIFF WAVE PCM, 1 channel(s), 8000 Hz, 16-bit"}) {
    SCOPED_TRACE(expected);
    EXPECT_NE(demo.output.find(expected), std::string::npos) << demo.output;
  }
  std::ifstream wav(dir_ / "note.wav", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(wav)), {});
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
  // The demo unregisters what it registered: the test's registry holds no class.
  EXPECT_EQ(Host("call QuibVoiceRec.quibVoiceRec Active").exitCode, 1);
}

TEST_F(HostTest, ScriptAppliesAndUndoesAsRegistrationDoes) {
  std::string script = Write("test.rgs",
                             "HKCU\r\n{\r\n\tNoRemove Software\r\n\t{\r\n"
                             "\t\tQuibScript = s '%MODULE%'\r\n\t\t{\r\n"
                             "\t\t\tval Greeting = s '%GREETING%'\r\n\t\t\tval Count = d '42'\r\n"
                             "\t\t}\r\n\t}\r\n}\r\n");
  HostRun applied = Host("script --module \"/opt/Today's Notes/lib.so\" --set GREETING=hello '" + script + "'");
  ASSERT_EQ(applied.exitCode, 0) << applied.output;
  EXPECT_NE(applied.output.find("S_OK"), std::string::npos);
  HostRun exported = Host("reg export 'HKCU\\Software\\QuibScript'");
  EXPECT_NE(exported.output.find("@=\"/opt/Today's Notes/lib.so\""), std::string::npos) << exported.output;
  EXPECT_NE(exported.output.find("\"Greeting\"=\"hello\""), std::string::npos) << exported.output;
  EXPECT_NE(exported.output.find("\"Count\"=dword:0000002a"), std::string::npos) << exported.output;

  HostRun missing = Host("script '" + script + "'");  // %MODULE% has no value
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("DISP_E_EXCEPTION"), std::string::npos) << missing.output;

  HostRun removed = Host("script -u --module x --set GREETING=y '" + script + "'");
  ASSERT_EQ(removed.exitCode, 0) << removed.output;
  EXPECT_EQ(Host("reg export 'HKCU\\Software\\QuibScript'").exitCode, 1);

  // A failing second section is undone; the first stays.
  std::string twoSections = Write("two.rgs",
                                  "HKCU { NoRemove Software { QuibFirst } }\n"
                                  "HKCU { NoRemove Software { QuibSecond { val X = q 'bad type' } } }\n");
  HostRun failed = Host("script '" + twoSections + "'");
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(Host("reg export 'HKCU\\Software\\QuibFirst'").exitCode, 0);
  EXPECT_EQ(Host("reg export 'HKCU\\Software\\QuibSecond'").exitCode, 1);
  EXPECT_EQ(Host("script").exitCode, 2);
  EXPECT_EQ(Host("script --set novalue x.rgs").exitCode, 2);
}

}  // namespace
