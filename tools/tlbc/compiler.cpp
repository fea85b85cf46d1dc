// Parsing and emitting. The accepted language: library, importlib, interface
// (plain or dual), dispinterface and coclass; the attributes uuid, version,
// helpstring, dual, oleautomation, object, pointer_default, default, source,
// id, propget, propput, in, out, retval; the types long, int, short, BSTR,
// VARIANT_BOOL, double, float, VARIANT, HRESULT, void, IDispatch*, IUnknown*
// and pointers to them. IUnknown and IDispatch come from importlib("stdole2.tlb").
#include "compiler.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "lexer.h"
#include "quiboleaut/typelib_format.h"

namespace tlbc {
namespace {

using namespace tlbformat;

// Values of the runtime's type descriptions.
enum : std::uint16_t {
  kVtI2 = 2, kVtI4 = 3, kVtR4 = 4, kVtR8 = 5, kVtBstr = 8, kVtDispatch = 9, kVtBool = 11, kVtVariant = 12,
  kVtUnknown = 13, kVtInt = 22, kVtVoid = 24, kVtHresult = 25,
};
enum : std::uint16_t { kKindInterface = 3, kKindDispatch = 4, kKindCoclass = 5 };
enum : std::uint16_t { kInvokeFunc = 1, kInvokeGet = 2, kInvokePut = 4 };
enum : std::uint16_t { kFuncPureVirtual = 1, kFuncDispatch = 4, kStdCall = 4 };
enum : std::uint16_t { kParamIn = 1, kParamOut = 2, kParamRetval = 8 };
enum : std::uint16_t { kFlagCanCreate = 0x2, kFlagDual = 0x40, kFlagOleAutomation = 0x100, kFlagDispatchable = 0x1000 };
enum : std::uint16_t { kImplDefault = 1, kImplSource = 2 };

struct Guid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0, Data3 = 0;
  std::uint8_t Data4[8] = {};
};
constexpr Guid kStdoleLibid = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Guid kIidUnknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Guid kIidDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct Failure {
  std::string message;
  Location at;
};

struct Attr {
  std::string name;
  std::vector<Token> args;
  Location at;
};

struct Common {  // what libraries, interfaces and coclasses share
  std::string name;
  Location at;
  std::optional<Guid> guid;
  std::optional<std::string> help;
  std::uint16_t major = 0, minor = 0;
};

struct Param {
  std::string name;
  std::uint16_t vt = 0, depth = 0, flags = 0;
  Location at;
};

struct Method {
  std::string name;
  Location at;
  std::optional<std::int32_t> id;
  std::uint16_t invokeKind = kInvokeFunc;
  std::optional<std::string> help;
  std::uint16_t returnVt = kVtHresult;
  std::vector<Param> params;
};

struct Interface : Common {
  bool dispinterface = false, dual = false, oleautomation = false;
  std::string base;
  Location baseAt;
  std::vector<Method> methods;
};

struct CoclassRef {
  std::string name;
  bool dispinterface = false;
  std::uint16_t flags = 0;
  Location at;
};

struct Coclass : Common {
  std::vector<CoclassRef> impls;
};

struct LibraryDecl : Common {
  std::vector<std::pair<std::string, Location>> imports;
  std::vector<std::pair<std::string, Location>> members;  // types named inside, in order
  bool present = false;
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

bool ParseHex(const std::string& s, std::size_t from, std::size_t n, std::uint64_t& out) {
  out = 0;
  for (std::size_t i = from; i < from + n; ++i) {
    char c = s[i];
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    out = out * 16 + static_cast<unsigned>(d);
  }
  return true;
}

std::optional<Guid> ParseGuid(const std::string& s) {
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return std::nullopt;
  Guid g;
  std::uint64_t v;
  if (!ParseHex(s, 0, 8, v)) return std::nullopt;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!ParseHex(s, 9, 4, v)) return std::nullopt;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!ParseHex(s, 14, 4, v)) return std::nullopt;
  g.Data3 = static_cast<std::uint16_t>(v);
  for (int i = 0; i < 2; ++i) {
    if (!ParseHex(s, 19 + 2 * i, 2, v)) return std::nullopt;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  for (int i = 0; i < 6; ++i) {
    if (!ParseHex(s, 24 + 2 * i, 2, v)) return std::nullopt;
    g.Data4[2 + i] = static_cast<std::uint8_t>(v);
  }
  return g;
}

bool SameGuid(const Guid& a, const Guid& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  void File() {
    while (Peek().kind != Token::End) {
      if (IsPunct(";")) {
        Next();
        continue;
      }
      std::vector<Attr> attrs = Attributes();
      const Token& k = Peek();
      if (IsWord("library")) {
        Library(attrs);
      } else if (IsWord("interface")) {
        InterfaceDecl(attrs, false, nullptr);
      } else if (IsWord("dispinterface")) {
        InterfaceDecl(attrs, true, nullptr);
      } else if (IsWord("coclass")) {
        CoclassDecl(attrs, nullptr);
      } else {
        Fail("expected 'library', 'interface', 'dispinterface' or 'coclass'", k.at);
      }
    }
  }

  LibraryDecl library;
  std::map<std::string, Interface> interfaces;
  std::map<std::string, Coclass> coclasses;

 private:
  [[noreturn]] static void Fail(const std::string& message, Location at) { throw Failure{message, at}; }

  const Token& Peek() const { return t_[pos_]; }
  const Token& Next() {
    const Token& t = t_[pos_];
    if (t.kind != Token::End) ++pos_;
    return t;
  }
  bool IsPunct(const char* p) const { return Peek().kind == Token::Punct && Peek().text == p; }
  bool IsWord(const char* w) const { return Peek().kind == Token::Identifier && Peek().text == w; }
  static std::string Describe(const Token& t) {
    switch (t.kind) {
      case Token::End: return "end of file";
      case Token::String: return "string \"" + t.text + "\"";
      default: return "'" + t.text + "'";
    }
  }
  void Expect(const char* p) {
    if (!IsPunct(p)) Fail(std::string("expected '") + p + "' but found " + Describe(Peek()), Peek().at);
    Next();
  }
  const Token& Identifier(const char* what) {
    if (Peek().kind != Token::Identifier) Fail(std::string("expected ") + what + " but found " + Describe(Peek()), Peek().at);
    return Next();
  }
  void OptionalSemicolon() {
    if (IsPunct(";")) Next();
  }

  std::vector<Attr> Attributes() {
    std::vector<Attr> attrs;
    if (!IsPunct("[")) return attrs;
    Next();
    while (true) {
      const Token& name = Identifier("an attribute");
      Attr a{name.text, {}, name.at};
      if (IsPunct("(")) {
        Next();
        while (!IsPunct(")")) {
          if (Peek().kind == Token::End) Fail("unterminated attribute arguments", a.at);
          a.args.push_back(Next());
          if (IsPunct(",")) Next();
        }
        Next();
      }
      attrs.push_back(std::move(a));
      if (IsPunct(",")) {
        Next();
        continue;
      }
      Expect("]");
      return attrs;
    }
  }

  static const Token& OneArg(const Attr& a, Token::Kind kind, const char* what) {
    if (a.args.size() != 1 || (a.args[0].kind != kind && !(kind == Token::Number && a.args[0].kind == Token::String)))
      Fail("attribute '" + a.name + "' takes " + what, a.at);
    return a.args[0];
  }
  static void NoArgs(const Attr& a) {
    if (!a.args.empty()) Fail("attribute '" + a.name + "' takes no arguments", a.at);
  }

  // Applies the attributes every declaration may carry; returns false for others.
  static bool CommonAttr(const Attr& a, Common& c) {
    if (a.name == "uuid") {
      const Token& t = OneArg(a, Token::Number, "a GUID");
      auto g = ParseGuid(t.text);
      if (!g) Fail("malformed GUID '" + t.text + "'", t.at);
      c.guid = g;
    } else if (a.name == "helpstring") {
      c.help = OneArg(a, Token::String, "a string").text;
    } else if (a.name == "version") {
      const Token& t = OneArg(a, Token::Number, "a version");
      std::size_t dot = t.text.find('.');
      std::string major = t.text.substr(0, dot), minor = dot == std::string::npos ? "0" : t.text.substr(dot + 1);
      auto number = [&](const std::string& s) {
        if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(s) > 0xFFFF)
          Fail("malformed version '" + t.text + "'", t.at);
        return static_cast<std::uint16_t>(std::stoul(s));
      };
      c.major = number(major);
      c.minor = number(minor);
    } else {
      return false;
    }
    return true;
  }

