// Type-library objects: ITypeLib over a decoded library, and one ITypeInfo2
// per type description. Type infos share their library's reference count, so
// a library lives while any of its type infos is held.
//
// Descriptions (TYPEATTR, FUNCDESC, TLIBATTR) are built once at load and
// handed out as they are; giving them back frees nothing.
#include "typelib.h"

#include <cstring>

#include "quibtest/oleaut.h"

namespace oleaut {
namespace {

std::atomic<long> g_liveLibraries{0};

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool EqualNoCase(const std::u16string& a, const OLECHAR* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i)
    if (b[i] == 0 || Fold(a[i]) != Fold(b[i])) return false;
  return b[i] == 0;
}

HRESULT NewBstr(const std::u16string& text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// VARIANT passed by value, as libffi sees it.
ffi_type* g_variantElements[] = {&ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16, &ffi_type_uint16,
                                 &ffi_type_pointer, &ffi_type_pointer, nullptr};
ffi_type g_variantType = {0, 0, FFI_TYPE_STRUCT, g_variantElements};
static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*));

ffi_type* FfiTypeOf(VARTYPE vt, std::uint16_t depth) {
  if (depth > 0) return &ffi_type_pointer;
  switch (vt) {
    case VT_I1: return &ffi_type_sint8;
    case VT_UI1: return &ffi_type_uint8;
    case VT_I2: case VT_BOOL: return &ffi_type_sint16;
    case VT_UI2: return &ffi_type_uint16;
    case VT_I4: case VT_INT: case VT_ERROR: case VT_HRESULT: return &ffi_type_sint32;
    case VT_UI4: case VT_UINT: return &ffi_type_uint32;
    case VT_R4: return &ffi_type_float;
    case VT_R8: return &ffi_type_double;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return &ffi_type_pointer;
    case VT_VARIANT: return &g_variantType;
    case VT_VOID: return &ffi_type_void;
    default: return nullptr;
  }
}

class TypeLibImpl;

// One function, its descriptions and its prepared call interface.
struct FuncEntry {
  const RawFunc* raw = nullptr;
  FUNCDESC desc{};
  std::vector<ELEMDESC> elems;
  std::vector<TYPEDESC> chain;  // pointed-to types of the parameters and the return
  ffi_cif cif{};
  ffi_type* argTypes[tlbformat::kMaxParams + 1]{};
  bool callable = false;
  bool hasRetval = false;
  UINT callerArgs = 0;  // parameters the caller supplies: all but the return value
};

class TypeInfoImpl final : public ITypeInfo2 {
 public:
  TypeInfoImpl(TypeLibImpl* lib, UINT index, const RawType& raw);

