// Registration as a client sees it: the library loaded through the platform
// loader, its two exports, and the registry entries they leave, over an
// in-memory registry.
#include <gtest/gtest.h>

#include <string>

#include "automation/contract.h"
#include "platform/automation.h"
#include "platform/resources.h"
#include "quib_test_support.h"
#include "registry_snapshot.h"

namespace {

using quibtest::PutKey;
using quibtest::RegistryLines;
using quibtest::Snapshot;

const std::string kClass = "{6E3A5C22-2B7D-4F18-A9C4-5D0E7B31F2A8}";
const std::string kLibrary = "{6E3A5C13-2B7D-4F18-A9C4-5D0E7B31F2A8}";

// The registration script as the library must carry it.
const std::string kScript =
    "HKCR\r\n"
    "{\r\n"
    "\tQuibVoiceRec.quibVoiceRec.1 = s 'quibVoiceRec Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{6E3A5C22-2B7D-4F18-A9C4-5D0E7B31F2A8}'\r\n"
    "\t}\r\n"
    "\tQuibVoiceRec.quibVoiceRec = s 'quibVoiceRec Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{6E3A5C22-2B7D-4F18-A9C4-5D0E7B31F2A8}'\r\n"
    "\t\tCurVer = s 'QuibVoiceRec.quibVoiceRec.1'\r\n"
    "\t}\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove {6E3A5C22-2B7D-4F18-A9C4-5D0E7B31F2A8} = s 'quibVoiceRec Class'\r\n"
    "\t\t{\r\n"
    "\t\t\tProgID = s 'QuibVoiceRec.quibVoiceRec.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'QuibVoiceRec.quibVoiceRec'\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t}\r\n"
    "\t\t\t'TypeLib' = s '{6E3A5C13-2B7D-4F18-A9C4-5D0E7B31F2A8}'\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

class Registration : public quibtest::InMemoryRegistry {
 protected:
  using Export = HRESULT (*)();

  void SetUp() override {
    InMemoryRegistry::SetUp();
    ASSERT_NE(library_.module, nullptr);
    registerServer_ = library_.Proc<HRESULT()>(u"DllRegisterServer");
    unregisterServer_ = library_.Proc<HRESULT()>(u"DllUnregisterServer");
    ASSERT_NE(registerServer_, nullptr);
    ASSERT_NE(unregisterServer_, nullptr);
    WCHAR path[260];
    const DWORD length = GetModuleFileNameW(library_.module, path, 260);
    ASSERT_GT(length, 0u);
    libraryPath_ = quibtest::Narrow(std::u16string(path, length));
  }

  HRESULT Register() { return registerServer_(); }
  HRESULT Unregister() { return unregisterServer_(); }

  // What the script wrote: everything under HKEY_CLASSES_ROOT but the
  // entries of the type library's own registration.
  static RegistryLines ScriptLines() {
    RegistryLines lines;
    for (const std::string& line : Snapshot(HKEY_CLASSES_ROOT))
      if (line.rfind("TypeLib", 0) != 0 && line.rfind("Interface", 0) != 0) lines.insert(line);
    return lines;
  }

  RegistryLines RegisteredTable() const {
    const std::string progId = "QuibVoiceRec.quibVoiceRec.1", independent = "QuibVoiceRec.quibVoiceRec";
    const std::string classKey = "CLSID\\" + kClass;
    return {
        progId,
        progId + " @ = S:quibVoiceRec Class",
        progId + "\\CLSID",
        progId + "\\CLSID @ = S:" + kClass,
        independent,
        independent + " @ = S:quibVoiceRec Class",
        independent + "\\CLSID",
        independent + "\\CLSID @ = S:" + kClass,
        independent + "\\CurVer",
        independent + "\\CurVer @ = S:" + progId,
        "CLSID",
        classKey,
        classKey + " @ = S:quibVoiceRec Class",
        classKey + "\\ProgID",
        classKey + "\\ProgID @ = S:" + progId,
        classKey + "\\VersionIndependentProgID",
        classKey + "\\VersionIndependentProgID @ = S:" + independent,
        classKey + "\\Programmable",
        classKey + "\\InprocServer32",
        classKey + "\\InprocServer32 @ = S:" + libraryPath_,
        classKey + "\\TypeLib",
        classKey + "\\TypeLib @ = S:" + kLibrary,
    };
  }

  quibtest::LoadedLibrary library_;
  HRESULT (*registerServer_)() = nullptr;
  HRESULT (*unregisterServer_)() = nullptr;
  std::string libraryPath_;
};

TEST_F(Registration, TheLibraryCarriesItsScriptByteForByte) {
  HRSRC resource = FindResourceW(library_.module, MAKEINTRESOURCEW(101), u"REGISTRY");
  ASSERT_NE(resource, nullptr);
  ASSERT_EQ(SizeofResource(library_.module, resource), 644u);
  ASSERT_EQ(kScript.size(), 644u);
  HGLOBAL loaded = LoadResource(library_.module, resource);
  ASSERT_NE(loaded, nullptr);
  const char* bytes = static_cast<const char*>(LockResource(loaded));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(bytes, 644), kScript);
}