  static void NotApplicable(const Attr& a, const char* where) {
    Fail("attribute '" + a.name + "' does not apply to " + where, a.at);
  }

  void Library(const std::vector<Attr>& attrs) {
    Location at = Next().at;
    if (library.present) Fail("a second library", at);
    library.present = true;
    for (const Attr& a : attrs)
      if (!CommonAttr(a, library)) NotApplicable(a, "a library");
    const Token& name = Identifier("the library's name");
    library.name = name.text;
    library.at = name.at;
    if (!library.guid) Fail("library '" + library.name + "' needs a uuid", name.at);
    Expect("{");
    while (!IsPunct("}")) {
      if (Peek().kind == Token::End) Fail("unterminated library", at);
      if (IsPunct(";")) {
        Next();
        continue;
      }
      if (IsWord("importlib")) {
        Next();
        Expect("(");
        if (Peek().kind != Token::String) Fail("importlib takes a file name in quotes", Peek().at);
        const Token& file = Next();
        library.imports.push_back({file.text, file.at});
        Expect(")");
        Expect(";");
        continue;
      }
      std::vector<Attr> inner = Attributes();
      std::string member;
      Location memberAt = Peek().at;
      if (IsWord("interface")) {
        member = InterfaceDecl(inner, false, &memberAt);
      } else if (IsWord("dispinterface")) {
        member = InterfaceDecl(inner, true, &memberAt);
      } else if (IsWord("coclass")) {
        member = CoclassDecl(inner, &memberAt);
      } else {
        Fail("expected 'importlib', 'interface', 'dispinterface' or 'coclass' but found " + Describe(Peek()), Peek().at);
      }
      library.members.push_back({member, memberAt});
    }
    Next();
    OptionalSemicolon();
  }

