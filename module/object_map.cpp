// The library's ObjectMap: one entry for the recorder class.
#include "module/object_map.h"

#include "automation/contract.h"
#include "module/class_factory.h"
#include "recorder/recorder.h"
#include "registration/registration_driver.h"

namespace {
const void* NoDescription() { return nullptr; }
const void* NoCategoryMap() { return nullptr; }
void RecorderObjectMain(bool) {}
}  // namespace

ObjectMapEntry g_objectMap[] = {
    {&CLSID_quibVoiceRec, UpdateRecorderRegistry, CreateClassFactory, CreateRecorderInstance, nullptr, 0,
     NoDescription, NoCategoryMap, RecorderObjectMain},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};
