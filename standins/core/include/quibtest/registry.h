// Test hooks of the registry stand-in: which database the registry uses.
// Tests include this; the system never does.
#pragma once

#include <string>

#ifndef QUIB_TESTHOOK
#define QUIB_TESTHOOK __attribute__((visibility("default")))
#endif

namespace quibtest {

// Closes the registry and uses the database at path from the next call on;
// ":memory:" gives a fresh, empty registry of this process alone. Every open
// key handle becomes invalid. Call it between tests to start afresh.
QUIB_TESTHOOK void UseRegistry(const std::string& path);
// Closes the registry and goes back to the file that QUIB_REGISTRY or the
// per-user default names.
QUIB_TESTHOOK void ResetRegistry();
// The database the registry uses (or will use at its next call).
QUIB_TESTHOOK std::string RegistryPath();

}  // namespace quibtest