  // Returns the declared (or referenced) name.
  std::string InterfaceDecl(const std::vector<Attr>& attrs, bool dispinterface, Location* nameAt) {
    Next();
    const Token& name = Identifier("the interface's name");
    if (nameAt) *nameAt = name.at;
    if (IsPunct(";")) {  // a reference to an interface declared elsewhere
      if (!attrs.empty()) Fail("attributes on a reference to '" + name.text + "'", attrs[0].at);
      Next();
      return name.text;
    }
    if (interfaces.count(name.text) || coclasses.count(name.text)) Fail("'" + name.text + "' is declared twice", name.at);
    Interface i;
    i.name = name.text;
    i.at = name.at;
    i.dispinterface = dispinterface;
    for (const Attr& a : attrs) {
      if (CommonAttr(a, i)) continue;
      if (dispinterface) NotApplicable(a, "a dispinterface");
      if (a.name == "dual") NoArgs(a), i.dual = true;
      else if (a.name == "oleautomation") NoArgs(a), i.oleautomation = true;
      else if (a.name == "object") NoArgs(a);
      else if (a.name == "pointer_default") OneArg(a, Token::Identifier, "a pointer kind");
      else NotApplicable(a, "an interface");
    }
    if (!i.guid) Fail("'" + i.name + "' needs a uuid", name.at);
    if (dispinterface) {
      i.base = "IDispatch";
      i.baseAt = name.at;
      Expect("{");
      if (IsWord("properties")) {
        Next();
        Expect(":");
        if (!IsWord("methods")) Fail("dispinterface properties are not supported", Peek().at);
      }
      if (!IsWord("methods")) Fail("expected 'methods:' but found " + Describe(Peek()), Peek().at);
      Next();
      Expect(":");
    } else {
      if (!IsPunct(":")) Fail("interface '" + i.name + "' needs a base interface", Peek().at);
      Next();
      const Token& base = Identifier("the base interface");
      i.base = base.text;
      i.baseAt = base.at;
      Expect("{");
    }
    while (!IsPunct("}")) {
      if (Peek().kind == Token::End) Fail("unterminated interface '" + i.name + "'", i.at);
      i.methods.push_back(MethodDecl());
    }
    Next();
    OptionalSemicolon();
    interfaces.emplace(i.name, std::move(i));
    return name.text;
  }

  // A type: a base name and pointer levels.
  void Type(std::uint16_t& vt, std::uint16_t& depth, Location& at, bool isReturn) {
    if (IsWord("const")) Next();
    const Token& t = Identifier("a type");
    at = t.at;
    static const std::map<std::string, std::uint16_t> kTypes = {
        {"long", kVtI4}, {"int", kVtInt}, {"short", kVtI2}, {"BSTR", kVtBstr}, {"VARIANT_BOOL", kVtBool},
        {"double", kVtR8}, {"float", kVtR4}, {"VARIANT", kVtVariant}, {"IDispatch", kVtDispatch},
        {"IUnknown", kVtUnknown}, {"HRESULT", kVtHresult}, {"void", kVtVoid}};
    auto found = kTypes.find(t.text);
    if (found == kTypes.end()) Fail("unknown type '" + t.text + "'", t.at);
    vt = found->second;
    depth = 0;
    while (IsPunct("*")) Next(), ++depth;
    bool isObject = vt == kVtDispatch || vt == kVtUnknown;
    if (isObject) {
      if (depth == 0) Fail("'" + t.text + "' is passed as a pointer", t.at);
      --depth;
    }
    if (depth > kMaxPointerDepth) Fail("too many pointer levels", t.at);
    if (isReturn) {
      if (depth != 0 || (vt != kVtHresult && vt != kVtVoid)) Fail("members return HRESULT", t.at);
    } else if (vt == kVtHresult || (vt == kVtVoid && depth == 0)) {
      Fail("a parameter cannot be of type '" + t.text + "'", t.at);
    }
  }

