// TypeInfoHolder: the module-wide type information of IquibVoiceRec, loaded
// from the registered type library on first use, with a cache of member names.
#pragma once

#include "platform/automation.h"

struct NameCacheEntry {
  BSTR name;       // owned; none when the lookups for this function failed
  LONG length;     // characters
  DISPID memberId;
};

struct TypeInfoHolder {
  const GUID* interfaceId;
  const GUID* libraryId;
  WORD majorVersion;
  WORD minorVersion;
  // The flag that readers test: read with an acquire load, stored (after the
  // name cache is complete) with a release store. The holder owns one reference.
  ITypeInfo* typeInfo;
  NameCacheEntry* nameCache;
  LONG cacheCount;

  HRESULT EnsureLoaded(LCID locale);
  void LoadNameCache(ITypeInfo* info);
  HRESULT GetTypeInfo(LCID locale, ITypeInfo** out);
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids);
  HRESULT Invoke(void* instance, DISPID member, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError);
  // Term callback: releases the type information and frees the name cache.
  static void Cleanup(std::uintptr_t holder);

  ITypeInfo* Loaded() const { return __atomic_load_n(&typeInfo, __ATOMIC_ACQUIRE); }
};

// The holder for IquibVoiceRec in the registered QUIBVOICERECLib 1.0.
extern TypeInfoHolder g_recorderTypeInfo;
