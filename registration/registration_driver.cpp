// The registration driver. Placeholder until the registry lands.
#include "registration/registration_driver.h"

HRESULT UpdateRecorderRegistry(BOOL) { return E_NOTIMPL; }