  // IUnknown: the library's count.
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeAttr(TYPEATTR** out) override {
    if (!out) return E_INVALIDARG;
    *out = &attr_;
    return S_OK;
  }
  HRESULT GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = &funcs_[index].desc;
    return S_OK;
  }
  HRESULT GetVarDesc(UINT, VARDESC** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) override {
    if (!out) return E_INVALIDARG;
    if (index >= raw_.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = raw_.impls[index].ref;
    return S_OK;
  }
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override {
    if (!flags) return E_INVALIDARG;
    if (index >= raw_.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *flags = raw_.impls[index].flags;
    return S_OK;
  }
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT Invoke(void* instance, MEMBERID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;
  HRESULT GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override;
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD* ordinal) override {
    if (dll) *dll = nullptr;
    if (name) *name = nullptr;
    if (ordinal) *ordinal = 0;
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override;
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void** out) override {
    if (out) *out = nullptr;
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT CreateInstance(IUnknown*, REFIID, void** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    return raw_.kind == TKIND_COCLASS ? E_NOTIMPL : TYPE_E_WRONGTYPEKIND;
  }
  HRESULT GetMops(MEMBERID, BSTR* mops) override {
    if (!mops) return E_INVALIDARG;
    *mops = nullptr;
    return S_OK;
  }
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
  void ReleaseTypeAttr(TYPEATTR*) override {}
  void ReleaseFuncDesc(FUNCDESC*) override {}
  void ReleaseVarDesc(VARDESC*) override {}

  HRESULT GetTypeKind(TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    *kind = attr_.typekind;
    return S_OK;
  }
  HRESULT GetTypeFlags(ULONG* flags) override {
    if (!flags) return E_INVALIDARG;
    *flags = attr_.wTypeFlags;
    return S_OK;
  }
  HRESULT GetFuncIndexOfMemId(MEMBERID member, INVOKEKIND kind, UINT* index) override {
    if (!index) return E_INVALIDARG;
    for (UINT i = 0; i < funcs_.size(); ++i)
      if (funcs_[i].desc.memid == member && (funcs_[i].desc.invkind & kind)) return *index = i, S_OK;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetVarIndexOfMemId(MEMBERID, UINT* index) override {
    if (!index) return E_INVALIDARG;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  // The compiled format carries no custom data.
  HRESULT GetCustData(REFGUID, VARIANT* value) override { return NoData(value); }
  HRESULT GetFuncCustData(UINT, REFGUID, VARIANT* value) override { return NoData(value); }
  HRESULT GetParamCustData(UINT, UINT, REFGUID, VARIANT* value) override { return NoData(value); }
  HRESULT GetVarCustData(UINT, REFGUID, VARIANT* value) override { return NoData(value); }
  HRESULT GetImplTypeCustData(UINT, REFGUID, VARIANT* value) override { return NoData(value); }
  HRESULT GetDocumentation2(MEMBERID member, LCID, BSTR* helpString, DWORD* helpContext, BSTR* helpDll) override {
    if (helpDll) *helpDll = nullptr;
    return GetDocumentation(member, nullptr, helpString, helpContext, nullptr);
  }
  HRESULT GetAllCustData(CUSTDATA* data) override { return NoData(data); }
  HRESULT GetAllFuncCustData(UINT, CUSTDATA* data) override { return NoData(data); }
  HRESULT GetAllParamCustData(UINT, UINT, CUSTDATA* data) override { return NoData(data); }
  HRESULT GetAllVarCustData(UINT, CUSTDATA* data) override { return NoData(data); }
  HRESULT GetAllImplTypeCustData(UINT, CUSTDATA* data) override { return NoData(data); }

  const RawType& Raw() const { return raw_; }
  const GUID& Guid() const { return raw_.guid; }

 private:
  static HRESULT NoData(VARIANT* value) {
    if (!value) return E_INVALIDARG;
    VariantInit(value);
    return S_OK;
  }
  static HRESULT NoData(CUSTDATA* data) {
    if (!data) return E_INVALIDARG;
    data->cCustData = 0;
    data->prgCustData = nullptr;
    return S_OK;
  }
  void Prepare(FuncEntry& f, const RawFunc& raw);
  const FuncEntry* FindByName(const OLECHAR* name) const;

  TypeLibImpl* lib_;
  UINT index_;
  const RawType& raw_;
  TYPEATTR attr_{};
  std::vector<FuncEntry> funcs_;
};

class TypeLibImpl final : public ITypeLib {
 public:
  TypeLibImpl(RawLibrary&& raw, bool permanent) : raw_(std::move(raw)), permanent_(permanent) {
    attr_.guid = raw_.guid;
    attr_.lcid = raw_.lcid;
    attr_.syskind = static_cast<SYSKIND>(raw_.sysKind);
    attr_.wMajorVerNum = raw_.major;
    attr_.wMinorVerNum = raw_.minor;
    attr_.wLibFlags = raw_.flags;
    infos_.reserve(raw_.types.size());
    for (UINT i = 0; i < raw_.types.size(); ++i)
      infos_.push_back(std::make_unique<TypeInfoImpl>(this, i, raw_.types[i]));
    if (!permanent_) ++g_liveLibraries;
  }
  ~TypeLibImpl() {
    if (!permanent_) --g_liveLibraries;
  }

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ITypeLib) {
      AddRef();
      *out = static_cast<ITypeLib*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override {
    if (permanent_) return 1;
    return static_cast<ULONG>(++refs_);
  }
  ULONG Release() override {
    if (permanent_) return 1;
    long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  UINT GetTypeInfoCount() override { return static_cast<UINT>(infos_.size()); }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = infos_[index].get();
    AddRef();
    return S_OK;
  }
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = static_cast<TYPEKIND>(raw_.types[index].kind);
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    for (auto& info : infos_)
      if (info->Guid() == guid) {
        *out = info.get();
        AddRef();
        return S_OK;
      }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR** out) override {
    if (!out) return E_INVALIDARG;
    *out = &attr_;
    return S_OK;
  }
  HRESULT GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override {
    if (index < -1 || (index >= 0 && static_cast<std::size_t>(index) >= raw_.types.size()))
      return TYPE_E_ELEMENTNOTFOUND;
    if (index == -1) return Document(raw_.name, raw_.help, raw_.helpContext, name, doc, helpContext, helpFile);
    const RawType& t = raw_.types[static_cast<std::size_t>(index)];
    return Document(t.name, t.help, t.helpContext, name, doc, helpContext, helpFile);
  }
  HRESULT IsName(LPOLESTR name, ULONG, BOOL* found) override {
    if (!name || !found) return E_INVALIDARG;
    *found = FALSE;
    for (const auto& n : raw_.names)
      if (EqualNoCase(n, name)) {
        std::memcpy(name, n.data(), n.size() * sizeof(OLECHAR));
        *found = TRUE;
        break;
      }
    return S_OK;
  }
  HRESULT FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* found) override {
    if (!name || !infos || !ids || !found) return E_INVALIDARG;
    USHORT capacity = *found, n = 0;
    for (UINT i = 0; i < raw_.types.size() && n < capacity; ++i) {
      const RawType& t = raw_.types[i];
      MEMBERID id = DISPID_UNKNOWN;
      bool hit = EqualNoCase(raw_.names[t.name], name);
      for (const RawFunc& f : t.funcs)
        if (!hit && EqualNoCase(raw_.names[f.name], name)) hit = true, id = f.id;
      if (!hit) continue;
      infos[n] = infos_[i].get();
      AddRef();
      ids[n++] = id;
    }
    *found = n;
    return S_OK;
  }
  void ReleaseTLibAttr(TLIBATTR*) override {}

  // Name, help string, help context and help file of an element.
  HRESULT Document(std::uint32_t nameIndex, std::uint32_t help, std::uint32_t context, BSTR* name, BSTR* doc,
                   DWORD* helpContext, BSTR* helpFile) const {
    BSTR n = nullptr, d = nullptr, f = nullptr;
    HRESULT hr = S_OK;
    if (name && SUCCEEDED(hr)) hr = NewBstr(raw_.names[nameIndex], &n);
    if (doc && SUCCEEDED(hr) && help != tlbformat::kNone) hr = NewBstr(raw_.strings[help], &d);
    if (helpFile && SUCCEEDED(hr) && raw_.helpFile != tlbformat::kNone) hr = NewBstr(raw_.strings[raw_.helpFile], &f);
    if (FAILED(hr)) {
      SysFreeString(n);
      SysFreeString(d);
      SysFreeString(f);
      n = d = f = nullptr;
    }
    if (name) *name = n;
    if (doc) *doc = d;
    if (helpFile) *helpFile = f;
    if (helpContext) *helpContext = SUCCEEDED(hr) ? context : 0;
    return hr;
  }

  const RawLibrary& Raw() const { return raw_; }
  ITypeInfo* Info(UINT index) { return infos_[index].get(); }

 private:
  RawLibrary raw_;
  bool permanent_;
  std::atomic<long> refs_{1};
  TLIBATTR attr_{};
  std::vector<std::unique_ptr<TypeInfoImpl>> infos_;
};

// ---- TypeInfoImpl ----------------------------------------------------------

TypeInfoImpl::TypeInfoImpl(TypeLibImpl* lib, UINT index, const RawType& raw) : lib_(lib), index_(index), raw_(raw) {
  attr_.guid = raw.guid;
  attr_.lcid = lib->Raw().lcid;
  attr_.memidConstructor = MEMBERID_NIL;
  attr_.memidDestructor = MEMBERID_NIL;
  attr_.typekind = static_cast<TYPEKIND>(raw.kind);
  attr_.cFuncs = static_cast<WORD>(raw.funcs.size());
  attr_.cImplTypes = static_cast<WORD>(raw.impls.size());
  attr_.cbSizeInstance = raw.kind == TKIND_COCLASS ? 0 : sizeof(void*);
  attr_.cbSizeVft = static_cast<WORD>(raw.slots * sizeof(void*));
  attr_.cbAlignment = alignof(void*);
  attr_.wTypeFlags = raw.flags;
  attr_.wMajorVerNum = raw.major;
  attr_.wMinorVerNum = raw.minor;
  attr_.tdescAlias.vt = VT_EMPTY;
  funcs_.resize(raw.funcs.size());  // entries hold pointers into themselves: never resized again
  for (std::size_t i = 0; i < raw.funcs.size(); ++i) Prepare(funcs_[i], raw.funcs[i]);
}

void TypeInfoImpl::Prepare(FuncEntry& f, const RawFunc& raw) {
  f.raw = &raw;
  std::size_t chainLength = raw.returnDepth;
  for (const RawParam& p : raw.params) chainLength += p.depth;
  f.chain.resize(chainLength);
  std::size_t used = 0;
  // A type with depth pointer levels: VT_PTR links down to vt.
  auto describe = [&](TYPEDESC& top, VARTYPE vt, std::uint16_t depth) {
    TYPEDESC* at = &top;
    for (std::uint16_t d = 0; d < depth; ++d) {
      at->vt = VT_PTR;
      at->lptdesc = &f.chain[used++];
      at = at->lptdesc;
    }
    at->vt = vt;
    at->lptdesc = nullptr;
  };
  f.elems.resize(raw.params.size());
  for (std::size_t i = 0; i < raw.params.size(); ++i) {
    describe(f.elems[i].tdesc, raw.params[i].vt, raw.params[i].depth);
    f.elems[i].paramdesc.pparamdescex = nullptr;
    f.elems[i].paramdesc.wParamFlags = raw.params[i].flags;
  }
  FUNCDESC& d = f.desc;
  d.memid = raw.id;
  d.lprgelemdescParam = f.elems.empty() ? nullptr : f.elems.data();
  d.funckind = static_cast<FUNCKIND>(raw.funcKind);
  d.invkind = static_cast<INVOKEKIND>(raw.invokeKind);
  d.callconv = static_cast<CALLCONV>(raw.callConv);
  d.cParams = static_cast<SHORT>(raw.params.size());
  d.oVft = raw.funcKind == FUNC_DISPATCH ? 0 : static_cast<SHORT>(raw.slot * sizeof(void*));
  describe(d.elemdescFunc.tdesc, raw.returnVt, raw.returnDepth);
  d.wFuncFlags = raw.flags;

  f.hasRetval = !raw.params.empty() && (raw.params.back().flags & PARAMFLAG_FRETVAL);
  f.callerArgs = static_cast<UINT>(raw.params.size()) - (f.hasRetval ? 1 : 0);
  if (raw.funcKind == FUNC_DISPATCH) return;
  f.argTypes[0] = &ffi_type_pointer;  // the instance
  for (std::size_t i = 0; i < raw.params.size(); ++i) {
    f.argTypes[i + 1] = FfiTypeOf(raw.params[i].vt, raw.params[i].depth);
    if (!f.argTypes[i + 1] || f.argTypes[i + 1] == &ffi_type_void) return;
  }
  ffi_type* ret = FfiTypeOf(raw.returnVt, raw.returnDepth);
  if (!ret) return;
  // Operations of an interface use the platform's default convention.
  f.callable = ffi_prep_cif(&f.cif, FFI_DEFAULT_ABI, static_cast<unsigned>(raw.params.size() + 1), ret,
                            f.argTypes) == FFI_OK;
}

HRESULT TypeInfoImpl::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ITypeInfo || iid == IID_ITypeInfo2) {
    AddRef();
    *out = static_cast<ITypeInfo2*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
ULONG TypeInfoImpl::AddRef() { return lib_->AddRef(); }
ULONG TypeInfoImpl::Release() { return lib_->Release(); }

const FuncEntry* TypeInfoImpl::FindByName(const OLECHAR* name) const {
  const auto& names = lib_->Raw().names;
  for (const FuncEntry& f : funcs_)
    if (EqualNoCase(names[f.raw->name], name)) return &f;
  return nullptr;
}

HRESULT TypeInfoImpl::GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) {
  if (!names || !count) return E_INVALIDARG;
  *count = 0;
  const FuncEntry* f = nullptr;
  for (const FuncEntry& e : funcs_)
    if (e.desc.memid == member) {
      f = &e;
      break;
    }
  if (!f) return TYPE_E_ELEMENTNOTFOUND;
  const auto& all = lib_->Raw().names;
  UINT n = 0;
  for (UINT i = 0; i <= f->raw->params.size() && n < capacity; ++i, ++n) {
    std::uint32_t index = i == 0 ? f->raw->name : f->raw->params[i - 1].name;
    if (FAILED(NewBstr(all[index], &names[n]))) {
      while (n > 0) SysFreeString(names[--n]), names[n] = nullptr;
      return E_OUTOFMEMORY;
    }
  }
  *count = n;
  return S_OK;
}

HRESULT TypeInfoImpl::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const FuncEntry* f = names[0] ? FindByName(names[0]) : nullptr;
  if (!f) return DISP_E_UNKNOWNNAME;
  ids[0] = f->desc.memid;
  HRESULT hr = S_OK;
  const auto& all = lib_->Raw().names;
  for (UINT i = 1; i < count; ++i) {
    // Parameter names: positions within any accessor of that member.
    for (const FuncEntry& e : funcs_) {
      if (e.desc.memid != f->desc.memid || !names[i]) continue;
      for (std::size_t p = 0; p < e.raw->params.size() && ids[i] == DISPID_UNKNOWN; ++p)
        if (EqualNoCase(all[e.raw->params[p].name], names[i])) ids[i] = static_cast<MEMBERID>(p);
      if (ids[i] != DISPID_UNKNOWN) break;
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TypeInfoImpl::Invoke(void* instance, MEMBERID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* exception, UINT* argError) {
  if (!instance || !params) return E_INVALIDARG;
  const FuncEntry* f = nullptr;
  for (const FuncEntry& e : funcs_)
    if (e.desc.memid == member && (e.desc.invkind & flags)) {
      f = &e;
      break;
    }
  if (!f) return DISP_E_MEMBERNOTFOUND;
  if (!f->callable) return f->desc.funckind == FUNC_DISPATCH ? DISP_E_MEMBERNOTFOUND : DISP_E_BADVARTYPE;
  UINT cArgs = params->cArgs, cNamed = params->cNamedArgs;
  if (cNamed > cArgs || (cArgs && !params->rgvarg) || (cNamed && !params->rgdispidNamedArgs)) return E_INVALIDARG;
  if (cArgs != f->callerArgs) return DISP_E_BADPARAMCOUNT;

  constexpr UINT kMax = tlbformat::kMaxParams;
  int source[kMax];  // index in rgvarg of each parameter's argument
  // Without named arguments parameter p takes rgvarg[cArgs - 1 - p]; source[] is not used.
  if (cNamed != 0) {
    for (UINT p = 0; p < f->callerArgs; ++p) source[p] = -1;
    bool isPut = (f->desc.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
    for (UINT i = 0; i < cNamed; ++i) {
      DISPID n = params->rgdispidNamedArgs[i];
      if (n == DISPID_PROPERTYPUT && isPut) n = static_cast<DISPID>(f->callerArgs) - 1;
      if (n < 0 || static_cast<UINT>(n) >= f->callerArgs || source[n] != -1) {
        if (argError) *argError = i;
        return DISP_E_PARAMNOTFOUND;
      }
      source[n] = static_cast<int>(i);
    }
    for (UINT k = 0, positional = cArgs - cNamed; k < positional; ++k) {
      if (source[k] != -1) {
        if (argError) *argError = cArgs - 1 - k;
        return DISP_E_PARAMNOTFOUND;
      }
      source[k] = static_cast<int>(cArgs - 1 - k);
    }
  }

  VARIANT coerced[kMax];  // converted arguments; only those listed in converted[] hold values
  UINT converted[kMax];
  UINT convertedCount = 0;
  void* pointers[kMax + 1];
  void* values[kMax + 1];
  auto clearCoerced = [&] {
    for (UINT i = 0; i < convertedCount; ++i) VariantClear(&coerced[converted[i]]);
  };
  values[0] = &instance;
  VARIANT retval;
  retval.vt = VT_EMPTY;
  retval.wReserved1 = retval.wReserved2 = retval.wReserved3 = 0;
  retval.record.pvRecord = retval.record.pRecInfo = nullptr;
  for (UINT p = 0; p < f->callerArgs; ++p) {
    UINT at = cNamed == 0 ? cArgs - 1 - p : static_cast<UINT>(source[p]);
    VARIANT* arg = &params->rgvarg[at];
    const TYPEDESC& t = f->elems[p].tdesc;
    HRESULT hr = S_OK;
    if (t.vt == VT_PTR) {
      // Out parameters take a by-reference argument of exactly the pointed-to type.
      if (arg->vt == (VT_BYREF | t.lptdesc->vt) && arg->byref) {
        pointers[p] = arg->byref;
        values[p + 1] = &pointers[p];
      } else {
        hr = DISP_E_TYPEMISMATCH;
      }
    } else if (t.vt == VT_VARIANT) {
      values[p + 1] = arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal ? arg->pvarVal : arg;
    } else if (arg->vt == t.vt) {
      values[p + 1] = &arg->lVal;
    } else if (arg->vt == (VT_BYREF | t.vt) && arg->byref) {
      values[p + 1] = arg->byref;
    } else {
      VariantInit(&coerced[p]);
      hr = VariantChangeType(&coerced[p], arg, 0, t.vt);
      if (SUCCEEDED(hr)) converted[convertedCount++] = p;
      values[p + 1] = &coerced[p].lVal;
    }
    if (FAILED(hr)) {
      clearCoerced();
      if (argError) *argError = at;
      return hr;
    }
  }
  if (f->hasRetval) {
    const TYPEDESC& t = f->elems[f->callerArgs].tdesc;
    retval.vt = t.lptdesc->vt == VT_PTR ? VARTYPE{VT_EMPTY} : t.lptdesc->vt;
    pointers[f->callerArgs] = t.lptdesc->vt == VT_VARIANT ? static_cast<void*>(&retval) : &retval.lVal;
    if (t.lptdesc->vt == VT_VARIANT) retval.vt = VT_EMPTY;
    values[f->callerArgs + 1] = &pointers[f->callerArgs];
  }

  void** table = *static_cast<void***>(instance);
  union {
    ffi_arg word;
    double real;
    float single;
    std::uint64_t wide;
  } returned{};
  ffi_call(const_cast<ffi_cif*>(&f->cif), reinterpret_cast<void (*)()>(table[f->raw->slot]), &returned, values);
  clearCoerced();

  VARTYPE rvt = f->desc.elemdescFunc.tdesc.vt;
  if (rvt == VT_HRESULT) {
    auto hr = static_cast<HRESULT>(static_cast<std::uint32_t>(returned.word));
    if (FAILED(hr)) {
      if (f->hasRetval) VariantClear(&retval);
      if (exception) {
        std::memset(exception, 0, sizeof *exception);
        exception->scode = hr;
      }
      return DISP_E_EXCEPTION;
    }
  } else if (rvt != VT_VOID && !f->hasRetval) {
    retval.vt = rvt;
    if (rvt == VT_R8) retval.dblVal = returned.real;
    else if (rvt == VT_R4) retval.fltVal = returned.single;
    else if (f->desc.elemdescFunc.tdesc.vt == VT_BSTR || rvt == VT_DISPATCH || rvt == VT_UNKNOWN)
      retval.byref = reinterpret_cast<void*>(static_cast<std::uintptr_t>(returned.word));
    else
      retval.lVal = static_cast<LONG>(returned.word);
  }
  if (result) {
    *result = retval;
    if (retval.vt == VT_EMPTY) VariantInit(result);
  } else if (retval.vt != VT_EMPTY) {
    VariantClear(&retval);
  }
  return S_OK;
}

HRESULT TypeInfoImpl::GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) {
  if (member == MEMBERID_NIL) return lib_->Document(raw_.name, raw_.help, raw_.helpContext, name, doc, helpContext,
                                                    helpFile);
  for (const RawFunc& f : raw_.funcs)
    if (f.id == member) return lib_->Document(f.name, f.help, f.helpContext, name, doc, helpContext, helpFile);
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoImpl::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  const RawLibrary& raw = lib_->Raw();
  if (!(ref & tlbformat::kExternalRef)) {
    if (ref >= raw.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = lib_->Info(ref);
    lib_->AddRef();
    return S_OK;
  }
  std::uint32_t e = ref & ~tlbformat::kExternalRef;
  if (e >= raw.externals.size()) return TYPE_E_ELEMENTNOTFOUND;
  const RawImport& im = raw.imports[raw.externals[e].import];
  ITypeLib* other = nullptr;
  HRESULT hr = im.guid == LIBID_stdole ? (other = StandardLibrary(), S_OK)
                                       : LoadRegTypeLib(im.guid, im.major, im.minor, raw.lcid, &other);
  if (FAILED(hr)) return hr;
  hr = other->GetTypeInfoOfGuid(raw.externals[e].guid, out);
  other->Release();
  return hr;
}

HRESULT TypeInfoImpl::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (!lib) return E_INVALIDARG;
  lib_->AddRef();
  *lib = lib_;
  if (index) *index = index_;
  return S_OK;
}

// ---- The standard library ---------------------------------------------------

RawLibrary StandardContent() {
  RawLibrary lib;
  lib.guid = LIBID_stdole;
  lib.major = 2;
  lib.minor = 0;
  lib.names = {u"stdole",  u"IUnknown", u"QueryInterface", u"riid", u"ppvObj", u"AddRef", u"Release",
               u"IDispatch", u"GetTypeInfoCount", u"pctinfo", u"GetTypeInfo", u"itinfo", u"lcid", u"pptinfo",
               u"GetIDsOfNames", u"rgszNames", u"cNames", u"rgdispid", u"Invoke", u"dispidMember",
               u"wFlags", u"pdispparams", u"pvarResult", u"pexcepinfo", u"puArgErr"};
  lib.strings = {u"OLE Automation"};
  lib.help = 0;
  auto name = [&](const char16_t* n) {
    for (std::uint32_t i = 0; i < lib.names.size(); ++i)
      if (lib.names[i] == n) return i;
    return tlbformat::kNone;
  };
  auto func = [&](MEMBERID id, const char16_t* n, std::uint16_t slot, VARTYPE ret,
                  std::vector<RawParam> params) {
    return RawFunc{id, name(n), tlbformat::kNone, 0, INVOKE_FUNC, FUNC_PUREVIRTUAL, CC_STDCALL,
                   FUNCFLAG_FRESTRICTED, slot, ret, 0, std::move(params)};
  };
  constexpr USHORT in = PARAMFLAG_FIN, out = PARAMFLAG_FOUT;
  RawType unknown{name(u"IUnknown"), tlbformat::kNone, IID_IUnknown, TKIND_INTERFACE, TYPEFLAG_FHIDDEN, 0, 0, 0, 3,
                  {}, {}};
  unknown.funcs.push_back(func(0x60000000, u"QueryInterface", 0, VT_HRESULT,
                               {{name(u"riid"), in, VT_VOID, 1}, {name(u"ppvObj"), out, VT_VOID, 2}}));
  unknown.funcs.push_back(func(0x60000001, u"AddRef", 1, VT_UI4, {}));
  unknown.funcs.push_back(func(0x60000002, u"Release", 2, VT_UI4, {}));
  RawType dispatch{name(u"IDispatch"), tlbformat::kNone, IID_IDispatch, TKIND_INTERFACE, 0, 0, 0, 0, 7, {}, {{0, 0}}};
  dispatch.funcs.push_back(func(0x60010000, u"GetTypeInfoCount", 3, VT_HRESULT, {{name(u"pctinfo"), out, VT_UINT, 1}}));
  dispatch.funcs.push_back(func(0x60010001, u"GetTypeInfo", 4, VT_HRESULT,
                                {{name(u"itinfo"), in, VT_UINT, 0}, {name(u"lcid"), in, VT_UI4, 0},
                                 {name(u"pptinfo"), out, VT_VOID, 2}}));
  dispatch.funcs.push_back(func(0x60010002, u"GetIDsOfNames", 5, VT_HRESULT,
                                {{name(u"riid"), in, VT_VOID, 1}, {name(u"rgszNames"), in, VT_I1, 2},
                                 {name(u"cNames"), in, VT_UINT, 0}, {name(u"lcid"), in, VT_UI4, 0},
                                 {name(u"rgdispid"), out, VT_I4, 1}}));
  dispatch.funcs.push_back(func(0x60010003, u"Invoke", 6, VT_HRESULT,
                                {{name(u"dispidMember"), in, VT_I4, 0}, {name(u"riid"), in, VT_VOID, 1},
                                 {name(u"lcid"), in, VT_UI4, 0}, {name(u"wFlags"), in, VT_UI2, 0},
                                 {name(u"pdispparams"), in, VT_VOID, 1}, {name(u"pvarResult"), out, VT_VARIANT, 1},
                                 {name(u"pexcepinfo"), out, VT_VOID, 1}, {name(u"puArgErr"), out, VT_UINT, 1}}));
  lib.types.push_back(std::move(unknown));
  lib.types.push_back(std::move(dispatch));
  return lib;
}

}  // namespace

ITypeLib* StandardLibrary() {
  static TypeLibImpl* lib = new TypeLibImpl(StandardContent(), true);
  return lib;
}

bool IsStandardLibraryPath(LPCWSTR path) {
  static const char16_t kName[] = u"stdole2.tlb";
  std::size_t n = 0;
  while (path[n]) ++n;
  constexpr std::size_t k = sizeof kName / sizeof kName[0] - 1;
  if (n < k) return false;
  if (n > k && path[n - k - 1] != u'/' && path[n - k - 1] != u'\\') return false;
  for (std::size_t i = 0; i < k; ++i)
    if (Fold(path[n - k + i]) != kName[i]) return false;
  return true;
}

HRESULT CreateTypeLib(RawLibrary&& raw, ITypeLib** out) {
  *out = new TypeLibImpl(std::move(raw), false);
  return S_OK;
}

}  // namespace oleaut

namespace quibtest {
long LiveTypeLibraries() { return oleaut::g_liveLibraries.load(); }
}  // namespace quibtest
