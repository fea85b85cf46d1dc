// Critical sections (re-entrant, as the platform's are) and atomic 32-bit counters.
#pragma once

#include "platform/types.h"

// Storage for one critical section; only the platform looks inside.
struct CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
};

QUIB_PLATFORM_API void InitializeCriticalSection(CRITICAL_SECTION* section);
QUIB_PLATFORM_API void EnterCriticalSection(CRITICAL_SECTION* section);
QUIB_PLATFORM_API void LeaveCriticalSection(CRITICAL_SECTION* section);
QUIB_PLATFORM_API void DeleteCriticalSection(CRITICAL_SECTION* section);

// Atomic increment and decrement; each returns the new value.
QUIB_PLATFORM_API LONG InterlockedIncrement(LONG volatile* value);
QUIB_PLATFORM_API LONG InterlockedDecrement(LONG volatile* value);
