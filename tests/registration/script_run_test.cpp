// Whole script runs: root sections, expansion before interpretation, and the
// undo pass of a section that fails during registration.
#include "registration/script_runner.h"

#include <gtest/gtest.h>
#include <quibtest/core.h>

#include <string>

#include "registry_snapshot.h"

namespace {

using quibtest::PutKey;
using quibtest::RegistryLines;
using quibtest::Snapshot;

class ScriptRuns : public quibtest::InMemoryRegistry {
 protected:
  HRESULT Run(const std::u16string& text, BOOL registerEntries) {
    RegistryScriptParser parser{nullptr, &map_};
    return RunScript(parser, text.c_str(), registerEntries);
  }
  ReplacementMap map_;
};

struct Case {
  const char* name;
  std::u16string text;
  HRESULT result;
  RegistryLines after;
};

TEST_F(ScriptRuns, RootSections) {
  ASSERT_EQ(map_.Add(u"Empty", u""), S_OK);
  const Case cases[] = {
      {"empty text", u"", S_OK, {}},
      {"text that expands to nothing", u"%Empty%", S_OK, {}},
      {"whitespace only", u" \r\n\t", DISP_E_EXCEPTION, {}},
      {"one section", u"HKCU\r\n{\r\n\tA\r\n}\r\n", S_OK, {"A"}},
      {"whitespace after the last section", u"HKCU { A } \r\n\t ", S_OK, {"A"}},
      {"two sections", u"HKCU { A } hkey_current_user { B }", S_OK, {"A", "B"}},
      {"quoted root name", u"'HKCU' { A }", S_OK, {"A"}},
      {"'{x' opens the block", u"HKCU {x A }", S_OK, {"A"}},
      {"'}x' closes it", u"HKCU { A }x", S_OK, {"A"}},
      {"root written against its brace", u"HKCR{ A }", DISP_E_EXCEPTION, {}},
      {"unknown root", u"HKXX { A }", DISP_E_EXCEPTION, {}},
      {"no block after the root", u"HKCU A }", DISP_E_EXCEPTION, {}},
      {"root only", u"HKCU", DISP_E_EXCEPTION, {}},
      {"stray brace after the last section", u"HKCU { A } }", DISP_E_EXCEPTION, {"A"}},
      {"unclosed block", u"HKCU { A", DISP_E_EXCEPTION, {}},
      {"expansion fails before anything is written", u"HKCU { A } HKCU { %Missing% }", DISP_E_EXCEPTION, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    quibtest::UseRegistry(":memory:");
    EXPECT_EQ(Run(c.text, TRUE), c.result);
    EXPECT_EQ(Snapshot(), c.after);
  }
}

TEST_F(ScriptRuns, SectionsReachTheirOwnRoots) {
  ASSERT_EQ(Run(u"HKCR { A } HKLM { B } HKU { C } HKCU { D }", TRUE), S_OK);
  EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT), (RegistryLines{"A"}));
  EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE), (RegistryLines{"B"}));
  EXPECT_EQ(Snapshot(HKEY_USERS), (RegistryLines{"C"}));
  EXPECT_EQ(Snapshot(HKEY_CURRENT_USER), (RegistryLines{"D"}));
  ASSERT_EQ(Run(u"HKCR { A } HKLM { B } HKU { C } HKCU { D }", FALSE), S_OK);
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
    EXPECT_TRUE(Snapshot(root).empty());
}

TEST_F(ScriptRuns, AFailingSectionIsUndoneAndEarlierOnesStay) {
  PutKey(HKEY_CURRENT_USER, u"Existing", u"e");
  const std::u16string script =
      u"HKCU\r\n{\r\n\tFirst = s 'one'\r\n}\r\n"
      u"HKCU\r\n{\r\n\tSecond = s 'two'\r\n\t{\r\n\t\tInner = d 5\r\n\t}\r\n\tExisting = s 'e'\r\n"
      u"\tBroken = q 'x'\r\n\tNever\r\n}\r\n";
  EXPECT_EQ(Run(script, TRUE), DISP_E_EXCEPTION);
  // The undo pass follows the unregister rules, so it removes the key that
  // was there before the run too.
  EXPECT_EQ(Snapshot(), (RegistryLines{"First", "First @ = S:one"}));
}

