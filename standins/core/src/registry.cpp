// The registry over an SQLite database: four roots, keys and values with
// case-insensitive names that keep their creation case, every change committed
// before the call returns, several processes on one file.
//
// Sections: names and folding; the connection (open, validate, create the
// schema); handles and enumeration cursors; the registry routines; test hooks.
// The file format and the enumeration order are described in docs/registry.md.
#include "platform/registry.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "quibtest/registry.h"

namespace {

constexpr int kApplicationId = 0x51524547;  // "QREG"
constexpr int kSchemaVersion = 1;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::int64_t kMaxDepth = 512;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr DWORD kMaxValueSize = 1u << 20;
constexpr int kBusyTimeoutMs = 30000;

// Internal failure carrying the platform error code to return.
struct Failure {
  LONG code;
  bool transient = false;  // another connection's lock: worth another try
};

// ---------------------------------------------------------------------------
// Names and folding

using Name = std::u16string;

// Upper case for the letters whose case the registry ignores: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic. Everything else compares as it is.
char16_t FoldUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return static_cast<char16_t>(c & ~1u);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1u) ? c : static_cast<char16_t>(c - 1);
  if (c == 0x3C2) return 0x3A3;
  if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return static_cast<char16_t>(c - 32);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  return c;
}

// Stored name: UTF-16 little-endian bytes, exactly as given.
std::string NameBytes(const Name& name) {
  std::string out;
  out.reserve(name.size() * 2);
  for (char16_t c : name) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

Name NameFromBytes(const void* data, int size) {
  const auto* b = static_cast<const unsigned char*>(data);
  Name out;
  for (int i = 0; i + 1 < size; i += 2) out += static_cast<char16_t>(b[i] | (b[i + 1] << 8));
  return out;
}

// Comparison key: folded UTF-16 big-endian, so byte order is code-unit order.
std::string FoldBytes(const Name& name) {
  std::string out;
  out.reserve(name.size() * 2);
  for (char16_t c : name) {
    char16_t f = FoldUnit(c);
    out += static_cast<char>(f >> 8);
    out += static_cast<char>(f & 0xFF);
  }
  return out;
}

Name Length(LPCWSTR text, std::size_t limit, bool& tooLong) {
  Name out;
  tooLong = false;
  if (!text) return out;
  std::size_t n = 0;
  while (text[n]) {
    if (++n > limit) {
      tooLong = true;
      return out;
    }
  }
  out.assign(text, n);
  return out;
}

// Splits a subkey path at backslashes. Empty components and components of
// more than 255 characters are refused, never cut.
std::vector<Name> SplitPath(LPCWSTR path) {
  std::vector<Name> parts;
  if (!path || !*path) return parts;
  Name part;
  for (LPCWSTR p = path;; ++p) {
    if (*p == u'\\' || *p == 0) {
      if (part.empty()) throw Failure{ERROR_INVALID_PARAMETER};
      parts.push_back(part);
      part.clear();
      if (*p == 0) break;
    } else {
      if (part.size() == kMaxKeyNameLength) throw Failure{ERROR_INVALID_PARAMETER};
      part += *p;
    }
  }
  return parts;
}

// ---------------------------------------------------------------------------
// The connection

LONG CodeOf(int rc, bool writing) {
  switch (rc & 0xFF) {
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    default:
      return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

Failure FailureOf(int rc, bool writing) {
  int primary = rc & 0xFF;
  return Failure{CodeOf(rc, writing), primary == SQLITE_BUSY || primary == SQLITE_LOCKED || primary == SQLITE_PROTOCOL};
}

// A prepared statement of the connection's cache, reset when the scope ends.
class Statement {
 public:
  Statement(sqlite3* db, sqlite3_stmt* stmt, bool writing) : db_(db), stmt_(stmt), writing_(writing) {}
  ~Statement() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int i, std::int64_t v) {
    Check(sqlite3_bind_int64(stmt_, i, v));
    return *this;
  }
  Statement& Bind(int i, const std::string& blob) {
    Check(sqlite3_bind_blob(stmt_, i, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindBytes(int i, const void* data, DWORD size) {
    static const char kEmpty = 0;
    Check(sqlite3_bind_blob(stmt_, i, size ? data : &kEmpty, static_cast<int>(size), SQLITE_TRANSIENT));
    return *this;
  }
  // True while a row is there.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw FailureOf(rc, writing_);
  }
  void Run() {
    while (Step()) {
    }
  }
  std::int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
  std::string Blob(int col) {
    const void* p = sqlite3_column_blob(stmt_, col);
    int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
  }
  Name NameAt(int col) {
    const void* p = sqlite3_column_blob(stmt_, col);
    return NameFromBytes(p, sqlite3_column_bytes(stmt_, col));
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) throw FailureOf(rc, writing_);
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  bool writing_;
};

const char* const kSchema[] = {
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name BLOB NOT NULL,"
    " fold BLOB NOT NULL, depth INTEGER NOT NULL, UNIQUE(parent, fold))",
    "CREATE TABLE vals(key INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL, type INTEGER NOT NULL,"
    " data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID",
};

struct RootKey {
  HKEY handle;
  std::int64_t id;
  const char16_t* name;
};
constexpr RootKey kRoots[] = {
    {HKEY_CLASSES_ROOT, 1, u"HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, 2, u"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, 3, u"HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, 4, u"HKEY_USERS"},
};
constexpr std::int64_t kLastRootId = 4;

// The file: QUIB_REGISTRY, else the per-user data directory.
std::string DefaultPath() {
  if (const char* env = std::getenv("QUIB_REGISTRY"); env && *env) return env;
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      if (passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    if (!home || !*home) return {};
    base = std::string(home) + "/.local/share";
  }
  return base + "/quibvoicerec/registry.db";
}

bool IsMemory(const std::string& path) { return path == ":memory:"; }

// Makes the directories above the file (mode 0700), as a per-user data
// directory should be.
void MakeParentDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string dir = path.substr(0, slash);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw Failure{ERROR_CANTOPEN};
  }
}

class Connection {
 public:
  explicit Connection(const std::string& path) {
    if (path.empty()) throw Failure{ERROR_CANTOPEN};
    if (!IsMemory(path)) MakeParentDirectories(path);
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      Close();
      throw FailureOf(rc, false);
    }
    try {
      sqlite3_busy_timeout(db_, kBusyTimeoutMs);
      Validate();
      if (!IsMemory(path)) {
        // Durable at commit: the log is synced before a change is reported done.
        Exec("PRAGMA journal_mode=WAL", false);
        Exec("PRAGMA synchronous=FULL", false);
        Exec("PRAGMA cache_size=-16384", false);
        Exec("PRAGMA wal_autocheckpoint=200", false);
      }
    } catch (...) {
      Close();
      throw;
    }
  }
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Statement Prepare(const char* sql, bool writing) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) {
      sqlite3_stmt* stmt = nullptr;
      int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
      if (rc != SQLITE_OK) throw FailureOf(rc, writing);
      it = cache_.emplace(sql, stmt).first;
    }
    return Statement(db_, it->second, writing);
  }

  void Exec(const char* sql, bool writing) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw FailureOf(rc, writing);
  }

  // Changes committed by other connections since this one opened.
  std::int64_t DataVersion() {
    Statement s = Prepare("PRAGMA data_version", false);
    return s.Step() ? s.Int(0) : 0;
  }

  // A write takes the write lock at once; a read takes its snapshot at once,
  // so that no statement of the body meets a lock of another connection.
  void Begin(bool writing) {
    Exec(writing ? "BEGIN IMMEDIATE" : "BEGIN", writing);
    if (!writing) {
      try {
        Statement s = Prepare("SELECT 1 FROM sqlite_master LIMIT 1", false);
        s.Step();
      } catch (...) {
        Rollback();
        throw;
      }
    }
  }
  void Commit(bool writing) {
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      Rollback();
      throw FailureOf(rc, writing);
    }
  }
  void Rollback() {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

 private:
  // Accepts a registry database of a known version and creates the schema in
  // an empty file; anything else is refused and left as it is.
  void Validate() {
    Begin(true);
    try {
      std::int64_t appId = Scalar("PRAGMA application_id");
      std::int64_t version = Scalar("PRAGMA user_version");
      std::int64_t objects = Scalar("SELECT count(*) FROM sqlite_master");
      if (appId == 0 && version == 0 && objects == 0) {
        CreateSchema();
      } else if (appId != kApplicationId || version != kSchemaVersion) {
        throw Failure{ERROR_BADDB};
      } else {
        Statement check = Prepare("PRAGMA quick_check", false);
        if (!check.Step() || check.Blob(0) != "ok") throw Failure{ERROR_BADDB};
        Statement roots = Prepare("SELECT count(*) FROM keys WHERE id <= 4 AND parent = 0", false);
        if (!roots.Step() || roots.Int(0) != kLastRootId) throw Failure{ERROR_BADDB};
      }
      Commit(true);
    } catch (...) {
      Rollback();
      throw;
    }
  }

  std::int64_t Scalar(const char* sql) {
    Statement s = Prepare(sql, false);
    return s.Step() ? s.Int(0) : 0;
  }

  void CreateSchema() {
    for (const char* sql : kSchema) Exec(sql, true);
    for (const RootKey& root : kRoots) {
      Name name = root.name;
      Prepare("INSERT INTO keys(id, parent, name, fold, depth) VALUES(?, 0, ?, ?, 0)", true)
          .Bind(1, root.id)
          .Bind(2, NameBytes(name))
          .Bind(3, FoldBytes(name))
          .Run();
    }
    Exec(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str(), true);
    Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(), true);
  }

  void Close() {
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    cache_.clear();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  sqlite3* db_ = nullptr;
  std::unordered_map<const char*, sqlite3_stmt*> cache_;
};

