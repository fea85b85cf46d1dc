// The platform loader: libraries by path, their exported routines and file names.
#pragma once

#include "platform/types.h"

// Reasons with which the loader calls a library's entry point.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

// A library's entry point, exported as "DllMain"; it returns TRUE to go on.
using LibraryEntryPoint = BOOL (*)(HINSTANCE instance, DWORD reason, void* reserved);

// Loads a library; the first load of a file calls its entry point with
// DLL_PROCESS_ATTACH. Loads are counted: the last FreeLibrary calls it with
// DLL_PROCESS_DETACH and unloads. Null, with the last error set, on failure.
QUIB_PLATFORM_API HMODULE LoadLibraryW(LPCWSTR path);
QUIB_PLATFORM_API BOOL FreeLibrary(HMODULE module);

// An exported routine by name; null with ERROR_PROC_NOT_FOUND when missing.
QUIB_PLATFORM_API FARPROC GetProcAddressW(HMODULE module, LPCWSTR name);

// Writes the module's absolute path into buffer (capacity in characters,
// terminator included) and returns its length. A path that does not fit is
// truncated to capacity - 1 characters and terminated; the result is then
// capacity and the last error ERROR_INSUFFICIENT_BUFFER. Never writes past
// capacity. A null module names the program itself.
QUIB_PLATFORM_API DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity);
