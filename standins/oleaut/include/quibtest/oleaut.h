// Test hooks of the automation runtime stand-in. Tests include this; the system never does.
#pragma once

#define QUIB_OLEAUT_TESTHOOK __attribute__((visibility("default")))

namespace quibtest {

// Type libraries loaded from files or resources and not yet released (the
// built-in standard library is not counted).
QUIB_OLEAUT_TESTHOOK long LiveTypeLibraries();

}  // namespace quibtest
