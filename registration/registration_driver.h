// The registration driver: the class's registry updater, the type library of
// the module file, and the walks behind the two registration exports.
#pragma once

#include "platform/automation.h"

struct ModuleState;

// Writes (true) or removes (false) the recorder class's registry entries.
HRESULT UpdateRecorderRegistry(BOOL registerEntries);

// Runs the registry updater of each selected map entry with true, stopping at
// the first failure, then registers the type library when asked. With a
// filter only the entry of that CLSID is selected; without one, every entry
// that has no description.
HRESULT RegisterObjects(ModuleState* module, BOOL registerTypeLibrary, const CLSID* filter);
// Runs the same updaters with false, dropping their results, and unregisters
// the type library when asked. S_OK unless module is null.
HRESULT UnregisterObjects(ModuleState* module, BOOL unregisterTypeLibrary, const CLSID* filter);

// Loads the type library from the module file, or else from the file of the
// same name ending in ".tlb". On success *path is the path that loaded.
HRESULT LoadModuleTypeLibrary(ModuleState* module, BSTR* path, ITypeLib** library);
HRESULT RegisterModuleTypeLibrary(ModuleState* module);
HRESULT UnregisterModuleTypeLibrary(ModuleState* module);

// The ".tlb" path beside a module path: the tail from the last '.' replaced,
// or ".tlb" appended when there is none. False, with nothing written, when the
// result would not fit capacity characters (terminator included).
bool TypeLibraryFallbackPath(LPCWSTR path, WCHAR* result, std::size_t capacity);
// The help directory of a path: everything up to and including its last
// '\\', '/' or ':'; empty when it has none. result holds at least as many
// characters as path.
void HelpDirectoryOf(LPCWSTR path, WCHAR* result);