// ---------------------------------------------------------------------------
// Handles and enumeration cursors

// Where the last enumeration of a handle stopped, so that walking the indexes
// upwards costs one index seek per step. Valid only while nothing changed.
struct Cursor {
  bool valid = false;
  DWORD index = 0;
  std::string fold;
  std::uint64_t localWrites = 0;
  std::int64_t dataVersion = 0;
};

struct Handle {
  std::int64_t key = 0;
  Cursor subkeys;
  Cursor values;
};

class Registry {
 public:
  static Registry& Instance() {
    static Registry* registry = new Registry;  // outlives static destructors
    return *registry;
  }

  std::mutex lock;

  // Runs body against the connection, in a transaction; a write is committed
  // only when body returns ERROR_SUCCESS.
  template <class Body>
  LONG Run(bool writing, Body&& body) {
    try {
      Connection& c = ConnectAndBegin(writing);
      LONG code;
      try {
        code = body(c);
      } catch (...) {
        c.Rollback();
        throw;
      }
      if (code == ERROR_SUCCESS || !writing) {
        c.Commit(writing);
        if (writing && code == ERROR_SUCCESS) ++localWrites_;
      } else {
        c.Rollback();
      }
      return code;
    } catch (const Failure& f) {
      return f.code;
    } catch (const std::bad_alloc&) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  }

