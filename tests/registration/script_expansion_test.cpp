// Placeholder expansion and the replacements it draws on.
#include <gtest/gtest.h>
#include <quibtest/core.h>

#include <string>

#include "platform/heaps.h"
#include "registration/script_runner.h"

namespace {

using quibtest::Allocator;

struct Expansion {
  HRESULT result;
  std::u16string text;
};

Expansion Expand(ReplacementMap& map, const std::u16string& text) {
  RegistryScriptParser parser{nullptr, &map};
  WCHAR* out = reinterpret_cast<WCHAR*>(1);
  Expansion e{ExpandScript(parser, text.c_str(), &out), u""};
  if (SUCCEEDED(e.result)) {
    e.text = out;
    CoTaskMemFree(out);
  } else {
    EXPECT_EQ(out, nullptr) << "a failed expansion hands out nothing";
  }
  return e;
}

struct ExpansionCase {
  const char* name;
  std::u16string text;
  HRESULT result;
  std::u16string expanded;
};

TEST(ExpandScript, FillsInPlaceholders) {
  ReplacementMap map;
  ASSERT_EQ(map.Add(u"Module", u"\\System\\quib.dll"), S_OK);
  ASSERT_EQ(map.Add(u"Percent", u"50%"), S_OK);
  ASSERT_EQ(map.Add(u"Nested", u"%MODULE%"), S_OK);
  ASSERT_EQ(map.Add(u"Empty", u""), S_OK);
  const std::u16string name31(31, u'n');
  const std::u16string name32(32, u'n');
  ASSERT_EQ(map.Add(name31.c_str(), u"thirty-one"), S_OK);
  ASSERT_EQ(map.Add(name32.c_str(), u"thirty-two"), S_OK);

  const ExpansionCase cases[] = {
      {"no placeholder", u"HKCR { x }", S_OK, u"HKCR { x }"},
      {"empty text", u"", S_OK, u""},
      {"placeholder", u"s '%MODULE%'", S_OK, u"s '\\System\\quib.dll'"},
      {"case ignored", u"%module%|%Module%|%mOdUlE%", S_OK,
       u"\\System\\quib.dll|\\System\\quib.dll|\\System\\quib.dll"},
      {"doubled percent", u"%%MODULE%%", S_OK, u"%MODULE%"},
      {"lone doubled percent", u"100%%", S_OK, u"100%"},
      {"value with '%' is not expanded again", u"%Percent% and %Nested%", S_OK, u"50% and %MODULE%"},
      {"empty value", u"[%Empty%]", S_OK, u"[]"},
      {"only an empty value", u"%Empty%", S_OK, u""},
      {"adjacent placeholders", u"%Empty%%Percent%", S_OK, u"50%"},
      {"name of 31 characters", u"%" + name31 + u"%", S_OK, u"thirty-one"},
      {"name of 32 characters", u"%" + name32 + u"%", E_FAIL, u""},
      {"long name, never closed", u"%" + name32, DISP_E_EXCEPTION, u""},
      {"missing name", u"x %Other% y", DISP_E_EXCEPTION, u""},
      {"unterminated", u"ends in 50%", DISP_E_EXCEPTION, u""},
      {"unterminated name", u"%MODULE", DISP_E_EXCEPTION, u""},
      {"placeholder inside a key name", u"a%Empty%b", S_OK, u"ab"},
  };
  for (const ExpansionCase& c : cases) {
    SCOPED_TRACE(c.name);
    Expansion e = Expand(map, c.text);
    EXPECT_EQ(e.result, c.result);
    if (c.result == S_OK) {
      EXPECT_EQ(e.text, c.expanded);
    }
  }
}

TEST(ExpandScript, GrowsPastTwiceTheInputLength) {
  ReplacementMap map;
  const std::u16string big(1000, u'v');
  ASSERT_EQ(map.Add(u"Big", big.c_str()), S_OK);
  Expansion e = Expand(map, u"%Big%%Big%");
  ASSERT_EQ(e.result, S_OK);
  EXPECT_EQ(e.text, big + big);
}

TEST(ExpandScript, ReportsOutOfMemoryAndLeaksNothing) {
  ReplacementMap map;
  const std::u16string big(1000, u'v');
  ASSERT_EQ(map.Add(u"Big", big.c_str()), S_OK);
  const std::size_t live = quibtest::LiveAllocations(Allocator::TaskMemory);
  for (unsigned nth = 1;; ++nth) {
    SCOPED_TRACE(nth);
    quibtest::FailAllocation(Allocator::TaskMemory, nth);
    Expansion e = Expand(map, u"x%Big%y");
    quibtest::ClearAllocationFaults();
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::TaskMemory), live);
    if (e.result == S_OK) {
      EXPECT_EQ(e.text, u"x" + big + u"y");
      break;
    }
    EXPECT_EQ(e.result, E_OUTOFMEMORY);
    ASSERT_LT(nth, 20u);
  }
}