  Method MethodDecl() {
    std::vector<Attr> attrs = Attributes();
    Method m;
    Location typeAt;
    std::uint16_t depth;
    Type(m.returnVt, depth, typeAt, true);
    const Token& name = Identifier("the member's name");
    m.name = name.text;
    m.at = name.at;
    for (const Attr& a : attrs) {
      if (a.name == "id") {
        const Token& t = OneArg(a, Token::Number, "a number");
        try {
          std::size_t used = 0;
          long long v = std::stoll(t.text, &used, 0);
          if (used != t.text.size() || v < INT32_MIN || v > UINT32_MAX) throw 0;
          m.id = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        } catch (...) {
          Fail("malformed id '" + t.text + "'", t.at);
        }
      } else if (a.name == "propget" || a.name == "propput") {
        NoArgs(a);
        if (m.invokeKind != kInvokeFunc) Fail("a member is either propget or propput", a.at);
        m.invokeKind = a.name == "propget" ? kInvokeGet : kInvokePut;
      } else if (a.name == "helpstring") {
        m.help = OneArg(a, Token::String, "a string").text;
      } else {
        NotApplicable(a, "a member");
      }
    }
    Expect("(");
    if (IsWord("void") && t_[pos_ + 1].kind == Token::Punct && t_[pos_ + 1].text == ")") Next();
    while (!IsPunct(")")) {
      Param p;
      for (const Attr& a : Attributes()) {
        NoArgs(a);
        if (a.name == "in") p.flags |= kParamIn;
        else if (a.name == "out") p.flags |= kParamOut;
        else if (a.name == "retval") p.flags |= kParamRetval;
        else NotApplicable(a, "a parameter");
      }
      Location typeAt2;
      Type(p.vt, p.depth, typeAt2, false);
      const Token& pname = Identifier("the parameter's name");
      p.name = pname.text;
      p.at = pname.at;
      if ((p.flags & kParamOut) && p.depth == 0) Fail("out parameter '" + p.name + "' must be a pointer", p.at);
      if ((p.flags & kParamRetval) && !(p.flags & kParamOut)) Fail("retval parameter '" + p.name + "' must be out", p.at);
      for (const Param& q : m.params)
        if (Lower(q.name) == Lower(p.name)) Fail("parameter '" + p.name + "' is declared twice", p.at);
      m.params.push_back(p);
      if (m.params.size() > kMaxParams) Fail("too many parameters", p.at);
      if (!IsPunct(")")) Expect(",");
    }
    Next();
    Expect(";");
    for (std::size_t k = 0; k + 1 < m.params.size(); ++k)
      if (m.params[k].flags & kParamRetval) Fail("retval must be the last parameter", m.params[k].at);
    bool retval = !m.params.empty() && (m.params.back().flags & kParamRetval);
    if (m.invokeKind == kInvokeGet && !retval && (m.params.empty() || !(m.params.back().flags & kParamOut)))
      Fail("propget '" + m.name + "' needs an out parameter last", m.at);
    if (m.invokeKind == kInvokePut && (m.params.empty() || retval))
      Fail("propput '" + m.name + "' takes the new value as its last parameter", m.at);
    return m;
  }