  Handle* Find(HKEY key) {
    for (std::size_t i = 0; i < std::size(kRoots); ++i)
      if (kRoots[i].handle == key) return &roots_[i];
    auto it = handles_.find(key);
    return it == handles_.end() ? nullptr : &it->second;
  }

  HKEY Add(std::int64_t id) {
    // Handle values count up and wrap below the root keys' values.
    for (;; ++next_) {
      if (next_ == 0 || next_ >= HKEY_CLASSES_ROOT) next_ = 1;
      if (!handles_.count(next_)) break;
    }
    HKEY h = next_++;
    handles_[h].key = id;
    return h;
  }

  bool Remove(HKEY key) { return handles_.erase(key) != 0; }

  bool CursorFits(Connection& c, const Cursor& cursor, DWORD index) {
    return cursor.valid && cursor.localWrites == localWrites_ && cursor.dataVersion == c.DataVersion() &&
           (index == cursor.index || index == cursor.index + 1);
  }
  void Remember(Connection& c, Cursor& cursor, DWORD index, std::string fold) {
    cursor.valid = true;
    cursor.index = index;
    cursor.fold = std::move(fold);
    cursor.localWrites = localWrites_;
    cursor.dataVersion = c.DataVersion();
  }

  void Use(std::optional<std::string> path) {
    connection_.reset();
    handles_.clear();
    for (Handle& r : roots_) r.subkeys = r.values = Cursor{};
    override_ = std::move(path);
  }

  std::string Path() const { return override_ ? *override_ : DefaultPath(); }

 private:
  Registry() {
    for (std::size_t i = 0; i < std::size(kRoots); ++i) roots_[i].key = kRoots[i].id;
  }

