// The registration driver: the class's registry updater and the two exports.
#pragma once

#include "platform/types.h"

// Writes (true) or removes (false) the recorder class's registry entries.
HRESULT UpdateRecorderRegistry(BOOL registerEntries);
