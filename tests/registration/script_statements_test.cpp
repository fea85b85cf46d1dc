// Registry-script statements in register and unregister mode, over an
// in-memory registry. Each block is applied under HKEY_CURRENT_USER.
#include "registration/script_statements.h"

#include <gtest/gtest.h>
#include <quibtest/core.h>

#include <string>

#include "registration/script_tokenizer.h"
#include "registry_snapshot.h"

namespace {

using quibtest::PutKey;
using quibtest::RegistryLines;
using quibtest::Snapshot;

constexpr bool kRegister = true;
constexpr bool kUnregister = false;

class Statements : public quibtest::InMemoryRegistry {
 protected:
  // Applies "{ body }" under parent; on success the block's "}" must be the
  // token in hand and only "rest" may be left of the text.
  HRESULT Apply(const std::u16string& body, bool registerMode, bool skipMode = false,
                HKEY parent = HKEY_CURRENT_USER) {
    std::u16string text = u"{\r\n" + body + u"\r\n} rest";
    LPCWSTR position = text.c_str();
    std::u16string token(kTokenCapacity, u'\0');
    EXPECT_EQ(ReadToken(position, token.data()), S_OK);
    HRESULT hr = ApplyBlock(position, token.data(), parent, registerMode, skipMode);
    if (hr == S_OK) {
      EXPECT_EQ(std::u16string(token.c_str()), u"}");
      EXPECT_EQ(std::u16string(position), u" rest");
    }
    return hr;
  }
};

struct Case {
  const char* name;
  std::u16string body;
  HRESULT result;
  RegistryLines after;
};

// ---- Register mode: keys and default values

TEST_F(Statements, RegisterCreatesKeysWithTheirDefaultValues) {
  ASSERT_EQ(Apply(u"A = s 'quib Class'\r\n{\r\n\tB = s 'inner'\r\n\t{\r\n\t}\r\n\tC\r\n}\r\nD", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A @ = S:quib Class", "A\\B", "A\\B @ = S:inner", "A\\C", "D"}));
}

TEST_F(Statements, RegisterOpensExistingKeysAndOverwritesTheirValues) {
  PutKey(HKEY_CURRENT_USER, u"A", u"old");
  PutKey(HKEY_CURRENT_USER, u"A", u"named", u"N");
  PutKey(HKEY_CURRENT_USER, u"A\\Keep");
  ASSERT_EQ(Apply(u"a = s 'new' { val N = s 'renamed' }", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A @ = S:new", "A @N = S:renamed", "A\\Keep"}));
}

TEST_F(Statements, RegisterKeyNameWithBackslashFails) {
  const Case cases[] = {
      {"key statement", u"A\\B = s 'v'", DISP_E_EXCEPTION, {}},
      {"after ForceRemove", u"ForceRemove A\\B", DISP_E_EXCEPTION, {}},
      {"after Delete", u"Delete A\\B", DISP_E_EXCEPTION, {}},
      {"quoted", u"'A\\B'", DISP_E_EXCEPTION, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Apply(c.body, kRegister), c.result);
    EXPECT_EQ(Snapshot(), c.after);
  }
}

TEST_F(Statements, ABlockNeedsExactlyABraceAfterAKeyInRegisterMode) {
  // "{x" is no block opener here: it is read as the next key statement.
  ASSERT_EQ(Apply(u"A {x", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "{x"}));
}

// ---- Register mode: values

TEST_F(Statements, ValuesOfEveryKindInAnyCase) {
  const Case cases[] = {
      {"S", u"val V = S 'text'", S_OK, {"@V = S:text"}},
      {"s", u"val V = s 'text'", S_OK, {"@V = S:text"}},
      {"empty string", u"val V = s ''", S_OK, {"@V = S:"}},
      {"quoted name", u"val 'my value' = s x", S_OK, {"@my value = S:x"}},
      {"D", u"val V = D 42", S_OK, {"@V = D:42"}},
      {"d, largest", u"val V = d 4294967295", S_OK, {"@V = D:4294967295"}},
      {"d, zero", u"val V = d 0", S_OK, {"@V = D:0"}},
      {"B", u"val V = B 0a1B", S_OK, {"@V = T3:0A1B"}},
      {"b, not hex", u"val V = b 0g", S_OK, {"@V = T3:00"}},
      {"b, empty", u"val V = b ''", S_OK, {"@V = T3:"}},
      {"b, odd", u"val V = b abc", E_FAIL, {}},
      {"d, too large", u"val V = d 4294967296", DISP_E_EXCEPTION, {}},
      {"d, not a number", u"val V = d 12x", DISP_E_EXCEPTION, {}},
      {"d, empty", u"val V = d ''", DISP_E_EXCEPTION, {}},
      {"unknown type letter", u"val V = x 'v'", DISP_E_EXCEPTION, {}},
      {"type word", u"val V = sz 'v'", DISP_E_EXCEPTION, {}},
      {"no '='", u"val V s 'v'", DISP_E_EXCEPTION, {}},
      {"type glued to '=' is not read", u"val V =s 'v'", DISP_E_EXCEPTION, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    quibtest::UseRegistry(":memory:");
    EXPECT_EQ(Apply(c.body, kRegister), c.result);
    RegistryLines expected;
    for (const std::string& line : c.after) expected.insert(" " + line);
    EXPECT_EQ(Snapshot(), expected);
  }
}

TEST_F(Statements, ValueNamesLongerThan259CharactersAreRefused) {
  const std::u16string name259(259, u'v'), name260(260, u'v');
  EXPECT_EQ(Apply(u"val " + name259 + u" = s x", kRegister), S_OK);
  EXPECT_EQ(Apply(u"val '" + name259 + u"' = s y", kRegister), S_OK);
  EXPECT_EQ(Apply(u"val " + name260 + u" = s x", kRegister), DISP_E_EXCEPTION);
  EXPECT_EQ(Apply(u"val '" + name260 + u"' = s x", kRegister), DISP_E_EXCEPTION);
  EXPECT_EQ(Snapshot(), (RegistryLines{" @" + std::string(259, 'v') + " = S:y"}));
}

TEST_F(Statements, ValueStatementsWriteToTheBlocksParent) {
  ASSERT_EQ(Apply(u"A { val N = s 'in A' B = s 'b' { } val M = d 7 }", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A @N = S:in A", "A @M = D:7", "A\\B", "A\\B @ = S:b"}));
}

// ---- Register mode: the current key after value and Delete statements

TEST_F(Statements, ABlockAfterAValueOrDeleteStatementOpensUnderTheCurrentKey) {
  ASSERT_EQ(Apply(u"A val N = s 'v' { B } Delete X = s 'x' { C }", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", " @N = S:v", "A\\B", "A\\C"}));
}

TEST_F(Statements, ABlockWithNoCurrentKeyCannotCreateKeys) {
  EXPECT_EQ(Apply(u"val N = s 'v' { B }", kRegister), DISP_E_EXCEPTION);
  EXPECT_EQ(Snapshot(), (RegistryLines{" @N = S:v"}));
  quibtest::UseRegistry(":memory:");
  // Values written under no key are dropped; the block still succeeds.
  EXPECT_EQ(Apply(u"val N = s 'v' { val M = s 'w' }", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{" @N = S:v"}));
}

// ---- Register mode: forced deletions

TEST_F(Statements, ForceRemoveReplacesTheWholeSubtree) {
  PutKey(HKEY_CURRENT_USER, u"X", u"old");
  PutKey(HKEY_CURRENT_USER, u"X\\Old\\Deep", u"deep");
  PutKey(HKEY_CURRENT_USER, u"X", u"named", u"N");
  ASSERT_EQ(Apply(u"ForceRemove X = s 'v' { Y = s 'w' }", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"X", "X @ = S:v", "X\\Y", "X\\Y @ = S:w"}));
}

TEST_F(Statements, ForceRemoveOfAMissingKeyCreatesIt) {
  ASSERT_EQ(Apply(u"forceremove X", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"X"}));
}

TEST_F(Statements, ForcedDeletionsSpareProtectedKeyNames) {
  PutKey(HKEY_CURRENT_USER, u"CLSID\\Keep");
  PutKey(HKEY_CURRENT_USER, u"TypeLib\\Keep");
  ASSERT_EQ(Apply(u"ForceRemove CLSID { } ForceRemove typelib Delete clsid Delete TYPELIB", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"CLSID", "CLSID\\Keep", "TypeLib", "TypeLib\\Keep"}));
}

TEST_F(Statements, DeleteRemovesTheSubtreeAndCreatesNothing) {
  PutKey(HKEY_CURRENT_USER, u"X\\Sub", u"sub");
  PutKey(HKEY_CURRENT_USER, u"Keep");
  ASSERT_EQ(Apply(u"Delete X = s 'dropped' Z = s 'z' delete Missing", kRegister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Keep", "Z", "Z @ = S:z"}));
}

// ---- Block structure

TEST_F(Statements, MissingTokensFail) {
  const Case cases[] = {
      {"value missing at the end", u"A = s", DISP_E_EXCEPTION, {}},
      {"type missing at the end", u"A =", DISP_E_EXCEPTION, {}},
      {"name missing after Val", u"val", DISP_E_EXCEPTION, {}},
      {"name missing after ForceRemove", u"ForceRemove", DISP_E_EXCEPTION, {}},
      {"unterminated quote", u"A = s 'v", DISP_E_EXCEPTION, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Without the closing brace that Apply adds.
    std::u16string text = u"{ " + c.body;
    for (bool mode : {kRegister, kUnregister}) {
      LPCWSTR position = text.c_str();
      WCHAR token[kTokenCapacity];
      ASSERT_EQ(ReadToken(position, token), S_OK);
      EXPECT_EQ(ApplyBlock(position, token, HKEY_CURRENT_USER, mode, false), c.result);
    }
  }
}

TEST_F(Statements, ABlockEndsAtATokenBeginningWithABrace) {
  std::u16string text = u"{ A }x B";
  LPCWSTR position = text.c_str();
  WCHAR token[kTokenCapacity];
  ASSERT_EQ(ReadToken(position, token), S_OK);
  ASSERT_EQ(ApplyBlock(position, token, HKEY_CURRENT_USER, kRegister, false), S_OK);
  EXPECT_EQ(std::u16string(token), u"}x");
  EXPECT_EQ(std::u16string(position), u" B");
}

std::u16string Nested(int levels) {
  std::u16string text;
  for (int i = 0; i < levels; ++i) text += u"K {\r\n";
  for (int i = 0; i < levels; ++i) text += u"}\r\n";
  return text;
}

TEST_F(Statements, BlocksNestAtMost512Deep) {
  // The outer block is level 1; Nested(n) adds n levels below it.
  EXPECT_EQ(Apply(Nested(kMaxBlockDepth - 1), kRegister), S_OK);
  EXPECT_EQ(Snapshot().size(), static_cast<std::size_t>(kMaxBlockDepth - 1));
  EXPECT_EQ(Apply(Nested(kMaxBlockDepth - 1), kUnregister), S_OK);
  EXPECT_TRUE(Snapshot().empty());

  EXPECT_EQ(Apply(Nested(kMaxBlockDepth), kRegister), DISP_E_EXCEPTION);
  EXPECT_EQ(Apply(Nested(kMaxBlockDepth), kUnregister), DISP_E_EXCEPTION);
  EXPECT_EQ(Apply(Nested(100000), kUnregister), DISP_E_EXCEPTION);
}

// ---- Unregister mode

TEST_F(Statements, UnregisterDeletesEmptyKeysBeforeTheirBlocks) {
  struct Setup {
    const char16_t* value;
    const char16_t* valueName;
  };
  const Setup setups[] = {{nullptr, nullptr}, {u"x", nullptr}, {u"x", u"Default"}};
  for (const Setup& s : setups) {
    SCOPED_TRACE(s.valueName ? "value named Default" : s.value ? "default value" : "no value");
    quibtest::UseRegistry(":memory:");
    PutKey(HKEY_CURRENT_USER, u"InprocServer32", s.value, s.valueName);
    PutKey(HKEY_CURRENT_USER, u"TypeLib", u"y");
    PutKey(HKEY_CURRENT_USER, u"Keep", u"k");
    ASSERT_EQ(Apply(u"InprocServer32 = s 'x' { Gone { } val N = s 'n' } TypeLib = s 'y'", kUnregister), S_OK);
    EXPECT_EQ(Snapshot(), (RegistryLines{"Keep", "Keep @ = S:k"}));
  }
}

TEST_F(Statements, UnregisterKeepsAKeyThatStillHasSubkeys) {
  PutKey(HKEY_CURRENT_USER, u"A", u"a");
  PutKey(HKEY_CURRENT_USER, u"A", u"n", u"N");
  PutKey(HKEY_CURRENT_USER, u"A\\Gone", u"g");
  PutKey(HKEY_CURRENT_USER, u"A\\Unnamed");
  ASSERT_EQ(Apply(u"A = s 'a' { Gone = s 'g' }", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A @ = S:a", "A @N = S:n", "A\\Unnamed"}));
}

// A subkey bearing the key's own name is left alone like any other.
TEST_F(Statements, UnregisterLeavesAllSubkeysOfAKeptKey) {
  PutKey(HKEY_CURRENT_USER, u"A\\A\\Deep");
  PutKey(HKEY_CURRENT_USER, u"A\\Other");
  PutKey(HKEY_CURRENT_USER, u"CLSID\\CLSID");
  const RegistryLines before = Snapshot();
  ASSERT_EQ(Apply(u"A { } CLSID { }", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(Statements, UnregisterDeletesAKeyWithNamedValuesButNoSubkeys) {
  PutKey(HKEY_CURRENT_USER, u"X", u"v");
  PutKey(HKEY_CURRENT_USER, u"X", u"other", u"Named");
  PutKey(HKEY_CURRENT_USER, u"Y", u"w");
  PutKey(HKEY_CURRENT_USER, u"Keep");
  ASSERT_EQ(Apply(u"X = s 'v' Y = s 'w'", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Keep"}));
}

TEST_F(Statements, UnregisterDeletesWhatTheBlockNamesThenTheEmptiedKey) {
  PutKey(HKEY_CURRENT_USER, u"A\\B\\C", u"c");
  PutKey(HKEY_CURRENT_USER, u"A\\B", u"b");
  ASSERT_EQ(Apply(u"A { B = s 'b' { C = s 'c' } }", kUnregister), S_OK);
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(Statements, NoRemoveProtectsEveryLaterKeyOfItsBlock) {
  PutKey(HKEY_CURRENT_USER, u"A", u"a");
  PutKey(HKEY_CURRENT_USER, u"B", u"b");
  PutKey(HKEY_CURRENT_USER, u"Before");
  ASSERT_EQ(Apply(u"Before NoRemove A { } B = s 'b'", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A @ = S:a", "B", "B @ = S:b"}));
}

TEST_F(Statements, NoRemoveDoesNotReachIntoNestedBlocks) {
  PutKey(HKEY_CURRENT_USER, u"CLSID\\{class}\\ProgID", u"p");
  ASSERT_EQ(Apply(u"NoRemove CLSID { ForceRemove {class} = s 'c' { ProgID = s 'p' } }", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"CLSID"}));
}

TEST_F(Statements, UnregisterTreatsForceRemoveAndDeleteAsKeyStatements) {
  PutKey(HKEY_CURRENT_USER, u"X", u"x");
  PutKey(HKEY_CURRENT_USER, u"Y\\Sub");
  PutKey(HKEY_CURRENT_USER, u"Z");
  // Y keeps its subkey: no forced subtree deletion in unregister mode.
  ASSERT_EQ(Apply(u"ForceRemove X = s 'x' Delete Y Delete Z", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Y", "Y\\Sub"}));
}

TEST_F(Statements, UnregisterSkipsAMissingKeyAndGoesOn) {
  PutKey(HKEY_CURRENT_USER, u"B", u"b");
  PutKey(HKEY_CURRENT_USER, u"C", u"c");
  ASSERT_EQ(Apply(u"Missing = s 'x' B = s 'b' Missing2 { C } C", kUnregister), S_OK);
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(Statements, SkipModeDeletesNothingInsideTheBlockOfAMissingKey) {
  PutKey(HKEY_CURRENT_USER, u"A\\Sub");
  PutKey(HKEY_CURRENT_USER, u"A", u"n", u"N");
  PutKey(HKEY_CURRENT_USER, u"Sub");
  // A stays (it has a subkey) and is still the current key when Missing's
  // block is read: in skip mode neither its value nor HKCU\Sub goes.
  ASSERT_EQ(Apply(u"A { } Missing { val N = s 'n' Sub { } }", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A @N = S:n", "A\\Sub", "Sub"}));
}

TEST_F(Statements, SkipModeFromTheCallerLastsForTheWholeBlock) {
  PutKey(HKEY_CURRENT_USER, u"P\\A");
  PutKey(HKEY_CURRENT_USER, u"P", u"n", u"N");
  const RegistryLines before = Snapshot();
  HKEY parent = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"P", 0, KEY_READ, &parent), 0);
  EXPECT_EQ(Apply(u"A val N = s 'n' Missing { } A { }", kUnregister, true, parent), S_OK);
  RegCloseKey(parent);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(Statements, UnregisterValueStatementDeletesTheValueOfTheParent) {
  PutKey(HKEY_CURRENT_USER, u"A\\Sub");
  PutKey(HKEY_CURRENT_USER, u"A", u"n", u"N");
  PutKey(HKEY_CURRENT_USER, u"A", u"m", u"M");
  ASSERT_EQ(Apply(u"A { val N = s 'n' NoRemove val M = s 'm' val Missing = d 1 }", kUnregister), S_OK);
  EXPECT_EQ(Snapshot(), (RegistryLines{"A", "A\\Sub"}));
}

TEST_F(Statements, UnregisterRefusesBadKeyNames) {
  const std::u16string name259(259, u'k'), name260(260, u'k');
  PutKey(HKEY_CURRENT_USER, u"Keep");
  EXPECT_EQ(Apply(u"A\\B", kUnregister), DISP_E_EXCEPTION);
  EXPECT_EQ(Apply(u"Delete A\\B", kUnregister), DISP_E_EXCEPTION);
  EXPECT_EQ(Apply(name259 + u" = s 'x'", kUnregister), S_OK);
  EXPECT_EQ(Apply(u"'" + name260 + u"' = s 'x'", kUnregister), DISP_E_EXCEPTION);
  EXPECT_EQ(Apply(u"val " + name260 + u" = s 'x'", kUnregister), DISP_E_EXCEPTION);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Keep"}));
}

TEST_F(Statements, UnregisterWithNoValueClauseAfterANestedBlock) {
  PutKey(HKEY_CURRENT_USER, u"A\\B");
  PutKey(HKEY_CURRENT_USER, u"A", u"n", u"N");
  PutKey(HKEY_CURRENT_USER, u"C");
  ASSERT_EQ(Apply(u"A { B } C", kUnregister), S_OK);
  EXPECT_TRUE(Snapshot().empty());
}

// ---- Value helpers

TEST(HexDigitValue, MapsHexDigitsAndNothingElse) {
  const std::u16string digits = u"0123456789ABCDEFabcdef";
  const int values[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
  for (std::size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(HexDigitValue(digits[i]), values[i]) << i;
  for (char16_t c : std::u16string(u"gG/:@`' \x00e9")) EXPECT_EQ(HexDigitValue(c), 0) << int(c);
}

TEST(LookupValueType, MatchesTheWholeLetterInAnyCase) {
  EXPECT_EQ(LookupValueType(u"S"), VT_BSTR);
  EXPECT_EQ(LookupValueType(u"s"), VT_BSTR);
  EXPECT_EQ(LookupValueType(u"d"), VT_UI4);
  EXPECT_EQ(LookupValueType(u"B"), VT_UI1);
  EXPECT_EQ(LookupValueType(u"SZ"), VT_EMPTY);
  EXPECT_EQ(LookupValueType(u""), VT_EMPTY);
}

// ---- Registry probes and subtree deletion

class KeyProbes : public quibtest::InMemoryRegistry {
 protected:
  HKEY Open(const char16_t* path) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key), 0);
    return key;
  }
};

TEST_F(KeyProbes, KeyHasValuesIgnoresTheDefaultValue) {
  struct Case {
    const char* name;
    std::u16string valueNames;  // one character per value; '@' is the default value
    bool hasValues;
  } cases[] = {
      {"no values", u"", false}, {"default only", u"@", false}, {"one named", u"N", true},
      {"default and named", u"@N", true}, {"two named", u"NM", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    quibtest::UseRegistry(":memory:");
    PutKey(HKEY_CURRENT_USER, u"K");
    for (char16_t n : c.valueNames) {
      std::u16string name(1, n);
      PutKey(HKEY_CURRENT_USER, u"K", u"v", n == u'@' ? nullptr : name.c_str());
    }
    HKEY key = Open(u"K");
    EXPECT_EQ(KeyHasValues(key), c.hasValues);
    EXPECT_FALSE(KeyHasSubkeys(key));
    RegCloseKey(key);
  }
  quibtest::UseRegistry(":memory:");
  PutKey(HKEY_CURRENT_USER, u"K", u"v", u"Default");
  PutKey(HKEY_CURRENT_USER, u"L", u"v", u"default");
  HKEY k = Open(u"K"), l = Open(u"L");
  EXPECT_FALSE(KeyHasValues(k)) << "\"Default\" counts as the default value";
  EXPECT_TRUE(KeyHasValues(l)) << "only \"Default\" in exactly that case does";
  RegCloseKey(k);
  RegCloseKey(l);
}

TEST_F(KeyProbes, ProbesOfNoKeyAnswerFalse) {
  EXPECT_FALSE(KeyHasSubkeys(0));
  EXPECT_FALSE(KeyHasValues(0));
}

TEST_F(KeyProbes, KeyHasValuesWithoutMemoryAnswersFalse) {
  PutKey(HKEY_CURRENT_USER, u"K", u"v", u"Named");
  HKEY key = Open(u"K");
  quibtest::FailAllocation(quibtest::Allocator::Object, 1);
  EXPECT_FALSE(KeyHasValues(key));
  quibtest::ClearAllocationFaults();
  EXPECT_TRUE(KeyHasValues(key));
  RegCloseKey(key);
}

TEST_F(KeyProbes, DeleteKeyTreeRemovesEveryLevel) {
  PutKey(HKEY_CURRENT_USER, u"T\\A\\B\\C", u"c");
  PutKey(HKEY_CURRENT_USER, u"T\\A\\D");
  PutKey(HKEY_CURRENT_USER, u"T\\E", u"e", u"N");
  PutKey(HKEY_CURRENT_USER, u"Keep");
  EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, u"T"), 0);
  EXPECT_EQ(Snapshot(), (RegistryLines{"Keep"}));
  EXPECT_NE(DeleteKeyTree(HKEY_CURRENT_USER, u"T"), 0);
  EXPECT_NE(DeleteKeyTree(0, u"Keep"), 0);
}

TEST_F(KeyProbes, DeleteKeyTreeRemovesTheDeepestTreeTheRegistryHolds) {
  HKEY key = HKEY_CURRENT_USER;
  for (int level = 1; level <= 512; ++level) {
    HKEY child = 0;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(key, level == 1 ? u"Deep" : u"K", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                              &disposition), 0) << level;
    if (key != HKEY_CURRENT_USER) RegCloseKey(key);
    key = child;
  }
  RegCloseKey(key);
  EXPECT_EQ(DeleteKeyTree(HKEY_CURRENT_USER, u"Deep"), 0);
  EXPECT_TRUE(Snapshot().empty());
}

TEST_F(KeyProbes, KeyHolderClosesWhatItHolds) {
  PutKey(HKEY_CURRENT_USER, u"A");
  PutKey(HKEY_CURRENT_USER, u"B");
  HKEY first = 0;
  {
    KeyHolder holder;
    ASSERT_EQ(holder.Open(HKEY_CURRENT_USER, u"A", KEY_READ), 0);
    first = holder.Get();
    EXPECT_NE(holder.Open(HKEY_CURRENT_USER, u"Missing", KEY_READ), 0);
    EXPECT_EQ(holder.Get(), first) << "a refused open keeps the old key";
    ASSERT_EQ(holder.Open(HKEY_CURRENT_USER, u"B", KEY_READ), 0);
    EXPECT_FALSE(KeyHasValues(holder.Get()));
    EXPECT_EQ(holder.Close(), 0);
    EXPECT_EQ(holder.Get(), 0u);
    EXPECT_EQ(holder.Close(), 0) << "closing nothing succeeds";
  }
}

}  // namespace
