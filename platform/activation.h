// The client side of the object model: program identifiers, class objects and
// instances of in-process servers found through the registry.
#pragma once

#include "platform/objectmodel.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);
constexpr HRESULT REGDB_E_READREGDB = static_cast<HRESULT>(0x80040150);
constexpr HRESULT REGDB_E_KEYMISSING = static_cast<HRESULT>(0x80040152);
constexpr HRESULT REGDB_E_IIDNOTREG = static_cast<HRESULT>(0x80040155);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" <-> GUID. The text form needs 39
// characters with its terminator; StringFromGUID2 returns that count, or 0
// when the buffer is smaller.
QUIB_PLATFORM_API HRESULT CLSIDFromString(LPCWSTR text, CLSID* clsid);
QUIB_PLATFORM_API int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);

// A program identifier's class: HKCR\<progid>\CLSID, following CurVer when the
// identifier has one. A braced GUID string is accepted as its own class.
QUIB_PLATFORM_API HRESULT CLSIDFromProgID(LPCWSTR progId, CLSID* clsid);

// Loads the server named by HKCR\CLSID\{clsid}\InprocServer32 through the
// loader and asks its DllGetClassObject. The library stays loaded until
// CoFreeUnusedLibraries finds that it answers S_OK to DllCanUnloadNow.
QUIB_PLATFORM_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** out);
QUIB_PLATFORM_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out);
QUIB_PLATFORM_API void CoFreeUnusedLibraries();
