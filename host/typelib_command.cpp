// quibhost typelib: a type library (a .tlb file, or a library that carries one)
// printed as IDL text that the project's compiler reads again.
//
// Interfaces (and dual interfaces) are printed before the library block, the
// other types inside it in the library's order, as the library's own source
// lays them out; compiling the text again gives the same types in the same order.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "hresult_names.h"
#include "platform/activation.h"
#include "platform/automation.h"
#include "wide.h"

namespace quibhost {

namespace {

constexpr const char* kHelp =
    "usage: quibhost typelib FILE\n"
    "\n"
    "Prints the type library in FILE (a .tlb file, or a library that carries one as its\n"
    "\"TYPELIB\" resource) as IDL text that the project's type-library compiler accepts.\n";

std::string Guid(REFGUID guid) {
  WCHAR text[39];
  StringFromGUID2(guid, text, 39);
  std::string s = Narrow(text);
  return s.substr(1, s.size() - 2);  // IDL writes uuids without braces
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// Frees the BSTRs it was given.
std::string Take(BSTR text) {
  std::string s = text ? Narrow(text, SysStringLen(text)) : std::string();
  SysFreeString(text);
  return s;
}

struct Printer {
  std::string out;
  bool failed = false;
  std::string error;

  void Fail(const std::string& what, HRESULT hr) {
    if (!failed) error = what + ": " + DescribeHresult(hr);
    failed = true;
  }

  std::string NameOf(ITypeInfo* info) {
    BSTR name = nullptr;
    HRESULT hr = info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    if (FAILED(hr)) Fail("cannot read a type's name", hr);
    return Take(name);
  }

  std::string TypeName(ITypeInfo* info, const TYPEDESC& type) {
    switch (type.vt) {
      case VT_I2: return "short";
      case VT_I4: return "long";
      case VT_INT: return "int";
      case VT_UI4: return "unsigned long";
      case VT_R4: return "float";
      case VT_R8: return "double";
      case VT_BSTR: return "BSTR";
      case VT_BOOL: return "VARIANT_BOOL";
      case VT_VARIANT: return "VARIANT";
      case VT_DISPATCH: return "IDispatch*";
      case VT_UNKNOWN: return "IUnknown*";
      case VT_HRESULT: return "HRESULT";
      case VT_VOID: return "void";
      case VT_ERROR: return "SCODE";
      case VT_PTR: return type.lptdesc ? TypeName(info, *type.lptdesc) + "*" : "void*";
      case VT_USERDEFINED: {
        ITypeInfo* ref = nullptr;
        HRESULT hr = info->GetRefTypeInfo(type.hreftype, &ref);
        if (FAILED(hr)) {
          Fail("cannot follow a type reference", hr);
          return "?";
        }
        std::string name = NameOf(ref);
        ref->Release();
        return name;
      }
      default:
        Fail("a type the printer does not know (" + std::to_string(type.vt) + ")", E_FAIL);
        return "?";
    }
  }

  // uuid(...) and, when there is one, helpstring(...).
  static std::vector<std::string> UuidAndHelp(REFGUID guid, const std::string& helpString) {
    std::vector<std::string> attrs = {"uuid(" + Guid(guid) + ")"};
    if (!helpString.empty()) attrs.push_back("helpstring(\"" + Escape(helpString) + "\")");
    return attrs;
  }

  // "[a, b]\n" for a header whose attributes are given, one per line.
  void Attributes(const std::vector<std::string>& attrs, const std::string& indent) {
    out += indent + "[\n";
    for (std::size_t i = 0; i < attrs.size(); ++i) out += indent + "\t" + attrs[i] + (i + 1 < attrs.size() ? ",\n" : "\n");
    out += indent + "]\n";
  }

  void Function(ITypeInfo* info, UINT index, const std::string& indent) {
    FUNCDESC* f = nullptr;
    HRESULT hr = info->GetFuncDesc(index, &f);
    if (FAILED(hr)) return Fail("cannot read a function", hr);
    std::vector<BSTR> names(static_cast<std::size_t>(f->cParams) + 1, nullptr);
    UINT count = 0;
    info->GetNames(f->memid, names.data(), static_cast<UINT>(names.size()), &count);
    BSTR help = nullptr;
    info->GetDocumentation(f->memid, nullptr, &help, nullptr, nullptr);
    std::string helpString = Take(help);

    std::string attrs;
    if (f->invkind == INVOKE_PROPERTYGET) attrs += "propget, ";
    if (f->invkind == INVOKE_PROPERTYPUT) attrs += "propput, ";
    if (f->invkind == INVOKE_PROPERTYPUTREF) attrs += "propputref, ";
    attrs += "id(" + std::to_string(f->memid) + ")";
    if (!helpString.empty()) attrs += ", helpstring(\"" + Escape(helpString) + "\")";
    out += indent + "[" + attrs + "] " + TypeName(info, f->elemdescFunc.tdesc) + " " +
           (count > 0 ? Narrow(names[0], SysStringLen(names[0])) : "?") + "(";
    for (SHORT p = 0; p < f->cParams; ++p) {
      const ELEMDESC& e = f->lprgelemdescParam[p];
      USHORT flags = e.paramdesc.wParamFlags;
      std::vector<std::string> marks;
      if (flags & PARAMFLAG_FIN) marks.push_back("in");
      if (flags & PARAMFLAG_FOUT) marks.push_back("out");
      if (flags & PARAMFLAG_FRETVAL) marks.push_back("retval");
      if (p) out += ", ";
      if (!marks.empty()) {
        out += "[";
        for (std::size_t m = 0; m < marks.size(); ++m) out += (m ? ", " : "") + marks[m];
        out += "] ";
      }
      std::string type = TypeName(info, e.tdesc);
      UINT at = static_cast<UINT>(p) + 1;
      std::string name = at < count ? Narrow(names[at], SysStringLen(names[at])) : "arg" + std::to_string(p);
      if (!type.empty() && type.back() == '*') {
        type.pop_back();
        out += type + " *" + name;
      } else {
        out += type + " " + name;
      }
    }
    out += ");\n";
    for (BSTR n : names) SysFreeString(n);
    info->ReleaseFuncDesc(f);
  }

  // An interface, dual or not, in its own block before the library.
  void Interface(ITypeInfo* info, const TYPEATTR& attr) {
    std::vector<std::string> attrs = {"object", "uuid(" + Guid(attr.guid) + ")"};
    if (attr.wTypeFlags & TYPEFLAG_FDUAL) attrs.push_back("dual");
    if (attr.wTypeFlags & TYPEFLAG_FOLEAUTOMATION) attrs.push_back("oleautomation");
    BSTR help = nullptr;
    info->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr);
    std::string helpString = Take(help);
    if (!helpString.empty()) attrs.push_back("helpstring(\"" + Escape(helpString) + "\")");
    Attributes(attrs, "");
    std::string base = "IUnknown";
    HREFTYPE ref = 0;
    if (attr.cImplTypes > 0 && SUCCEEDED(info->GetRefTypeOfImplType(0, &ref))) {
      ITypeInfo* baseInfo = nullptr;
      if (SUCCEEDED(info->GetRefTypeInfo(ref, &baseInfo))) {
        base = NameOf(baseInfo);
        baseInfo->Release();
      }
    }
    out += "interface " + NameOf(info) + " : " + base + "\n{\n";
    for (UINT i = 0; i < attr.cFuncs; ++i) Function(info, i, "\t");
    out += "};\n\n";
  }

  void Dispinterface(ITypeInfo* info, const TYPEATTR& attr, const std::string& helpString) {
    Attributes(UuidAndHelp(attr.guid, helpString), "\t");
    out += "\tdispinterface " + NameOf(info) + "\n\t{\n\t\tproperties:\n\t\tmethods:\n";
    for (UINT i = 0; i < attr.cFuncs; ++i) Function(info, i, "\t\t");
    out += "\t};\n\n";
  }

  void Coclass(ITypeInfo* info, const TYPEATTR& attr, const std::string& helpString) {
    Attributes(UuidAndHelp(attr.guid, helpString), "\t");
    out += "\tcoclass " + NameOf(info) + "\n\t{\n";
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
      HREFTYPE ref = 0;
      INT flags = 0;
      ITypeInfo* impl = nullptr;
      HRESULT hr = info->GetRefTypeOfImplType(i, &ref);
      if (SUCCEEDED(hr)) hr = info->GetImplTypeFlags(i, &flags);
      if (SUCCEEDED(hr)) hr = info->GetRefTypeInfo(ref, &impl);
      if (FAILED(hr)) return Fail("cannot read a coclass's interfaces", hr);
      TYPEATTR* implAttr = nullptr;
      bool dispatchOnly = false;
      if (SUCCEEDED(impl->GetTypeAttr(&implAttr))) {
        dispatchOnly = implAttr->typekind == TKIND_DISPATCH && !(implAttr->wTypeFlags & TYPEFLAG_FDUAL);
        impl->ReleaseTypeAttr(implAttr);
      }
      std::vector<std::string> marks;
      if (flags & IMPLTYPEFLAG_FDEFAULT) marks.push_back("default");
      if (flags & IMPLTYPEFLAG_FSOURCE) marks.push_back("source");
      if (flags & IMPLTYPEFLAG_FRESTRICTED) marks.push_back("restricted");
      out += "\t\t";
      if (!marks.empty()) {
        out += "[";
        for (std::size_t m = 0; m < marks.size(); ++m) out += (m ? ", " : "") + marks[m];
        out += "] ";
      }
      out += std::string(dispatchOnly ? "dispinterface " : "interface ") + NameOf(impl) + ";\n";
      impl->Release();
    }
    out += "\t};\n\n";
  }

