// The ClassFactory: the recorder class's class object.
#pragma once

#include "module/object_map.h"

// Makes a ClassFactory whose CreateInstance hands its work to `instanceCreator`
// (an InstanceCreator passed as the opaque pointer) and asks it for iid.
HRESULT CreateClassFactory(void* instanceCreator, REFIID iid, void** out);
