// The automation runtime: BSTR, VARIANT, DISPPARAMS and the routines on them.
#pragma once

#include "platform/objectmodel.h"

using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using SCODE = LONG;
using DATE = double;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_USERDEFINED = 29,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

// Laid out as the platform's: a 16-bit type tag, three reserved words, then
// the value; 32-bit numbers sit in the first four bytes of the value.
struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    USHORT uiVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    std::int64_t llVal;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    ULONG* pulVal;
    INT* pintVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } record;
  };
};
using VARIANTARG = VARIANT;

// Arguments of IDispatch::Invoke, in reverse order.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;

// BSTR: a length-prefixed wide string; lengths are in characters.
QUIB_PLATFORM_API BSTR SysAllocString(const OLECHAR* text);
QUIB_PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
QUIB_PLATFORM_API void SysFreeString(BSTR text);
QUIB_PLATFORM_API UINT SysStringLen(BSTR text);

QUIB_PLATFORM_API void VariantInit(VARIANTARG* value);
// Frees what the variant holds and sets it to VT_EMPTY. A variant it cannot
// clear (an unknown type) is set to VT_ERROR holding the failure code.
QUIB_PLATFORM_API HRESULT VariantClear(VARIANTARG* value);

// Copies src into dest (clearing dest first): strings are duplicated,
// interfaces gain a reference, by-reference variants copy the pointer.
QUIB_PLATFORM_API HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// Converts src to type vt into dest (dest may be src). By-reference sources
// are read through their pointer. DISP_E_TYPEMISMATCH when the value has no
// form of that type, DISP_E_OVERFLOW when it does not fit; dest is then
// left untouched.
QUIB_PLATFORM_API HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
constexpr USHORT VARIANT_NOVALUEPROP = 0x1;  // do not ask an object for its value
constexpr USHORT VARIANT_ALPHABOOL = 0x2;    // booleans as "True"/"False", not "-1"/"0"

// A decimal number (surrounding blanks allowed) as an unsigned 32-bit value.
QUIB_PLATFORM_API HRESULT VarUI4FromStr(const OLECHAR* text, LCID locale, ULONG flags, ULONG* out);

// ---- Type information -------------------------------------------------------