  void Library(ITypeLib* lib) {
    TLIBATTR* libAttr = nullptr;
    HRESULT hr = lib->GetLibAttr(&libAttr);
    if (FAILED(hr)) return Fail("cannot read the library's attributes", hr);
    BSTR name = nullptr, help = nullptr;
    lib->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    std::string libName = Take(name), libHelp = Take(help);

    std::string inside;
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count && !failed; ++i) {
      ITypeInfo* info = nullptr;
      hr = lib->GetTypeInfo(i, &info);
      if (FAILED(hr)) {
        Fail("cannot read type " + std::to_string(i), hr);
        break;
      }
      TYPEATTR* attr = nullptr;
      hr = info->GetTypeAttr(&attr);
      if (FAILED(hr)) {
        Fail("cannot read the attributes of type " + std::to_string(i), hr);
        info->Release();
        break;
      }
      BSTR typeHelp = nullptr;
      info->GetDocumentation(MEMBERID_NIL, nullptr, &typeHelp, nullptr, nullptr);
      std::string helpString = Take(typeHelp);
      bool isInterface =
          attr->typekind == TKIND_INTERFACE || (attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL));
      if (isInterface) {
        Interface(info, *attr);
      } else {
        std::string saved;
        saved.swap(out);
        if (attr->typekind == TKIND_DISPATCH)
          Dispinterface(info, *attr, helpString);
        else if (attr->typekind == TKIND_COCLASS)
          Coclass(info, *attr, helpString);
        else
          Fail("type " + std::to_string(i) + " is of a kind the printer does not know", E_FAIL);
        inside += out;
        out.swap(saved);
      }
      info->ReleaseTypeAttr(attr);
      info->Release();
    }
    std::vector<std::string> attrs = {"uuid(" + Guid(libAttr->guid) + ")",
                                      "version(" + std::to_string(libAttr->wMajorVerNum) + "." +
                                          std::to_string(libAttr->wMinorVerNum) + ")"};
    if (!libHelp.empty()) attrs.push_back("helpstring(\"" + Escape(libHelp) + "\")");
    lib->ReleaseTLibAttr(libAttr);
    Attributes(attrs, "");
    out += "library " + libName + "\n{\n\timportlib(\"stdole2.tlb\");\n\n" + inside + "};\n";
  }
};

}  // namespace

int TypelibCommand(const Args& args) {
  if (WantsHelp(args)) {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (args.size() != 1) {
    Fail("typelib: name one file (see quibhost typelib --help)");
    return kExitUsage;
  }
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLib(Wide(args[0]).c_str(), &lib);
  if (FAILED(hr)) {
    Fail("typelib: cannot load a type library from " + args[0] + ": " + DescribeHresult(hr));
    return kExitFailure;
  }
  Printer printer;
  printer.Library(lib);
  lib->Release();
  if (printer.failed) {
    Fail("typelib: " + args[0] + ": " + printer.error);
    return kExitFailure;
  }
  std::fputs(printer.out.c_str(), stdout);
  return kExitOk;
}

}  // namespace quibhost