  // Opening the file and starting a transaction can meet another process's
  // locks that SQLite does not wait for (a journal-mode change, log
  // recovery). Both come before any change, so they are tried again for as
  // long as a busy lock is waited for.
  Connection& ConnectAndBegin(bool writing) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (int attempt = 0;; ++attempt) {
      try {
        Connection& c = Connect();
        c.Begin(writing);
        return c;
      } catch (const Failure& f) {
        if (!f.transient || std::chrono::steady_clock::now() >= deadline) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 5 ? 1 << attempt : 20));
      }
    }
  }

  Connection& Connect() {
    // A connection does not survive fork: the child opens its own.
    if (connection_ && owner_ != getpid()) {
      (void)connection_.release();  // the parent's; left alone, never closed here
    }
    if (!connection_) {
      connection_ = std::make_unique<Connection>(Path());
      owner_ = getpid();
    }
    return *connection_;
  }

  std::unique_ptr<Connection> connection_;
  pid_t owner_ = 0;
  std::optional<std::string> override_;
  std::unordered_map<HKEY, Handle> handles_;
  Handle roots_[std::size(kRoots)];
  HKEY next_ = 1;
  std::uint64_t localWrites_ = 0;
};

LONG Fail(LONG code) {
  if (code != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(code));
  return code;
}

struct KeyRow {
  std::int64_t id;
  std::int64_t depth;
};

// The key a handle names; a key deleted meanwhile is ERROR_KEY_DELETED.
KeyRow KeyOf(Connection& c, const Handle& h) {
  Statement s = c.Prepare("SELECT depth FROM keys WHERE id = ?", false);
  s.Bind(1, h.key);
  if (!s.Step()) throw Failure{ERROR_KEY_DELETED};
  return {h.key, s.Int(0)};
}

std::optional<KeyRow> Child(Connection& c, std::int64_t parent, const Name& name) {
  Statement s = c.Prepare("SELECT id, depth FROM keys WHERE parent = ? AND fold = ?", false);
  s.Bind(1, parent).Bind(2, FoldBytes(name));
  if (!s.Step()) return std::nullopt;
  return KeyRow{s.Int(0), s.Int(1)};
}

KeyRow Walk(Connection& c, KeyRow from, const std::vector<Name>& parts) {
  for (const Name& part : parts) {
    std::optional<KeyRow> next = Child(c, from.id, part);
    if (!next) throw Failure{ERROR_FILE_NOT_FOUND};
    from = *next;
  }
  return from;
}

Handle& HandleOf(Registry& r, HKEY key) {
  Handle* h = r.Find(key);
  if (!h) throw Failure{ERROR_INVALID_HANDLE};
  return *h;
}

bool HasChildren(Connection& c, std::int64_t id) {
  Statement s = c.Prepare("SELECT 1 FROM keys WHERE parent = ? LIMIT 1", false);
  s.Bind(1, id);
  return s.Step();
}

void CopyName(const Name& name, LPWSTR out) {
  name.copy(out, name.size());
  out[name.size()] = 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// The registry routines

LONG RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  if (!result) return Fail(ERROR_INVALID_PARAMETER);
  *result = 0;
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(false, [&](Connection& c) -> LONG {
    Handle& h = HandleOf(r, parent);
    std::vector<Name> parts = SplitPath(subKey);
    KeyRow key = Walk(c, KeyOf(c, h), parts);
    *result = r.Add(key.id);
    return ERROR_SUCCESS;
  }));
}

LONG RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD reserved, LPWSTR, DWORD, REGSAM, void*, HKEY* result,
                     DWORD* disposition) {
  if (!result || reserved != 0) return Fail(ERROR_INVALID_PARAMETER);
  *result = 0;
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  std::int64_t opened = 0;
  bool created = false;
  LONG code = r.Run(true, [&](Connection& c) -> LONG {
    Handle& h = HandleOf(r, parent);
    std::vector<Name> parts = SplitPath(subKey);
    KeyRow key = KeyOf(c, h);
    for (const Name& part : parts) {
      if (std::optional<KeyRow> next = Child(c, key.id, part)) {
        key = *next;
        created = false;
        continue;
      }
      if (key.depth + 1 > kMaxDepth) return ERROR_INVALID_PARAMETER;
      c.Prepare("INSERT INTO keys(parent, name, fold, depth) VALUES(?, ?, ?, ?)", true)
          .Bind(1, key.id)
          .Bind(2, NameBytes(part))
          .Bind(3, FoldBytes(part))
          .Bind(4, key.depth + 1)
          .Run();
      Statement id = c.Prepare("SELECT last_insert_rowid()", false);
      id.Step();
      key = {id.Int(0), key.depth + 1};
      created = true;
    }
    opened = key.id;
    return ERROR_SUCCESS;
  });
  if (code != ERROR_SUCCESS) return Fail(code);
  *result = r.Add(opened);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_USERS) return ERROR_SUCCESS;
  return r.Remove(key) ? ERROR_SUCCESS : Fail(ERROR_INVALID_HANDLE);
}

