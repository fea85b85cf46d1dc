// ControlHook: the procedure put in front of the voice recorder control's
// slot 4, which routes the control's notifications to OnMessage events.
#pragma once

#include "recorder/recorder.h"

namespace ControlHook {
void Install(Recorder* recorder, HWND window);
void Remove(Recorder* recorder);
LRESULT HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
}  // namespace ControlHook
