// Marks a routine that the library exports with C linkage.
#pragma once

#define QUIB_EXPORT extern "C" __attribute__((visibility("default")))
