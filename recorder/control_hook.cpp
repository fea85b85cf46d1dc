// ControlHook: one per module. HookProc sits in the hooked control's dialog
// slot, swallows WM_ACTIVATE, forgets the control on its two closing
// notifications, and passes every other message on to the saved procedure.
#include "recorder/control_hook.h"

#include "platform/windowing.h"

namespace {

struct HookState {
  Recorder* hookedRecorder;  // whose control window a closing notification clears
  HWND hookedWindow;         // last window given to Install; Remove restores into it
  WNDPROC savedProcedure;    // taken out of slot 4 by Install; never cleared
};

HookState g_hook = {nullptr, 0, nullptr};

constexpr UINT kFirstCode = 0xFFFFFC9D;         // -867
constexpr UINT kFirstClosingCode = 0xFFFFFC9E;  // -866
constexpr UINT kLastClosingCode = 0xFFFFFC9F;   // -865
constexpr UINT kLastCode = 0xFFFFFCA3;          // -861

}  // namespace

namespace ControlHook {

void Install(Recorder* recorder, HWND window) {
  g_hook.hookedWindow = window;
  if (!window) return;
  if (recorder->hooked) return;
  LONG_PTR old = SetWindowLongPtrW(recorder->controlWindow, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&HookProc));
  g_hook.savedProcedure = reinterpret_cast<WNDPROC>(old);
  g_hook.hookedRecorder = recorder;
  recorder->hooked = TRUE;
}

void Remove(Recorder* recorder) {
  if (!g_hook.hookedWindow) return;
  SetWindowLongPtrW(g_hook.hookedWindow, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(g_hook.savedProcedure));
  g_hook.hookedWindow = 0;
  g_hook.hookedRecorder = nullptr;
  recorder->hooked = FALSE;
}

LRESULT HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ACTIVATE) return 1;
  if (g_hook.hookedRecorder && message == WM_NOTIFY && lParam != 0) {
    // The record's address travels as a 32-bit lParam; the control keeps it below 4 GiB.
    const auto* header = reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<DWORD>(lParam)));
    auto code = static_cast<UINT>(header->code);
    if (code >= kFirstClosingCode && code <= kLastClosingCode) g_hook.hookedRecorder->controlWindow = 0;
    if (code >= kFirstCode && code <= kLastCode) {
      // Events: FireOnMessage(g_hook.hookedRecorder, WM_NOTIFY, wParam, lParam) goes here.
    }
  }
  return CallWindowProcW(g_hook.savedProcedure, window, message, wParam, lParam);
}

}  // namespace ControlHook
