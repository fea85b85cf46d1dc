// Registry scripts: replacements, loading a script resource, expansion and runs.
//
// Sections: ReplacementMap; ApplyRegistryResource and RunScriptResource;
// ExpandScript; RunScript.
#include "registration/script_runner.h"

#include "module/module_state.h"
#include "platform/errors.h"
#include "platform/heaps.h"
#include "platform/loader.h"
#include "platform/resources.h"
#include "platform/wstring.h"
#include "registration/script_statements.h"
#include "registration/script_tokenizer.h"

namespace {

constexpr int kInitialReplacementSlots = 10;
constexpr WCHAR kQuote = u'\'';
constexpr WCHAR kPercent = u'%';

// The thread's last error as an HRESULT. A failure that left no error code
// still fails: 0 would read as success.
HRESULT LastErrorResult() {
  const LONG error = static_cast<LONG>(GetLastError());
  return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

WCHAR* TaskCopy(LPCWSTR text) {
  const std::size_t bytes = (WideLength(text) + 1) * sizeof(WCHAR);
  auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
  if (copy) std::memcpy(copy, text, bytes);
  return copy;
}

// The text being built by ExpandScript, in task-allocator memory.
class ExpansionBuffer {
 public:
  explicit ExpansionBuffer(std::size_t capacity)
      // At least one character, so that the terminator of an empty text fits.
      : capacity_(capacity ? capacity : 1),
        data_(static_cast<WCHAR*>(CoTaskMemAlloc(capacity_ * sizeof(WCHAR)))) {}
  ~ExpansionBuffer() { CoTaskMemFree(data_); }
  ExpansionBuffer(const ExpansionBuffer&) = delete;
  ExpansionBuffer& operator=(const ExpansionBuffer&) = delete;

  explicit operator bool() const { return data_ != nullptr; }

  // Doubles the capacity when full; a failed enlargement keeps what is held.
  bool Append(WCHAR c) {
    if (count_ == capacity_) {
      if (capacity_ > SIZE_MAX / (2 * sizeof(WCHAR))) return false;
      auto* grown = static_cast<WCHAR*>(CoTaskMemRealloc(data_, 2 * capacity_ * sizeof(WCHAR)));
      if (!grown) return false;
      data_ = grown;
      capacity_ *= 2;
    }
    data_[count_++] = c;
    return true;
  }

  WCHAR* Release() {
    WCHAR* data = data_;
    data_ = nullptr;
    return data;
  }

 private:
  std::size_t count_ = 0;
  std::size_t capacity_;
  WCHAR* data_;
};

// Frees task-allocator text when dropped.
struct TaskText {
  WCHAR* text = nullptr;
  ~TaskText() { CoTaskMemFree(text); }
};

// A block from the object allocator, freed when dropped.
struct ObjectBlock {
  void* block;
  explicit ObjectBlock(std::size_t bytes) : block(ObjectAlloc(bytes)) {}
  ~ObjectBlock() { ObjectFree(block); }
  ObjectBlock(const ObjectBlock&) = delete;
  ObjectBlock& operator=(const ObjectBlock&) = delete;
};

}  // namespace

// ---- ReplacementMap

ReplacementMap::ReplacementMap()
    : entries_(static_cast<ReplacementEntry**>(ObjectAlloc(kInitialReplacementSlots * sizeof(ReplacementEntry*)))),
      count_(0),
      capacity_(kInitialReplacementSlots) {
  InitializeCriticalSection(&lock_);
}

ReplacementMap::~ReplacementMap() {
  Clear();
  DeleteCriticalSection(&lock_);
  ObjectFree(entries_);
}

HRESULT ReplacementMap::Add(LPCWSTR name, LPCWSTR value) {
  EnterCriticalSection(&lock_);
  HRESULT hr = E_OUTOFMEMORY;
  auto* entry = static_cast<ReplacementEntry*>(ObjectAlloc(sizeof(ReplacementEntry)));
  if (entry) {
    entry->name = TaskCopy(name);
    entry->value = entry->name ? TaskCopy(value) : nullptr;
    if (entry->name && entry->value) {
      if (entries_ && count_ == capacity_) {
        // A failed enlargement keeps the array and its entries as they were.
        auto* grown = capacity_ <= 0x3FFFFFFF
                          ? static_cast<ReplacementEntry**>(ObjectAlloc(2 * std::size_t(capacity_) * sizeof(ReplacementEntry*)))
                          : nullptr;
        if (grown) {
          std::memcpy(grown, entries_, std::size_t(count_) * sizeof(ReplacementEntry*));
          ObjectFree(entries_);
          entries_ = grown;
          capacity_ *= 2;
        }
      }
      if (entries_ && count_ < capacity_) {
        entries_[count_++] = entry;
        entry = nullptr;
        hr = S_OK;
      }
    }
    if (entry) {
      CoTaskMemFree(entry->value);
      CoTaskMemFree(entry->name);
      ObjectFree(entry);
    }
  }
  LeaveCriticalSection(&lock_);
  return hr;
}

LPCWSTR ReplacementMap::Find(LPCWSTR name) {
  EnterCriticalSection(&lock_);
  LPCWSTR value = nullptr;
  for (int i = 0; i < count_ && !value; ++i)
    if (WideCompareNoCase(entries_[i]->name, name) == 0) value = entries_[i]->value;
  LeaveCriticalSection(&lock_);
  return value;
}

HRESULT ReplacementMap::Clear() {
  EnterCriticalSection(&lock_);
  for (int i = 0; i < count_; ++i) {
    CoTaskMemFree(entries_[i]->value);
    CoTaskMemFree(entries_[i]->name);
    ObjectFree(entries_[i]);
  }
  count_ = 0;
  LeaveCriticalSection(&lock_);
  return S_OK;
}

// ---- Loading a script resource

void EscapeSingleQuotes(WCHAR* destination, LPCWSTR source) {
  for (; *source; ++source) {
    *destination++ = *source;
    if (*source == kQuote) *destination++ = kQuote;
  }
  *destination = 0;
}

HRESULT ApplyRegistryResource(WORD resourceId, BOOL registerEntries, const ReplacementPair* extra) {
  ReplacementMap map;

  ModuleState* module = ModuleState::Current();
  if (!module) return E_UNEXPECTED;
  WCHAR path[kModulePathCapacity];
  const DWORD length = GetModuleFileNameW(module->instance, path, kModulePathCapacity);
  if (length == 0) return LastErrorResult();
  if (length >= kModulePathCapacity) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

  WCHAR escaped[2 * (kModulePathCapacity - 1) + 1];
  EscapeSingleQuotes(escaped, path);
  map.Add(u"Module", escaped);
  if (extra)
    for (; extra->name; ++extra) map.Add(extra->name, extra->value);

  return RunScriptResource(map, path, resourceId, u"REGISTRY", registerEntries ? 1 : 0);
}

HRESULT RunScriptResource(ReplacementMap& map, LPCWSTR path, WORD resourceId, LPCWSTR typeName,
                          int registerEntries) {
  RegistryScriptParser parser{nullptr, &map};

  HMODULE library = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!library) return LastErrorResult();

