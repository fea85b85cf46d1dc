// The ObjectMap: the classes the library serves and how to make them.
#pragma once

#include "platform/objectmodel.h"

using RegistryUpdater = HRESULT (*)(BOOL registerEntries);
using ClassObjectCreator = HRESULT (*)(void* instanceCreator, REFIID iid, void** out);
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

struct ObjectMapEntry {
  const CLSID* clsid;                       // null ends the map
  RegistryUpdater registryUpdater;
  ClassObjectCreator classObjectCreator;    // given instanceCreator as its opaque pointer
  InstanceCreator instanceCreator;
  IUnknown* cachedClassObject;              // one reference, from first lookup to termination
  DWORD registrationWord;                   // inert
  const void* (*descriptionCallback)();     // registration skips the entry when it returns something
  const void* (*categoryMapCallback)();     // inert
  void (*objectMain)(bool initialising);
};

// The library's ObjectMap: the recorder class, then the terminating entry.
extern ObjectMapEntry g_objectMap[];