TEST_F(ScriptRuns, TheUndoPassReadsTheWholeFailingSection) {
  // The failing value is skipped, not examined, when the section is read
  // again: keys named after it are deleted as well, even ones that were
  // there before the run.
  PutKey(HKEY_CURRENT_USER, u"After", u"a");
  PutKey(HKEY_CURRENT_USER, u"Untouched", u"u");
  EXPECT_EQ(Run(u"HKCU { A = s 'a' B = b abc After = s 'a' }", TRUE), E_FAIL);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Untouched", "Untouched @ = S:u"}));
}

TEST_F(ScriptRuns, UnregisterStopsAtTheFirstFailureWithoutUndo) {
  PutKey(HKEY_CURRENT_USER, u"A");
  PutKey(HKEY_CURRENT_USER, u"C");
  EXPECT_EQ(Run(u"HKCU { A } HKCU { B\\X } HKCU { C }", FALSE), DISP_E_EXCEPTION);
  EXPECT_EQ(Snapshot(), (RegistryLines{"C"}));
}

TEST_F(ScriptRuns, ModulePathWithAnApostropheArrivesUnchanged) {
  const std::u16string path = u"\\Storage\\Today's Notes\\quibVoiceRec.dll";
  std::u16string escaped(2 * path.size() + 1, u'\0');
  EscapeSingleQuotes(escaped.data(), path.c_str());
  ASSERT_EQ(std::u16string(escaped.c_str()), u"\\Storage\\Today''s Notes\\quibVoiceRec.dll");
  ASSERT_EQ(map_.Add(u"Module", escaped.c_str()), S_OK);
  ASSERT_EQ(Run(u"HKCU { InprocServer32 = s '%MODULE%' }", TRUE), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"InprocServer32", "InprocServer32 @ = S:" + quibtest::Narrow(path)}));
}

TEST_F(ScriptRuns, APercentInAKeyNameIsAPlaceholderToo) {
  ASSERT_EQ(map_.Add(u"Name", u"Real"), S_OK);
  ASSERT_EQ(Run(u"HKCU { %Name% { '100%%' } }", TRUE), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Real", "Real\\100%"}));
}

TEST_F(ScriptRuns, NoMemoryForTheTokenBufferFailsBeforeAnything) {
  quibtest::FailAllocation(quibtest::Allocator::Object, 1);
  EXPECT_EQ(Run(u"HKCU { A }", TRUE), E_FAIL);
  quibtest::ClearAllocationFaults();
  EXPECT_TRUE(Snapshot().empty());
}

// Every allocation of a run failing in turn: the run reports a failure or
// completes, and nothing stays allocated.
TEST_F(ScriptRuns, AllocationFailuresLeakNothing) {
  const std::u16string script = u"HKCU { A = s 'a' { val N = b 0a0b } B = d 3 }";
  for (quibtest::Allocator allocator : {quibtest::Allocator::Object, quibtest::Allocator::TaskMemory}) {
    for (unsigned nth = 1;; ++nth) {
      SCOPED_TRACE(testing::Message() << "allocator " << static_cast<int>(allocator) << ", request " << nth);
      quibtest::UseRegistry(":memory:");
      const std::size_t objects = quibtest::LiveAllocations(quibtest::Allocator::Object);
      const std::size_t task = quibtest::LiveAllocations(quibtest::Allocator::TaskMemory);
      quibtest::FailAllocation(allocator, nth);
      const HRESULT hr = Run(script, TRUE);
      quibtest::ClearAllocationFaults();
      EXPECT_EQ(quibtest::LiveAllocations(quibtest::Allocator::Object), objects);
      EXPECT_EQ(quibtest::LiveAllocations(quibtest::Allocator::TaskMemory), task);
      if (hr == S_OK) {
        EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A @ = S:a", "A @N = T3:0A0B", "B", "B @ = D:3"}));
        break;
      }
      EXPECT_TRUE(hr == E_FAIL || hr == E_OUTOFMEMORY) << std::hex << hr;
      EXPECT_TRUE(Snapshot().empty()) << "a failed registration is undone";
      ASSERT_LT(nth, 100u);
    }
  }
}

}  // namespace
