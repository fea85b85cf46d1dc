// The library entry point and the exports DllCanUnloadNow and DllGetClassObject.
#include "module/exports.h"
#include "module/module_state.h"
#include "platform/loader.h"

QUIB_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH)
    g_moduleState.Initialise(g_objectMap, instance);
  else if (reason == DLL_PROCESS_DETACH)
    g_moduleState.Terminate();
  return TRUE;
}

QUIB_EXPORT HRESULT DllCanUnloadNow() { return g_moduleState.LockCount() == 0 ? S_OK : S_FALSE; }

QUIB_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return g_moduleState.GetClassObject(clsid, iid, out);
}