TEST_F(Registration, RegisterWritesTheClassTable) {
  ASSERT_EQ(Register(), S_OK);
  EXPECT_EQ(ScriptLines(), RegisteredTable());
}

TEST_F(Registration, RegisterAgainRenewsTheClassKeyOnly) {
  ASSERT_EQ(Register(), S_OK);
  PutKey(HKEY_CLASSES_ROOT, quibtest::Wide("CLSID\\" + kClass + "\\Added"), u"x");
  PutKey(HKEY_CLASSES_ROOT, quibtest::Wide("CLSID\\" + kClass + "\\Programmable\\Added"));
  PutKey(HKEY_CLASSES_ROOT, u"QuibVoiceRec.quibVoiceRec\\Added", u"kept");
  PutKey(HKEY_CLASSES_ROOT, u"QuibVoiceRec.quibVoiceRec.1", u"stale");
  ASSERT_EQ(Register(), S_OK);
  RegistryLines expected = RegisteredTable();
  expected.insert("QuibVoiceRec.quibVoiceRec\\Added");
  expected.insert("QuibVoiceRec.quibVoiceRec\\Added @ = S:kept");
  EXPECT_EQ(ScriptLines(), expected);
}

TEST_F(Registration, UnregisterRemovesEverythingButTheClassRoot) {
  PutKey(HKEY_CLASSES_ROOT, u"CLSID\\{Another}", u"another class");
  PutKey(HKEY_CLASSES_ROOT, u"Unrelated", u"u");
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(Unregister(), S_OK);
  EXPECT_EQ(ScriptLines(), (RegistryLines{"CLSID", "CLSID\\{Another}", "CLSID\\{Another} @ = S:another class",
                                          "Unrelated", "Unrelated @ = S:u"}));
}

TEST_F(Registration, UnregisterTwiceChangesNothing) {
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(Unregister(), S_OK);
  const RegistryLines after = Snapshot(HKEY_CLASSES_ROOT);
  EXPECT_EQ(Unregister(), S_OK);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), after);
}

TEST_F(Registration, UnregisterOfAnEmptyRegistryChangesNothing) {
  EXPECT_EQ(Unregister(), S_OK);
  EXPECT_TRUE(Snapshot(HKEY_CLASSES_ROOT).empty());
}

TEST_F(Registration, UnregisterKeepsWhatOthersAddedBeneathTheClassKey) {
  ASSERT_EQ(Register(), S_OK);
  PutKey(HKEY_CLASSES_ROOT, quibtest::Wide("CLSID\\" + kClass + "\\Implemented Categories\\{Cat}"));
  ASSERT_EQ(Unregister(), S_OK);
  const std::string classKey = "CLSID\\" + kClass;
  EXPECT_EQ(ScriptLines(), (RegistryLines{"CLSID", classKey, classKey + " @ = S:quibVoiceRec Class",
                                          classKey + "\\Implemented Categories",
                                          classKey + "\\Implemented Categories\\{Cat}"}));
}

// The type library's own entries under HKEY_CLASSES_ROOT\TypeLib.
bool TypeLibraryRegistered() {
  for (const std::string& line : Snapshot(HKEY_CLASSES_ROOT))
    if (line == "TypeLib\\" + kLibrary + "\\1.0") return true;
  return false;
}

TEST_F(Registration, RegisterAlsoRegistersTheTypeLibraryAndUnregisterLeavesIt) {
  ASSERT_EQ(Register(), S_OK);
  EXPECT_TRUE(TypeLibraryRegistered());
  ASSERT_EQ(Unregister(), S_OK);
  EXPECT_TRUE(TypeLibraryRegistered());
}

// Late-bound callers find the members through the registered type library.
TEST_F(Registration, LateBoundCallsWorkOnceRegistered) {
  auto memberId = [&](const char16_t* name, DISPID& id) {
    quibtest::Ref<IDispatch> object;
    EXPECT_EQ(library_.CreateInstance(CLSID_quibVoiceRec, IID_IDispatch, object.put_void()), S_OK);
    std::u16string text = name;
    LPOLESTR names[] = {text.data()};
    return object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  };
  DISPID id = 0;
  EXPECT_TRUE(FAILED(memberId(u"Record", id))) << "no type library registered yet";
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(memberId(u"Record", id), S_OK);
  EXPECT_EQ(id, 3);
  ASSERT_EQ(memberId(u"active", id), S_OK);
  EXPECT_EQ(id, 11);
}

}  // namespace