using MEMBERID = DISPID;
using HREFTYPE = DWORD;
constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITypeComp = {0x00020403, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_ITypeInfo2 = {0x00020412, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The standard library of the object model's base interfaces (stdole2.tlb), version 2.0.
constexpr GUID LIBID_stdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

enum TYPEKIND : int {
  TKIND_ENUM = 0,
  TKIND_RECORD = 1,
  TKIND_MODULE = 2,
  TKIND_INTERFACE = 3,
  TKIND_DISPATCH = 4,
  TKIND_COCLASS = 5,
  TKIND_ALIAS = 6,
  TKIND_UNION = 7,
};

enum FUNCKIND : int { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL = 1, FUNC_NONVIRTUAL = 2, FUNC_STATIC = 3, FUNC_DISPATCH = 4 };
enum INVOKEKIND : int {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};
enum CALLCONV : int { CC_CDECL = 1, CC_STDCALL = 4 };
enum SYSKIND : int { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };
enum VARKIND : int { VAR_PERINSTANCE = 0, VAR_STATIC = 1, VAR_CONST = 2, VAR_DISPATCH = 3 };

constexpr WORD TYPEFLAG_FAPPOBJECT = 0x1;
constexpr WORD TYPEFLAG_FCANCREATE = 0x2;
constexpr WORD TYPEFLAG_FLICENSED = 0x4;
constexpr WORD TYPEFLAG_FPREDECLID = 0x8;
constexpr WORD TYPEFLAG_FHIDDEN = 0x10;
constexpr WORD TYPEFLAG_FCONTROL = 0x20;
constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FNONEXTENSIBLE = 0x80;
constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x100;
constexpr WORD TYPEFLAG_FRESTRICTED = 0x200;
constexpr WORD TYPEFLAG_FAGGREGATABLE = 0x400;
constexpr WORD TYPEFLAG_FREPLACEABLE = 0x800;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;

constexpr WORD FUNCFLAG_FRESTRICTED = 0x1;
constexpr WORD FUNCFLAG_FSOURCE = 0x2;
constexpr WORD FUNCFLAG_FHIDDEN = 0x40;

constexpr USHORT PARAMFLAG_NONE = 0x0;
constexpr USHORT PARAMFLAG_FIN = 0x1;
constexpr USHORT PARAMFLAG_FOUT = 0x2;
constexpr USHORT PARAMFLAG_FLCID = 0x4;
constexpr USHORT PARAMFLAG_FRETVAL = 0x8;
constexpr USHORT PARAMFLAG_FOPT = 0x10;
constexpr USHORT PARAMFLAG_FHASDEFAULT = 0x20;

constexpr int IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr int IMPLTYPEFLAG_FSOURCE = 0x2;
constexpr int IMPLTYPEFLAG_FRESTRICTED = 0x4;

constexpr WORD LIBFLAG_FRESTRICTED = 0x1;
constexpr WORD LIBFLAG_FCONTROL = 0x2;
constexpr WORD LIBFLAG_FHIDDEN = 0x4;

struct ARRAYDESC;

// A type: vt, and for VT_PTR the pointed-to type, for VT_USERDEFINED a reference.
struct TYPEDESC {
  union {
    TYPEDESC* lptdesc;
    ARRAYDESC* lpadesc;
    HREFTYPE hreftype;
  };
  VARTYPE vt;
};

struct IDLDESC {
  std::uintptr_t dwReserved;
  USHORT wIDLFlags;
};

struct PARAMDESCEX;
struct PARAMDESC {
  PARAMDESCEX* pparamdescex;
  USHORT wParamFlags;
};

struct ELEMDESC {
  TYPEDESC tdesc;
  union {
    IDLDESC idldesc;
    PARAMDESC paramdesc;
  };
};

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  LPOLESTR lpstrSchema;
  ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;  // bytes of the operation table: slots times the pointer size
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
};

struct FUNCDESC {
  MEMBERID memid;
  SCODE* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft;  // byte offset of the operation in the table: slot times the pointer size
  SHORT cScodes;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
};

struct VARDESC {
  MEMBERID memid;
  LPOLESTR lpstrSchema;
  union {
    ULONG oInst;
    VARIANT* lpvarValue;
  };
  ELEMDESC elemdescVar;
  WORD wVarFlags;
  VARKIND varkind;
};

struct TLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
};

struct CUSTDATAITEM {
  GUID guid;
  VARIANT varValue;
};
struct CUSTDATA {
  DWORD cCustData;
  CUSTDATAITEM* prgCustData;
};

struct ITypeLib;
struct ITypeComp;

struct ITypeInfo : IUnknown {
  virtual HRESULT GetTypeAttr(TYPEATTR** out) = 0;                                           // slot 3
  virtual HRESULT GetTypeComp(ITypeComp** out) = 0;                                          // slot 4
  virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** out) = 0;                               // slot 5
  virtual HRESULT GetVarDesc(UINT index, VARDESC** out) = 0;                                 // slot 6
  virtual HRESULT GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) = 0;    // slot 7
  virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* out) = 0;                       // slot 8
  virtual HRESULT GetImplTypeFlags(UINT index, INT* flags) = 0;                              // slot 9
  virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;             // slot 10
  virtual HRESULT Invoke(void* instance, MEMBERID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError) = 0;                          // slot 11
  virtual HRESULT GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* helpContext,
                                   BSTR* helpFile) = 0;                                      // slot 12
  virtual HRESULT GetDllEntry(MEMBERID member, INVOKEKIND kind, BSTR* dll, BSTR* name, WORD* ordinal) = 0;  // 13
  virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) = 0;                         // slot 14
  virtual HRESULT AddressOfMember(MEMBERID member, INVOKEKIND kind, void** out) = 0;         // slot 15
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) = 0;               // slot 16
  virtual HRESULT GetMops(MEMBERID member, BSTR* mops) = 0;                                  // slot 17
  virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;                     // slot 18
  virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;                                          // slot 19
  virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;                                          // slot 20
  virtual void ReleaseVarDesc(VARDESC* desc) = 0;                                            // slot 21
};