  std::string CoclassDecl(const std::vector<Attr>& attrs, Location* nameAt) {
    Next();
    const Token& name = Identifier("the coclass's name");
    if (nameAt) *nameAt = name.at;
    if (interfaces.count(name.text) || coclasses.count(name.text)) Fail("'" + name.text + "' is declared twice", name.at);
    Coclass c;
    c.name = name.text;
    c.at = name.at;
    for (const Attr& a : attrs)
      if (!CommonAttr(a, c)) NotApplicable(a, "a coclass");
    if (!c.guid) Fail("coclass '" + c.name + "' needs a uuid", name.at);
    Expect("{");
    while (!IsPunct("}")) {
      if (Peek().kind == Token::End) Fail("unterminated coclass '" + c.name + "'", c.at);
      CoclassRef r;
      for (const Attr& a : Attributes()) {
        NoArgs(a);
        if (a.name == "default") r.flags |= kImplDefault;
        else if (a.name == "source") r.flags |= kImplSource;
        else NotApplicable(a, "a coclass member");
      }
      if (IsWord("interface")) r.dispinterface = false;
      else if (IsWord("dispinterface")) r.dispinterface = true;
      else Fail("expected 'interface' or 'dispinterface' but found " + Describe(Peek()), Peek().at);
      Next();
      const Token& ref = Identifier("an interface name");
      r.name = ref.text;
      r.at = ref.at;
      Expect(";");
      c.impls.push_back(r);
    }
    Next();
    OptionalSemicolon();
    coclasses.emplace(c.name, std::move(c));
    return name.text;
  }

  std::vector<Token> t_;
  std::size_t pos_ = 0;
};

// Builds the compiled library from the parsed declarations.
class Emitter {
 public:
  Emitter(const Parser& p) : p_(p) {}

  std::vector<unsigned char> Run() {
    const LibraryDecl& lib = p_.library;
    if (!lib.present) Fail("no library is declared", Location{});
    for (const auto& [file, at] : lib.imports) {
      std::string base = Lower(file.substr(file.find_last_of("/\\") + 1));
      if (base != "stdole2.tlb") Fail("cannot import '" + file + "': only stdole2.tlb is known", at);
      if (stdoleImport_ != kNone) Fail("stdole2.tlb is imported twice", at);
      stdoleImport_ = 0;
      imports_.push_back({kStdoleLibid, 2, 0, String(file)});
    }
    libName_ = Name(lib.name);
    libHelp_ = String(lib.help);
    for (const auto& [name, at] : lib.members) Add(name, at);
    return Write();
  }

 private:
  [[noreturn]] static void Fail(const std::string& message, Location at) { throw Failure{message, at}; }

  struct Import { Guid guid; std::uint16_t major, minor; std::uint32_t file; };
  struct External { std::uint32_t import; Guid guid; };
  struct OutParam { std::uint32_t name; std::uint16_t flags, vt, depth; };
  struct OutFunc {
    std::int32_t id;
    std::uint32_t name, help;
    std::uint16_t invokeKind, funcKind, slot, returnVt;
    std::uint32_t firstParam, paramCount;
  };
  struct OutImpl { std::uint32_t ref; std::uint16_t flags; };
  struct OutType {
    std::uint32_t name, help;
    Guid guid;
    std::uint16_t kind, flags, major, minor;
    std::uint32_t firstFunc = 0, funcCount = 0, firstImpl = 0, implCount = 0, base = kNone, slots = 0;
  };

  std::uint32_t Name(const std::string& name) {
    std::string key = Lower(name);
    auto found = nameIndex_.find(key);
    if (found != nameIndex_.end()) return found->second;
    auto index = static_cast<std::uint32_t>(names_.size());
    names_.push_back(name);  // the first spelling met is kept
    nameIndex_.emplace(key, index);
    return index;
  }
  std::uint32_t String(const std::optional<std::string>& s) {
    if (!s) return kNone;
    auto found = stringIndex_.find(*s);
    if (found != stringIndex_.end()) return found->second;
    auto index = static_cast<std::uint32_t>(strings_.size());
    strings_.push_back(*s);
    stringIndex_.emplace(*s, index);
    return index;
  }

  // A reference to a type of stdole2 or of this library (added if needed).
  std::uint32_t Ref(const std::string& name, Location at) {
    if (name == "IUnknown" || name == "IDispatch") {
      if (stdoleImport_ == kNone) Fail("'" + name + "' needs importlib(\"stdole2.tlb\")", at);
      const Guid& g = name == "IUnknown" ? kIidUnknown : kIidDispatch;
      for (std::uint32_t i = 0; i < externals_.size(); ++i)
        if (SameGuid(externals_[i].guid, g)) return kExternalRef | i;
      externals_.push_back({stdoleImport_, g});
      return kExternalRef | static_cast<std::uint32_t>(externals_.size() - 1);
    }
    return Add(name, at);
  }

  // Slots of an interface's operation table, inherited ones included.
  std::uint32_t Slots(const std::string& name, Location at, int depth = 0) {
    if (name == "IUnknown") return 3;
    if (name == "IDispatch") return 7;
    auto found = p_.interfaces.find(name);
    if (found == p_.interfaces.end()) Fail("unknown interface '" + name + "'", at);
    if (depth > 64) Fail("interface '" + name + "' derives from itself", at);
    const Interface& i = found->second;
    return Slots(i.base, i.baseAt, depth + 1) + static_cast<std::uint32_t>(i.methods.size());
  }