  HRESULT hr = S_OK;
  const char* bytes = nullptr;
  DWORD size = 0;
  HRSRC resource = FindResourceW(library, MAKEINTRESOURCEW(resourceId), typeName);
  if (!resource) hr = LastErrorResult();
  if (SUCCEEDED(hr)) {
    HGLOBAL loaded = LoadResource(library, resource);
    bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    size = SizeofResource(library, resource);
    if (!bytes) hr = LastErrorResult();
  }

  if (SUCCEEDED(hr)) {
    std::size_t n = 0;
    while (n < size && bytes[n] != 0) ++n;
    ObjectBlock text(n + 1);
    ObjectBlock wide((n + 1) * sizeof(WCHAR));
    if (!text.block || !wide.block) {
      hr = E_OUTOFMEMORY;
    } else {
      std::memcpy(text.block, bytes, n);
      static_cast<char*>(text.block)[n] = 0;
      auto* widened = static_cast<WCHAR*>(wide.block);
      widened[0] = 0;
      // Left as it is when the conversion fails: an empty text changes nothing.
      MultiByteToWideChar(CP_ACP, 0, static_cast<const char*>(text.block), -1, widened, static_cast<int>(n + 1));
      hr = RunScript(parser, widened, registerEntries);
    }
  }

  FreeLibrary(library);
  return hr;
}