struct ITypeInfo2 : ITypeInfo {
  virtual HRESULT GetTypeKind(TYPEKIND* kind) = 0;                                           // slot 22
  virtual HRESULT GetTypeFlags(ULONG* flags) = 0;                                            // slot 23
  virtual HRESULT GetFuncIndexOfMemId(MEMBERID member, INVOKEKIND kind, UINT* index) = 0;    // slot 24
  virtual HRESULT GetVarIndexOfMemId(MEMBERID member, UINT* index) = 0;                      // slot 25
  virtual HRESULT GetCustData(REFGUID guid, VARIANT* value) = 0;                             // slot 26
  virtual HRESULT GetFuncCustData(UINT index, REFGUID guid, VARIANT* value) = 0;             // slot 27
  virtual HRESULT GetParamCustData(UINT func, UINT param, REFGUID guid, VARIANT* value) = 0; // slot 28
  virtual HRESULT GetVarCustData(UINT index, REFGUID guid, VARIANT* value) = 0;              // slot 29
  virtual HRESULT GetImplTypeCustData(UINT index, REFGUID guid, VARIANT* value) = 0;         // slot 30
  virtual HRESULT GetDocumentation2(MEMBERID member, LCID locale, BSTR* helpString, DWORD* helpContext,
                                    BSTR* helpDll) = 0;                                      // slot 31
  virtual HRESULT GetAllCustData(CUSTDATA* data) = 0;                                        // slot 32
  virtual HRESULT GetAllFuncCustData(UINT index, CUSTDATA* data) = 0;                        // slot 33
  virtual HRESULT GetAllParamCustData(UINT func, UINT param, CUSTDATA* data) = 0;            // slot 34
  virtual HRESULT GetAllVarCustData(UINT index, CUSTDATA* data) = 0;                         // slot 35
  virtual HRESULT GetAllImplTypeCustData(UINT index, CUSTDATA* data) = 0;                    // slot 36
};

struct ITypeLib : IUnknown {
  virtual UINT GetTypeInfoCount() = 0;                                                       // slot 3
  virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** out) = 0;                              // slot 4
  virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;                           // slot 5
  virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) = 0;                      // slot 6
  virtual HRESULT GetLibAttr(TLIBATTR** out) = 0;                                            // slot 7
  virtual HRESULT GetTypeComp(ITypeComp** out) = 0;                                          // slot 8
  // index -1 documents the library itself.
  virtual HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) = 0;  // 9
  // On a match, the stored spelling is copied over name.
  virtual HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) = 0;                        // slot 10
  virtual HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* ids, USHORT* found) = 0;  // 11
  virtual void ReleaseTLibAttr(TLIBATTR* attr) = 0;                                          // slot 12
};

// Loads a type library from a type-library file, or from the "TYPELIB"
// resource 1 of a module file (read as data, running nothing). "stdole2.tlb"
// names the built-in standard library. Loading registers nothing.
QUIB_PLATFORM_API HRESULT LoadTypeLib(LPCWSTR path, ITypeLib** out);
// Loads the registered library of that LIBID whose major version matches and
// whose minor version is the highest at or above the one asked for.
QUIB_PLATFORM_API HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, ITypeLib** out);
// Writes the library's TypeLib entries and the Interface entries of its
// automation interfaces. helpDir may be null.
QUIB_PLATFORM_API HRESULT RegisterTypeLib(ITypeLib* lib, LPCWSTR fullPath, LPCWSTR helpDir);
QUIB_PLATFORM_API HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, SYSKIND syskind);
using UnRegisterTypeLibRoutine = HRESULT (*)(REFGUID, WORD, WORD, LCID, SYSKIND);

constexpr HRESULT TYPE_E_BADMODULEKIND = static_cast<HRESULT>(0x800288BD);
constexpr HRESULT TYPE_E_WRONGTYPEKIND = static_cast<HRESULT>(0x8002802A);
constexpr HRESULT TYPE_E_REGISTRYACCESS = static_cast<HRESULT>(0x8002801C);
constexpr HRESULT TYPE_E_INVDATAREAD = static_cast<HRESULT>(0x80028018);
constexpr HRESULT TYPE_E_UNSUPFORMAT = static_cast<HRESULT>(0x80028019);
constexpr HRESULT TYPE_E_IOERROR = static_cast<HRESULT>(0x80028CA2);