  bool DerivesFromDispatch(const std::string& name) {
    if (name == "IDispatch") return true;
    auto found = p_.interfaces.find(name);
    return found != p_.interfaces.end() && DerivesFromDispatch(found->second.base);
  }

  std::uint32_t Add(const std::string& name, Location at) {
    auto placed = typeIndex_.find(name);
    if (placed != typeIndex_.end()) {
      if (placed->second == kNone) Fail("'" + name + "' refers to itself", at);
      return placed->second;
    }
    if (p_.coclasses.count(name)) return AddCoclass(p_.coclasses.at(name));
    auto found = p_.interfaces.find(name);
    if (found == p_.interfaces.end()) Fail("unknown type '" + name + "'", at);
    return AddInterface(found->second);
  }

  std::uint32_t AddInterface(const Interface& i) {
    auto index = static_cast<std::uint32_t>(types_.size());
    typeIndex_[i.name] = index;
    types_.push_back({});
    OutType t{};
    t.name = Name(i.name);
    t.help = String(i.help);
    t.guid = *i.guid;
    t.major = i.major;
    t.minor = i.minor;
    std::uint32_t inherited = Slots(i.base, i.baseAt);
    t.slots = i.dispinterface ? 7 : inherited + static_cast<std::uint32_t>(i.methods.size());
    if (i.dispinterface) {
      t.kind = kKindDispatch;
      t.flags = kFlagDispatchable;
    } else if (i.dual) {
      if (!DerivesFromDispatch(i.base)) Fail("dual interface '" + i.name + "' must derive from IDispatch", i.at);
      t.kind = kKindDispatch;
      t.flags = kFlagDual | kFlagOleAutomation | kFlagDispatchable;
    } else {
      t.kind = kKindInterface;
      t.flags = (i.oleautomation ? kFlagOleAutomation : 0) | (DerivesFromDispatch(i.base) ? kFlagDispatchable : 0);
    }
    t.firstFunc = static_cast<std::uint32_t>(funcs_.size());
    t.funcCount = static_cast<std::uint32_t>(i.methods.size());
    // Members: ids unique except a property's get/put pair, names likewise.
    for (std::size_t k = 0; k < i.methods.size(); ++k) {
      const Method& m = i.methods[k];
      bool needsId = i.dispinterface || i.dual;
      if (needsId && !m.id) Fail("member '" + m.name + "' needs an id", m.at);
      if (!i.dispinterface && m.returnVt != kVtHresult) Fail("member '" + m.name + "' must return HRESULT", m.at);
      for (std::size_t j = 0; j < k; ++j) {
        const Method& o = i.methods[j];
        bool pair = m.invokeKind != o.invokeKind && m.invokeKind != kInvokeFunc && o.invokeKind != kInvokeFunc;
        if (m.id && o.id && *m.id == *o.id && !(pair && Lower(m.name) == Lower(o.name)))
          Fail("id " + std::to_string(*m.id) + " is used twice", m.at);
        if (Lower(m.name) == Lower(o.name) && !pair) Fail("member '" + m.name + "' is declared twice", m.at);
      }
      OutFunc f{};
      f.id = m.id ? *m.id : static_cast<std::int32_t>(0x60000000 + k);
      f.name = Name(m.name);
      f.help = String(m.help);
      f.invokeKind = m.invokeKind;
      f.funcKind = i.dispinterface ? kFuncDispatch : kFuncPureVirtual;
      f.slot = static_cast<std::uint16_t>(i.dispinterface ? 0 : inherited + k);
      f.returnVt = m.returnVt;
      f.firstParam = static_cast<std::uint32_t>(params_.size());
      f.paramCount = static_cast<std::uint32_t>(m.params.size());
      for (const Param& p : m.params) params_.push_back({Name(p.name), p.flags, p.vt, p.depth});
      funcs_.push_back(f);
    }
    t.base = Ref(i.base, i.baseAt);
    types_[index] = t;
    return index;
  }

