// Test hooks of the loader: platform libraries and routines that it pretends
// not to find. Tests include this; the system never does.
#pragma once

#include <string>

#ifndef QUIB_TESTHOOK
#define QUIB_TESTHOOK __attribute__((visibility("default")))
#endif

namespace quibtest {

// LoadLibraryW of this platform name ("oleaut32.dll", any case) fails with
// ERROR_MOD_NOT_FOUND.
QUIB_TESTHOOK void HideLibrary(const std::string& name);
// GetProcAddressW of routine fails with ERROR_PROC_NOT_FOUND in the library of
// that platform name or file name ("oleaut32.dll", "libquiboleaut.so"), or in
// every library when library is empty.
QUIB_TESTHOOK void HideRoutine(const std::string& library, const std::string& routine);
QUIB_TESTHOOK void ClearHiddenNames();

}  // namespace quibtest
