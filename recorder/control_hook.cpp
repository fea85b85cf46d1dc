// ControlHook: HookProc sits in a hooked control's dialog slot, swallows
// WM_ACTIVATE, turns the control's seven notification codes into OnMessage
// events (forgetting the control on the two closing ones), and passes every
// other message, and the notifications too, on to the saved procedure.
//
// Hook state is kept per window: each recorder that installs keeps its own
// record (Recorder::hook) of the window it hooked and the procedure it took
// from it, and the records form one module-wide list. So two recorders with
// live controls each receive their own control's notifications, and a window's
// messages pass on to the procedure saved from that same window.
#include "recorder/control_hook.h"

#include "platform/windowing.h"
#include "recorder/event_firing.h"

namespace {

Recorder* g_hooked = nullptr;        // recorders holding a hook, the latest first
WNDPROC g_lastSaved = nullptr;       // the procedure saved last; never cleared

constexpr UINT kFirstCode = 0xFFFFFC9D;         // -867
constexpr UINT kFirstClosingCode = 0xFFFFFC9E;  // -866
constexpr UINT kLastClosingCode = 0xFFFFFC9F;   // -865
constexpr UINT kLastCode = 0xFFFFFCA3;          // -861

Recorder* HookedFor(HWND window) {
  for (Recorder* r = g_hooked; r; r = r->hook.next)
    if (r->hook.window == window) return r;
  return nullptr;
}

void Unlink(Recorder* recorder) {
  for (Recorder** link = &g_hooked; *link; link = &(*link)->hook.next) {
    if (*link == recorder) {
      *link = recorder->hook.next;
      break;
    }
  }
  recorder->hook = {0, 0, nullptr};
}

}  // namespace

namespace ControlHook {

// A recorder that already holds a hook installs nothing, and its record keeps
// the window its procedure came from: Remove restores only into that window.
// (Init ends such a stale hook before it creates a new control.)
void Install(Recorder* recorder, HWND window) {
  if (!window) return;
  if (recorder->hooked) return;
  // A window already hooked by another recorder keeps that one hook: hooking
  // it again would save the hook procedure as the window's own.
  if (HookedFor(window)) return;
  LONG_PTR old = SetWindowLongPtrW(recorder->controlWindow, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&HookProc));
  recorder->hook.window = recorder->controlWindow;
  recorder->hook.savedProcedure = old;
  recorder->hook.next = g_hooked;
  g_hooked = recorder;
  g_lastSaved = reinterpret_cast<WNDPROC>(old);
  recorder->hooked = TRUE;
}

void Remove(Recorder* recorder) {
  if (!recorder->hook.window) return;  // nothing recorded: the flag keeps its value
  // The saved procedure goes back into the window it was taken from; the
  // result is not examined (the window may no longer exist).
  SetWindowLongPtrW(recorder->hook.window, DWL_DLGPROC, recorder->hook.savedProcedure);
  Unlink(recorder);
  recorder->hooked = FALSE;
}

LRESULT HookProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ACTIVATE) return 1;
  // A window that holds the hook procedure without a record (put there by
  // someone else) passes on to the procedure saved last, as the one-hook
  // design does.
  Recorder* recorder = HookedFor(window);
  // Read before any event: a sink may remove the hook while this runs.
  WNDPROC passOn = recorder ? reinterpret_cast<WNDPROC>(recorder->hook.savedProcedure) : g_lastSaved;
  if (recorder && message == WM_NOTIFY && lParam != 0) {
    // The record's address travels as a 32-bit lParam; the control keeps it below 4 GiB.
    const auto* header = reinterpret_cast<const NMHDR*>(static_cast<std::uintptr_t>(static_cast<DWORD>(lParam)));
    auto code = static_cast<UINT>(header->code);
    if (code >= kFirstClosingCode && code <= kLastClosingCode) recorder->controlWindow = 0;
    if (code >= kFirstCode && code <= kLastCode) FireOnMessage(recorder, WM_NOTIFY, wParam, lParam);
  }
  return CallWindowProcW(passOn, window, message, wParam, lParam);
}

}  // namespace ControlHook