  std::uint32_t AddCoclass(const Coclass& c) {
    auto index = static_cast<std::uint32_t>(types_.size());
    typeIndex_[c.name] = index;
    types_.push_back({});
    OutType t{};
    t.name = Name(c.name);
    t.help = String(c.help);
    t.guid = *c.guid;
    t.kind = kKindCoclass;
    t.flags = kFlagCanCreate;
    t.major = c.major;
    t.minor = c.minor;
    std::vector<OutImpl> impls;
    for (const CoclassRef& r : c.impls) {
      auto found = p_.interfaces.find(r.name);
      bool builtin = r.name == "IUnknown" || r.name == "IDispatch";
      if (!builtin && found == p_.interfaces.end()) Fail("unknown interface '" + r.name + "'", r.at);
      if (!builtin && found->second.dispinterface != r.dispinterface)
        Fail("'" + r.name + "' is " + (r.dispinterface ? "not a dispinterface" : "a dispinterface"), r.at);
      for (const CoclassRef& o : c.impls) {
        if (&o == &r) break;
        if (o.name == r.name) Fail("'" + r.name + "' is listed twice", r.at);
      }
      impls.push_back({Ref(r.name, r.at), r.flags});
    }
    t.firstImpl = static_cast<std::uint32_t>(impls_.size());
    t.implCount = static_cast<std::uint32_t>(impls.size());
    impls_.insert(impls_.end(), impls.begin(), impls.end());
    types_[index] = t;
    return index;
  }