LONG RegDeleteKeyW(HKEY parent, LPCWSTR subKey) {
  if (!subKey) return Fail(ERROR_INVALID_PARAMETER);
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(true, [&](Connection& c) -> LONG {
    Handle& h = HandleOf(r, parent);
    std::vector<Name> parts = SplitPath(subKey);
    KeyRow key = Walk(c, KeyOf(c, h), parts);
    if (key.id <= kLastRootId || HasChildren(c, key.id)) return ERROR_ACCESS_DENIED;
    c.Prepare("DELETE FROM vals WHERE key = ?", true).Bind(1, key.id).Run();
    c.Prepare("DELETE FROM keys WHERE id = ?", true).Bind(1, key.id).Run();
    return ERROR_SUCCESS;
  }));
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  bool tooLong = false;
  Name valueName = Length(name, kMaxValueNameLength, tooLong);
  if (tooLong || reserved != 0 || (size > 0 && !data) || size > kMaxValueSize) return Fail(ERROR_INVALID_PARAMETER);
  if (type != REG_NONE && type != REG_SZ && type != REG_BINARY && type != REG_DWORD)
    return Fail(ERROR_INVALID_PARAMETER);
  if (type == REG_DWORD && size != sizeof(DWORD)) return Fail(ERROR_INVALID_PARAMETER);
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(true, [&](Connection& c) -> LONG {
    KeyRow row = KeyOf(c, HandleOf(r, key));
    c.Prepare(
         "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?)"
         " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
         true)
        .Bind(1, row.id)
        .Bind(2, NameBytes(valueName))
        .Bind(3, FoldBytes(valueName))
        .Bind(4, type)
        .BindBytes(5, data, size)
        .Run();
    return ERROR_SUCCESS;
  }));
}

namespace {

// Hands out value data by the platform's rules: with no buffer only the size;
// a buffer too small gets nothing and the size needed, with ERROR_MORE_DATA.
LONG GiveData(const std::string& stored, BYTE* data, DWORD* size) {
  auto needed = static_cast<DWORD>(stored.size());
  if (!size) return ERROR_SUCCESS;
  if (data) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    stored.copy(reinterpret_cast<char*>(data), stored.size());
  }
  *size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
  bool tooLong = false;
  Name valueName = Length(name, kMaxValueNameLength, tooLong);
  if (reserved || (data && !size)) return Fail(ERROR_INVALID_PARAMETER);
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(false, [&](Connection& c) -> LONG {
    KeyRow row = KeyOf(c, HandleOf(r, key));
    if (tooLong) return ERROR_FILE_NOT_FOUND;
    Statement s = c.Prepare("SELECT type, data FROM vals WHERE key = ? AND fold = ?", false);
    s.Bind(1, row.id).Bind(2, FoldBytes(valueName));
    if (!s.Step()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = static_cast<DWORD>(s.Int(0));
    return GiveData(s.Blob(1), data, size);
  }));
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  bool tooLong = false;
  Name valueName = Length(name, kMaxValueNameLength, tooLong);
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(true, [&](Connection& c) -> LONG {
    KeyRow row = KeyOf(c, HandleOf(r, key));
    if (tooLong) return ERROR_FILE_NOT_FOUND;
    Statement s = c.Prepare("DELETE FROM vals WHERE key = ? AND fold = ? RETURNING 1", true);
    s.Bind(1, row.id).Bind(2, FoldBytes(valueName));
    bool deleted = s.Step();
    s.Run();
    return deleted ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }));
}