// ---- Expansion

HRESULT ExpandScript(RegistryScriptParser& parser, LPCWSTR text, WCHAR** expanded) {
  *expanded = nullptr;
  const std::size_t length = WideLength(text);
  if (length > SIZE_MAX / (4 * sizeof(WCHAR))) return E_OUTOFMEMORY;
  ExpansionBuffer out(2 * length);
  if (!out) return E_OUTOFMEMORY;

  HRESULT hr = S_OK;
  parser.position = text;
  while (*parser.position != 0 && SUCCEEDED(hr)) {
    LPCWSTR at = parser.position;
    if (*at != kPercent) {
      if (!out.Append(*at)) hr = E_OUTOFMEMORY;
      parser.position = at + 1;
      continue;
    }
    if (at[1] == kPercent) {
      if (!out.Append(kPercent)) hr = E_OUTOFMEMORY;
      parser.position = at + 2;
      continue;
    }

    LPCWSTR name = at + 1;
    LPCWSTR end = name;
    while (*end != 0 && *end != kPercent) ++end;
    if (*end == 0) {
      hr = DISP_E_EXCEPTION;
      break;
    }
    const std::size_t nameLength = static_cast<std::size_t>(end - name);
    if (nameLength > kPlaceholderNameLimit) {
      hr = E_FAIL;
      break;
    }
    WCHAR key[kPlaceholderNameLimit + 1];
    std::memcpy(key, name, nameLength * sizeof(WCHAR));
    key[nameLength] = 0;
    LPCWSTR value = parser.replacements ? parser.replacements->Find(key) : nullptr;
    if (!value) {
      hr = DISP_E_EXCEPTION;
      break;
    }
    for (; *value && SUCCEEDED(hr); ++value)
      if (!out.Append(*value)) hr = E_OUTOFMEMORY;
    parser.position = end + 1;
  }

  if (SUCCEEDED(hr) && !out.Append(0)) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) *expanded = out.Release();
  return hr;
}

// ---- Runs

HRESULT RunScript(RegistryScriptParser& parser, LPCWSTR text, BOOL registerEntries) {
  ObjectBlock tokenBlock(kTokenCapacity * sizeof(WCHAR));
  if (!tokenBlock.block) return E_FAIL;
  auto* token = static_cast<WCHAR*>(tokenBlock.block);

  TaskText expanded;
  HRESULT hr = ExpandScript(parser, text, &expanded.text);
  if (FAILED(hr)) return hr;
  parser.position = expanded.text;
  if (*parser.position == 0) return S_OK;

  for (;;) {
    if (FAILED(hr = ReadToken(parser.position, token))) return hr;
    const HKEY root = LookupRootKey(token);
    if (root == 0) return DISP_E_EXCEPTION;
    if (FAILED(hr = ReadToken(parser.position, token))) return hr;
    if (token[0] != u'{') return DISP_E_EXCEPTION;

    if (registerEntries) {
      LPCWSTR sectionStart = parser.position;
      hr = ApplyBlock(parser.position, token, root, true, false);
      if (FAILED(hr)) {
        // Undo what the failing section wrote; sections before it stay.
        parser.position = sectionStart;
        ApplyBlock(parser.position, token, root, false, false);
        return hr;
      }
    } else {
      hr = ApplyBlock(parser.position, token, root, false, false);
      if (FAILED(hr)) return hr;
    }

    SkipWhitespace(parser.position);
    if (*parser.position == 0) return hr;
  }
}