  std::vector<unsigned char> Write() {
    std::u16string text;
    auto place = [&](const std::string& s) {
      auto offset = static_cast<std::uint32_t>(text.size() * 2);
      // The source is UTF-8; decode it into UTF-16.
      for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = c;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size() + (extra == 0 ? 1 : 0))
          Fail("text is not valid UTF-8", Location{});
        if (extra > 0) {
          cp = c & (0x3F >> extra);
          for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        i += static_cast<std::size_t>(extra) + 1;
        if (cp >= 0x10000) {
          cp -= 0x10000;
          text.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
          text.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
          text.push_back(static_cast<char16_t>(cp));
        }
      }
      return std::pair<std::uint32_t, std::uint32_t>{offset, static_cast<std::uint32_t>(text.size() * 2 - offset) / 2};
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> nameRecs, stringRecs;
    for (const auto& n : names_) nameRecs.push_back(place(n));
    for (const auto& s : strings_) stringRecs.push_back(place(s));

    std::uint32_t counts[kSectionCount] = {
        1, static_cast<std::uint32_t>(names_.size()), static_cast<std::uint32_t>(strings_.size()),
        static_cast<std::uint32_t>(text.size() * 2), static_cast<std::uint32_t>(imports_.size()),
        static_cast<std::uint32_t>(externals_.size()), static_cast<std::uint32_t>(types_.size()),
        static_cast<std::uint32_t>(funcs_.size()), static_cast<std::uint32_t>(params_.size()),
        static_cast<std::uint32_t>(impls_.size())};
    std::uint32_t offsets[kSectionCount];
    std::uint32_t at = kHeaderSize;
    for (std::uint32_t s = 0; s < kSectionCount; ++s) {
      offsets[s] = at;
      at += counts[s] * kRecordSize[s];
      at = (at + 3) & ~3u;
    }
    std::vector<unsigned char> out(at, 0);
    unsigned char* b = out.data();
    for (int i = 0; i < 4; ++i) b[i] = kMagic[i];
    Put16(b + header::kMajor, kVersionMajor);
    Put16(b + header::kMinor, kVersionMinor);
    Put32(b + header::kFileSize, at);
    Put32(b + header::kSections, kSectionCount);
    for (std::uint32_t s = 0; s < kSectionCount; ++s) {
      Put32(b + header::kDirectory + 8 * s, offsets[s]);
      Put32(b + header::kDirectory + 8 * s + 4, counts[s]);
    }
    auto rec = [&](Section s, std::size_t i) { return b + offsets[s] + i * kRecordSize[s]; };
    const LibraryDecl& lib = p_.library;
    unsigned char* l = rec(kLibrary, 0);
    PutGuid(l + library::kGuid, *lib.guid);
    Put16(l + library::kMajor, lib.major);
    Put16(l + library::kMinor, lib.minor);
    Put32(l + library::kLcid, 0);
    Put16(l + library::kSysKind, 1);  // 32-bit platform
    Put16(l + library::kFlags, 0);
    Put32(l + library::kName, libName_);
    Put32(l + library::kHelp, libHelp_);
    Put32(l + library::kHelpContext, 0);
    Put32(l + library::kHelpFile, kNone);
    for (std::size_t i = 0; i < nameRecs.size(); ++i) {
      Put32(rec(kNames, i) + text::kOffset, nameRecs[i].first);
      Put32(rec(kNames, i) + text::kLength, nameRecs[i].second);
    }
    for (std::size_t i = 0; i < stringRecs.size(); ++i) {
      Put32(rec(kStrings, i) + text::kOffset, stringRecs[i].first);
      Put32(rec(kStrings, i) + text::kLength, stringRecs[i].second);
    }
    for (std::size_t i = 0; i < text.size(); ++i) Put16(b + offsets[kText] + 2 * i, text[i]);
    for (std::size_t i = 0; i < imports_.size(); ++i) {
      unsigned char* r = rec(kImports, i);
      PutGuid(r + import::kGuid, imports_[i].guid);
      Put16(r + import::kMajor, imports_[i].major);
      Put16(r + import::kMinor, imports_[i].minor);
      Put32(r + import::kFile, imports_[i].file);
    }
    for (std::size_t i = 0; i < externals_.size(); ++i) {
      Put32(rec(kExternals, i) + external::kImport, externals_[i].import);
      PutGuid(rec(kExternals, i) + external::kGuid, externals_[i].guid);
    }
    for (std::size_t i = 0; i < types_.size(); ++i) {
      const OutType& t = types_[i];
      unsigned char* r = rec(kTypes, i);
      Put32(r + type::kName, t.name);
      Put32(r + type::kHelp, t.help);
      PutGuid(r + type::kGuid, t.guid);
      Put16(r + type::kKind, t.kind);
      Put16(r + type::kFlags, t.flags);
      Put16(r + type::kMajor, t.major);
      Put16(r + type::kMinor, t.minor);
      Put32(r + type::kHelpContext, 0);
      Put32(r + type::kFirstFunc, t.firstFunc);
      Put32(r + type::kFuncCount, t.funcCount);
      Put32(r + type::kFirstImpl, t.firstImpl);
      Put32(r + type::kImplCount, t.implCount);
      Put32(r + type::kBase, t.base);
      Put32(r + type::kSlots, t.slots);
    }
    for (std::size_t i = 0; i < funcs_.size(); ++i) {
      const OutFunc& f = funcs_[i];
      unsigned char* r = rec(kFunctions, i);
      Put32(r + function::kId, static_cast<std::uint32_t>(f.id));
      Put32(r + function::kName, f.name);
      Put32(r + function::kHelp, f.help);
      Put32(r + function::kHelpContext, 0);
      Put16(r + function::kInvokeKind, f.invokeKind);
      Put16(r + function::kFuncKind, f.funcKind);
      Put16(r + function::kCallConv, kStdCall);
      Put16(r + function::kFlags, 0);
      Put16(r + function::kSlot, f.slot);
      Put32(r + function::kFirstParam, f.firstParam);
      Put32(r + function::kParamCount, f.paramCount);
      Put16(r + function::kReturnVt, f.returnVt);
      Put16(r + function::kReturnDepth, 0);
    }
    for (std::size_t i = 0; i < params_.size(); ++i) {
      unsigned char* r = rec(kParams, i);
      Put32(r + param::kName, params_[i].name);
      Put16(r + param::kFlags, params_[i].flags);
      Put16(r + param::kVt, params_[i].vt);
      Put16(r + param::kDepth, params_[i].depth);
    }
    for (std::size_t i = 0; i < impls_.size(); ++i) {
      Put32(rec(kImpls, i) + impl::kRef, impls_[i].ref);
      Put16(rec(kImpls, i) + impl::kFlags, impls_[i].flags);
    }
    return out;
  }

  const Parser& p_;
  std::uint32_t stdoleImport_ = kNone, libName_ = 0, libHelp_ = kNone;
  std::vector<std::string> names_, strings_;
  std::map<std::string, std::uint32_t> nameIndex_, stringIndex_, typeIndex_;
  std::vector<Import> imports_;
  std::vector<External> externals_;
  std::vector<OutType> types_;
  std::vector<OutFunc> funcs_;
  std::vector<OutParam> params_;
  std::vector<OutImpl> impls_;
};

}  // namespace

bool Compile(const std::string& source, const std::string& fileName, std::vector<unsigned char>& out,
             std::string& error) {
  auto report = [&](const std::string& message, Location at) {
    error = fileName + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": error: " + message;
    return false;
  };
  std::vector<Token> tokens;
  std::string lexError;
  Location lexAt;
  if (!Tokenize(source, tokens, lexError, lexAt)) return report(lexError, lexAt);
  try {
    Parser parser(std::move(tokens));
    parser.File();
    out = Emitter(parser).Run();
  } catch (const Failure& f) {
    return report(f.message, f.at);
  }
  return true;
}

}  // namespace tlbc