TEST(EscapeSingleQuotes, DoublesEveryQuote) {
  struct Case {
    std::u16string source, escaped;
  } cases[] = {
      {u"", u""},
      {u"plain", u"plain"},
      {u"\\Storage\\Today's Notes\\quibVoiceRec.dll", u"\\Storage\\Today''s Notes\\quibVoiceRec.dll"},
      {u"'", u"''"},
      {u"''x'", u"''''x''"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source.begin(), c.source.end()));
    std::u16string out(2 * c.source.size() + 2, u'#');
    EscapeSingleQuotes(out.data(), c.source.c_str());
    EXPECT_EQ(std::u16string(out.c_str()), c.escaped);
    EXPECT_EQ(out.back(), u'#');
  }
}

TEST(ReplacementMap, FindsTheFirstMatchIgnoringCase) {
  ReplacementMap map;
  ASSERT_EQ(map.Add(u"Module", u"first"), S_OK);
  ASSERT_EQ(map.Add(u"MODULE", u"second"), S_OK);
  EXPECT_EQ(map.Count(), 2);
  EXPECT_EQ(std::u16string(map.Find(u"module")), u"first");
  EXPECT_EQ(map.Find(u"Modul"), nullptr);
  EXPECT_EQ(map.Find(u"Modules"), nullptr);
}

TEST(ReplacementMap, KeepsItsOwnCopies) {
  ReplacementMap map;
  std::u16string name = u"Name", value = u"Value";
  ASSERT_EQ(map.Add(name.c_str(), value.c_str()), S_OK);
  name[0] = u'X';
  value[0] = u'X';
  EXPECT_EQ(std::u16string(map.Find(u"name")), u"Value");
}

TEST(ReplacementMap, DoublesItsArrayWhenFull) {
  ReplacementMap map;
  EXPECT_EQ(map.Capacity(), 10);
  for (int i = 0; i < 25; ++i) {
    std::u16string name = u"n" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    ASSERT_EQ(map.Add(name.c_str(), name.c_str()), S_OK);
  }
  EXPECT_EQ(map.Count(), 25);
  EXPECT_EQ(map.Capacity(), 40);
  for (int i = 0; i < 25; ++i) {
    std::u16string name = u"N" + std::u16string(1, static_cast<char16_t>(u'a' + i));
    ASSERT_NE(map.Find(name.c_str()), nullptr);
  }
}

TEST(ReplacementMap, ClearFreesTheEntriesAndKeepsTheArray) {
  const std::size_t task = quibtest::LiveAllocations(Allocator::TaskMemory);
  const std::size_t objects = quibtest::LiveAllocations(Allocator::Object);
  {
    ReplacementMap map;
    for (int i = 0; i < 12; ++i) ASSERT_EQ(map.Add(u"a", u"b"), S_OK);
    EXPECT_EQ(map.Clear(), S_OK);
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(map.Capacity(), 20);
    EXPECT_EQ(map.Find(u"a"), nullptr);
    EXPECT_EQ(quibtest::LiveAllocations(Allocator::TaskMemory), task);
    ASSERT_EQ(map.Add(u"a", u"c"), S_OK);
    EXPECT_EQ(std::u16string(map.Find(u"A")), u"c");
  }
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::TaskMemory), task);
  EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), objects);
}

// Each failing allocation of an add leaves the map as it was.
TEST(ReplacementMap, FailedAddsLoseNothing) {
  const Allocator allocators[] = {Allocator::Object, Allocator::TaskMemory};
  for (Allocator allocator : allocators) {
    for (unsigned nth = 1; nth <= 3; ++nth) {
      SCOPED_TRACE(testing::Message() << "allocator " << static_cast<int>(allocator) << ", request " << nth);
      const std::size_t task = quibtest::LiveAllocations(Allocator::TaskMemory);
      const std::size_t objects = quibtest::LiveAllocations(Allocator::Object);
      {
        ReplacementMap map;
        for (int i = 0; i < 10; ++i) ASSERT_EQ(map.Add(u"kept", u"value"), S_OK);
        // The eleventh add allocates the entry, two copies and a larger array.
        quibtest::FailAllocation(allocator, nth);
        HRESULT hr = map.Add(u"new", u"value");
        quibtest::ClearAllocationFaults();
        const bool failed = hr == E_OUTOFMEMORY;
        EXPECT_TRUE(failed || hr == S_OK);
        EXPECT_EQ(map.Count(), failed ? 10 : 11);
        EXPECT_EQ(map.Find(u"new") != nullptr, !failed);
        EXPECT_EQ(std::u16string(map.Find(u"kept")), u"value");
        ASSERT_EQ(map.Add(u"after", u"x"), S_OK);
        EXPECT_NE(map.Find(u"after"), nullptr);
      }
      EXPECT_EQ(quibtest::LiveAllocations(Allocator::TaskMemory), task);
      EXPECT_EQ(quibtest::LiveAllocations(Allocator::Object), objects);
    }
  }
}

TEST(ReplacementMap, WithoutItsArrayEveryAddFails) {
  quibtest::FailAllocation(Allocator::Object, 1);
  ReplacementMap map;
  quibtest::ClearAllocationFaults();
  EXPECT_EQ(map.Add(u"Module", u"x"), E_OUTOFMEMORY);
  EXPECT_EQ(map.Count(), 0);
  EXPECT_EQ(map.Find(u"Module"), nullptr);
}

}  // namespace
