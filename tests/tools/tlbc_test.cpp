// The type-library compiler on the library's own source and on faulty sources.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "compiler.h"
#include "platform/automation.h"
#include "quib_test_support.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

HRESULT Load(const std::vector<unsigned char>& bytes, ITypeLib** lib) {
  // One file per test: ctest runs the tests of this file side by side.
  std::string path = ::testing::TempDir() + "tlbc_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".tlb";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  return LoadTypeLib(std::u16string(path.begin(), path.end()).c_str(), lib);
}

TEST(Tlbc, CompilesTheLibrarySourceToWhatTheBuildCarries) {
  std::vector<unsigned char> out;
  std::string error;
  ASSERT_TRUE(tlbc::Compile(ReadText(QUIB_IDL_PATH), "quibvoicerec.idl", out, error)) << error;
  std::string built = ReadText(QUIB_TYPELIB_PATH);
  EXPECT_EQ(std::string(out.begin(), out.end()), built);
  quibtest::Ref<ITypeLib> lib;
  ASSERT_EQ(Load(out, lib.put()), S_OK);
  EXPECT_EQ(lib->GetTypeInfoCount(), 3u);
}

TEST(Tlbc, KeepsTheFirstSpellingOfEachName) {
  const char* source = R"(
    [uuid(11111111-2222-3333-4444-555555555555)]
    library L {
      importlib("stdole2.tlb");
      [uuid(11111111-2222-3333-4444-555555555556), dual]
      interface IThing : IDispatch {
        [id(1)] HRESULT Go(long COUNT);
        [id(2), propget] HRESULT Count([out, retval] long* pVal);
        [id(2), propput] HRESULT Count(long pval);
      };
    };)";
  std::vector<unsigned char> out;
  std::string error;
  ASSERT_TRUE(tlbc::Compile(source, "t.idl", out, error)) << error;
  quibtest::Ref<ITypeLib> lib;
  ASSERT_EQ(Load(out, lib.put()), S_OK);
  quibtest::Ref<ITypeInfo> info;
  ASSERT_EQ(lib->GetTypeInfo(0, info.put()), S_OK);
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(2, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(std::u16string(name), u"COUNT");
  SysFreeString(name);
  FUNCDESC* put = nullptr;
  ASSERT_EQ(info->GetFuncDesc(2, &put), S_OK);
  EXPECT_EQ(put->invkind, INVOKE_PROPERTYPUT);
  EXPECT_EQ(put->oVft, static_cast<SHORT>(9 * sizeof(void*)));
  info->ReleaseFuncDesc(put);
}

TEST(Tlbc, FaultySourcesNameFileLineAndColumn) {
  const std::string lib = "[uuid(11111111-2222-3333-4444-555555555555)]\nlibrary L {\n importlib(\"stdole2.tlb\");\n";
  const std::string itf = " [uuid(11111111-2222-3333-4444-555555555556), dual]\n interface I : IDispatch {\n";
  struct Case {
    std::string source;
    std::string error;
  } cases[] = {
      {"", "f.idl:1:1: error: no library is declared"},
      {"library L {};", "f.idl:1:9: error: library 'L' needs a uuid"},
      {"[uuid(1234)] library L {};", "f.idl:1:7: error: malformed GUID '1234'"},
      {"[uuid(11111111-2222-3333-4444-555555555555), color(red)] library L {};",
       "f.idl:1:46: error: attribute 'color' does not apply to a library"},
      {lib + " interface; };", "f.idl:4:11: error: expected the interface's name but found ';'"},
      {lib + itf + "  [id(1)] HRESULT Go(long x) };", "f.idl:6:30: error: expected ';' but found '}'"},
      {lib + itf + "  [id(1)] HRESULT Go(string x); }; };", "f.idl:6:22: error: unknown type 'string'"},
      {lib + itf + "  HRESULT Go(); }; };", "f.idl:6:11: error: member 'Go' needs an id"},
      {lib + itf + "  [id(1)] HRESULT A(); [id(1)] HRESULT B(); }; };", "f.idl:6:40: error: id 1 is used twice"},
      {lib + itf + "  [id(1)] HRESULT A([retval] long* p); }; };", "f.idl:6:36: error: retval parameter 'p' must be out"},
      {lib + itf + "  [id(1)] HRESULT A([out] long p); }; };", "f.idl:6:32: error: out parameter 'p' must be a pointer"},
      {lib + itf + "  [id(1)] HRESULT A([out, retval] long* p, long q); }; };",
       "f.idl:6:41: error: retval must be the last parameter"},
      {lib + itf + "  [id(1), propget] HRESULT A(long q); }; };", "f.idl:6:28: error: propget 'A' needs an out parameter last"},
      {lib + itf + "  [id(1)] long A(); }; };", "f.idl:6:11: error: members return HRESULT"},
      {lib + " coclass C { interface Nope; }; };", "f.idl:4:10: error: coclass 'C' needs a uuid"},
      {lib + " [uuid(11111111-2222-3333-4444-555555555557)] coclass C { interface Nope; }; };",
       "f.idl:4:69: error: unknown interface 'Nope'"},
      {"[uuid(11111111-2222-3333-4444-555555555555)]\nlibrary L {\n" + itf + " }; };",
       "f.idl:4:16: error: 'IDispatch' needs importlib(\"stdole2.tlb\")"},
      {lib + " importlib(\"other.tlb\"); };", "f.idl:4:12: error: cannot import 'other.tlb': only stdole2.tlb is known"},
      {lib + " /* open comment", "f.idl:4:2: error: unterminated comment"},
      {lib + " [helpstring(\"open)] coclass C {}; };", "f.idl:4:14: error: unterminated string"},
      {lib + " @", "f.idl:4:2: error: unexpected character '@'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    std::vector<unsigned char> out;
    std::string error;
    EXPECT_FALSE(tlbc::Compile(c.source, "f.idl", out, error));
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
