// The registry: keys under four roots, with REG_SZ, REG_DWORD, REG_BINARY and
// REG_NONE values. Every routine returns a platform error code (0 on success).
#pragma once

#include "platform/types.h"

using HKEY = std::uint32_t;  // 32-bit key handle; 0 is none

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;

using REGSAM = DWORD;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

QUIB_PLATFORM_API LONG RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* result);
QUIB_PLATFORM_API LONG RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                                       REGSAM access, void* security, HKEY* result, DWORD* disposition);
QUIB_PLATFORM_API LONG RegCloseKey(HKEY key);
// Refused while the subkey still has subkeys of its own.
QUIB_PLATFORM_API LONG RegDeleteKeyW(HKEY parent, LPCWSTR subKey);
QUIB_PLATFORM_API LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                      DWORD size);
QUIB_PLATFORM_API LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                                        DWORD* size);
QUIB_PLATFORM_API LONG RegDeleteValueW(HKEY key, LPCWSTR name);
QUIB_PLATFORM_API LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                                     LPWSTR keyClass, DWORD* classLength, FILETIME* lastWrite);
QUIB_PLATFORM_API LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                                     DWORD* type, BYTE* data, DWORD* dataSize);
QUIB_PLATFORM_API LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, DWORD* classLength, DWORD* reserved,
                                        DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                                        DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                                        DWORD* securityDescriptor, FILETIME* lastWrite);