namespace {

// Finds the entry at index in name order, from the handle's cursor when the
// index continues it, else by counting from the start.
template <class Read>
bool Seek(Registry& r, Connection& c, Cursor& cursor, std::int64_t owner, DWORD index, const char* fromCursor,
          const char* atCursor, const char* byOffset, Read&& read) {
  bool fits = r.CursorFits(c, cursor, index);
  Statement s = c.Prepare(!fits ? byOffset : index == cursor.index ? atCursor : fromCursor, false);
  s.Bind(1, owner);
  if (fits)
    s.Bind(2, cursor.fold);
  else
    s.Bind(2, static_cast<std::int64_t>(index));
  if (!s.Step()) {
    cursor.valid = false;
    return false;
  }
  r.Remember(c, cursor, index, s.Blob(1));
  read(s);
  return true;
}

}  // namespace

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved, LPWSTR keyClass,
                   DWORD* classLength, FILETIME* lastWrite) {
  if (!name || !nameLength || reserved) return Fail(ERROR_INVALID_PARAMETER);
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(false, [&](Connection& c) -> LONG {
    Handle& h = HandleOf(r, key);
    KeyRow row = KeyOf(c, h);
    Name found;
    bool any = Seek(r, c, h.subkeys, row.id, index,
                    "SELECT name, fold FROM keys WHERE parent = ? AND fold > ? ORDER BY fold LIMIT 1",
                    "SELECT name, fold FROM keys WHERE parent = ? AND fold >= ? ORDER BY fold LIMIT 1",
                    "SELECT name, fold FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?",
                    [&](Statement& s) { found = s.NameAt(0); });
    if (!any) return ERROR_NO_MORE_ITEMS;
    if (*nameLength <= found.size()) return ERROR_MORE_DATA;
    CopyName(found, name);
    *nameLength = static_cast<DWORD>(found.size());
    if (classLength) {
      if (keyClass && *classLength > 0) keyClass[0] = 0;
      *classLength = 0;
    }
    if (lastWrite) *lastWrite = FILETIME{0, 0};
    return ERROR_SUCCESS;
  }));
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved, DWORD* type, BYTE* data,
                   DWORD* dataSize) {
  if (!name || !nameLength || reserved || (data && !dataSize)) return Fail(ERROR_INVALID_PARAMETER);
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(false, [&](Connection& c) -> LONG {
    Handle& h = HandleOf(r, key);
    KeyRow row = KeyOf(c, h);
    Name found;
    DWORD foundType = 0;
    std::string stored;
    bool any = Seek(r, c, h.values, row.id, index,
                    "SELECT name, fold, type, data FROM vals WHERE key = ? AND fold > ? ORDER BY fold LIMIT 1",
                    "SELECT name, fold, type, data FROM vals WHERE key = ? AND fold >= ? ORDER BY fold LIMIT 1",
                    "SELECT name, fold, type, data FROM vals WHERE key = ? ORDER BY fold LIMIT 1 OFFSET ?",
                    [&](Statement& s) {
                      found = s.NameAt(0);
                      foundType = static_cast<DWORD>(s.Int(2));
                      stored = s.Blob(3);
                    });
    if (!any) return ERROR_NO_MORE_ITEMS;
    if (*nameLength <= found.size()) return ERROR_MORE_DATA;
    CopyName(found, name);
    *nameLength = static_cast<DWORD>(found.size());
    if (type) *type = foundType;
    return GiveData(stored, data, dataSize);
  }));
}

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, DWORD* classLength, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLength, DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength,
                      DWORD* maxValueLength, DWORD* securityDescriptor, FILETIME* lastWrite) {
  if (reserved) return Fail(ERROR_INVALID_PARAMETER);
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return Fail(r.Run(false, [&](Connection& c) -> LONG {
    KeyRow row = KeyOf(c, HandleOf(r, key));
    Statement k = c.Prepare("SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?", false);
    k.Bind(1, row.id);
    k.Step();
    Statement v = c.Prepare(
        "SELECT count(*), coalesce(max(length(name)), 0), coalesce(max(length(data)), 0) FROM vals WHERE key = ?",
        false);
    v.Bind(1, row.id);
    v.Step();
    if (classLength) {
      if (keyClass && *classLength > 0) keyClass[0] = 0;
      *classLength = 0;
    }
    if (subKeys) *subKeys = static_cast<DWORD>(k.Int(0));
    if (maxSubKeyLength) *maxSubKeyLength = static_cast<DWORD>(k.Int(1) / 2);
    if (maxClassLength) *maxClassLength = 0;
    if (values) *values = static_cast<DWORD>(v.Int(0));
    if (maxValueNameLength) *maxValueNameLength = static_cast<DWORD>(v.Int(1) / 2);
    if (maxValueLength) *maxValueLength = static_cast<DWORD>(v.Int(2));
    if (securityDescriptor) *securityDescriptor = 0;
    if (lastWrite) *lastWrite = FILETIME{0, 0};
    return ERROR_SUCCESS;
  }));
}

// ---------------------------------------------------------------------------
// Test hooks

namespace quibtest {

void UseRegistry(const std::string& path) {
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  r.Use(path);
}

void ResetRegistry() {
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  r.Use(std::nullopt);
}

std::string RegistryPath() {
  Registry& r = Registry::Instance();
  std::lock_guard<std::mutex> hold(r.lock);
  return r.Path();
}

}  // namespace quibtest
