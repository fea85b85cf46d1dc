// The object model's standard interfaces, as abstract classes whose operation
// tables have exactly the platform's slot order. No virtual destructors: a
// destructor would add slots. Objects are released through Release only.
#pragma once

#include "platform/types.h"

struct ITypeInfo;
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;
using DISPID = LONG;

constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IEnumConnectionPoints = {0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IEnumConnections = {0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;  // slot 0
  virtual ULONG AddRef() = 0;                                   // slot 1
  virtual ULONG Release() = 0;                                  // slot 2
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) = 0;  // slot 3
  virtual HRESULT LockServer(BOOL lock) = 0;                                    // slot 4
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;                                     // slot 3
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** out) = 0;             // slot 4
  virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                DISPID* ids) = 0;                                       // slot 5
  virtual HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;    // slot 6
};

struct IConnectionPoint;
struct IEnumConnectionPoints;
struct IEnumConnections;

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) = 0;        // slot 3
  virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out) = 0;  // slot 4
};

// CONNECTDATA: the connected sink and its 32-bit cookie.
struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};

struct IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* out) = 0;                           // slot 3
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) = 0;  // slot 4
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;                      // slot 5
  virtual HRESULT Unadvise(DWORD cookie) = 0;                                     // slot 6
  virtual HRESULT EnumConnections(IEnumConnections** out) = 0;                    // slot 7
};

struct IEnumConnectionPoints : IUnknown {
  virtual HRESULT Next(ULONG count, IConnectionPoint** out, ULONG* fetched) = 0;  // slot 3
  virtual HRESULT Skip(ULONG count) = 0;                                          // slot 4
  virtual HRESULT Reset() = 0;                                                    // slot 5
  virtual HRESULT Clone(IEnumConnectionPoints** out) = 0;                         // slot 6
};

struct IEnumConnections : IUnknown {
  virtual HRESULT Next(ULONG count, CONNECTDATA* out, ULONG* fetched) = 0;  // slot 3
  virtual HRESULT Skip(ULONG count) = 0;                                    // slot 4
  virtual HRESULT Reset() = 0;                                              // slot 5
  virtual HRESULT Clone(IEnumConnections** out) = 0;                        // slot 6
};
