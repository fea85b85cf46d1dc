// Version and system information.
#pragma once

#include "platform/types.h"

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr DWORD VER_PLATFORM_WIN32_CE = 3;

// 276 bytes: five 32-bit words and a 128-character service-pack text.
struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOW) == 276);

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  void* lpMinimumApplicationAddress;
  void* lpMaximumApplicationAddress;
  std::uintptr_t dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;  // the sixth 32-bit word on the 32-bit device
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};

// Fails (FALSE, last error set) unless dwOSVersionInfoSize is 276.
QUIB_PLATFORM_API BOOL GetVersionExW(OSVERSIONINFOW* info);
QUIB_PLATFORM_API void GetSystemInfo(SYSTEM_INFO* info);
