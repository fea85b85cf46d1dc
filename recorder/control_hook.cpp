// ControlHook. Placeholder until the window services land.
#include "recorder/control_hook.h"

namespace ControlHook {
void Install(Recorder*, HWND) {}
void Remove(Recorder* recorder) { recorder->hooked = FALSE; }
LRESULT HookProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
}  // namespace ControlHook
