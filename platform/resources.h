// Resources of a module, code-page conversion.
#pragma once

#include "platform/types.h"

using HRSRC = void*;
using HGLOBAL = void*;

// An integer resource id or type, as a name pointer.
inline LPCWSTR MAKEINTRESOURCEW(WORD id) { return reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(id)); }
inline bool IS_INTRESOURCE(LPCWSTR name) { return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0; }

// LoadLibraryExW flag: map the file for its resources only, running nothing.
constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;

QUIB_PLATFORM_API HMODULE LoadLibraryExW(LPCWSTR path, HANDLE reserved, DWORD flags);

// Finds a resource by name (or integer id) and type (a name or an integer).
QUIB_PLATFORM_API HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
QUIB_PLATFORM_API HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
QUIB_PLATFORM_API HGLOBAL LoadResource(HMODULE module, HRSRC resource);
QUIB_PLATFORM_API void* LockResource(HGLOBAL data);
QUIB_PLATFORM_API DWORD SizeofResource(HMODULE module, HRSRC resource);

constexpr UINT CP_ACP = 0;  // the default "ANSI" code page: UTF-8 on this platform
constexpr UINT CP_UTF8 = 65001;
// MultiByteToWideChar flag: fail with ERROR_NO_UNICODE_TRANSLATION on an
// invalid sequence instead of writing U+FFFD for it.
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;

// Converts multibyte text to wide characters; a byteCount of -1 includes the
// terminating NUL. With wideCapacity 0 it returns the characters needed.
QUIB_PLATFORM_API int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int byteCount, LPWSTR wide,
                                          int wideCapacity);
