// Registry scripts: the replacements of a run, loading a script resource,
// filling in its %NAME% placeholders, and running its root sections.
#pragma once

#include <cstddef>

#include "platform/sync.h"
#include "platform/types.h"

// Placeholder names have at most this many characters.
constexpr std::size_t kPlaceholderNameLimit = 31;
// Characters of a module path, terminator included.
constexpr std::size_t kModulePathCapacity = 260;

struct ReplacementEntry {
  WCHAR* name;   // task-allocator copy; matched ignoring case
  WCHAR* value;  // task-allocator copy
};

// The replacements of one run, in the order they were added. Names need not
// be unique; a lookup finds the first match. Every operation holds the lock.
class ReplacementMap {
 public:
  ReplacementMap();
  ~ReplacementMap();
  ReplacementMap(const ReplacementMap&) = delete;
  ReplacementMap& operator=(const ReplacementMap&) = delete;

  // S_OK, or E_OUTOFMEMORY with the map as it was.
  HRESULT Add(LPCWSTR name, LPCWSTR value);
  // The value of the first entry whose name matches ignoring case, or null.
  LPCWSTR Find(LPCWSTR name);
  // Frees every entry; the array and its capacity stay.
  HRESULT Clear();

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }

 private:
  ReplacementEntry** entries_;
  int count_;
  int capacity_;
  CRITICAL_SECTION lock_;
};

// A pair of an updater's extra replacements; an array of them ends with a
// pair whose name is null.
struct ReplacementPair {
  LPCWSTR name;
  LPCWSTR value;
};

struct RegistryScriptParser {
  LPCWSTR position;             // next character to read
  ReplacementMap* replacements;  // consulted by ExpandScript only
};

// Runs the library's script resource ("REGISTRY", id) in register or
// unregister mode, with "Module" (the library's file name, quotes doubled)
// and the extra replacements, if any.
HRESULT ApplyRegistryResource(WORD resourceId, BOOL registerEntries, const ReplacementPair* extra);

// Copies source into destination, doubling every single quote.
// destination has room for 2 * length(source) + 1 characters.
void EscapeSingleQuotes(WCHAR* destination, LPCWSTR source);

// Loads the resource of the library file at path and runs it.
HRESULT RunScriptResource(ReplacementMap& map, LPCWSTR path, WORD resourceId, LPCWSTR typeName, int registerEntries);

// Replaces every %NAME% of text; %% stands for one '%'. On success *expanded
// is the new text in task-allocator memory, which the caller frees.
HRESULT ExpandScript(RegistryScriptParser& parser, LPCWSTR text, WCHAR** expanded);

// Expands text and applies its root sections. In register mode a failing
// section is run once more in unregister mode to undo it.
HRESULT RunScript(RegistryScriptParser& parser, LPCWSTR text, BOOL registerEntries);
