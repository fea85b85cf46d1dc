// Windows and messages: a table of windows under handles that only grow,
// procedures called synchronously on the caller's thread, the dialog handling
// through the dialog-procedure slot, and the logs that tests read.
//
// The table's lock is never held while a procedure runs: procedures may
// create, destroy and send to windows (their own included).
#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "platform/windowing.h"
#include "quibtest/windows.h"

namespace {

struct Window {
  HWND parent = 0;
  std::vector<HWND> children;  // in creation order
  WNDPROC proc = nullptr;
  bool dialog = false;
  LONG_PTR dialogSlots[3] = {0, 0, 0};  // DWL_MSGRESULT, DWL_DLGPROC, DWL_USER
  LONG_PTR userData = 0;
  DWORD style = 0;
  UINT id = 0;
  bool needsPaint = true;
  bool destroying = false;
};

std::recursive_mutex g_lock;
std::unordered_map<HWND, Window> g_windows;
HWND g_lastHandle = 0x00010000;  // handles only grow, in steps of 2
std::unordered_map<HWND, std::vector<quibtest::ReceivedMessage>> g_received;
std::vector<quibtest::WindowCall> g_calls;

using Hold = std::lock_guard<std::recursive_mutex>;

Window* Find(HWND window) {
  auto it = g_windows.find(window);
  return it == g_windows.end() || window == 0 ? nullptr : &it->second;
}

void Journal(quibtest::WindowCall::Kind kind, HWND window, UINT message = 0, WPARAM wParam = 0, LPARAM lParam = 0,
             int argument = 0, LONG_PTR value = 0) {
  g_calls.push_back({kind, window, message, wParam, lParam, argument, value});
}

bool Invalid(HWND window) {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  (void)window;
  return false;
}

// The procedure of every dialog window: the procedure in its dialog slot
// first; the default handling when that one returns 0.
LRESULT DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC dialogProc = nullptr;
  {
    Hold hold(g_lock);
    if (Window* w = Find(window)) dialogProc = reinterpret_cast<DLGPROC>(w->dialogSlots[DWL_DLGPROC / 4]);
  }
  LRESULT result = dialogProc ? CallWindowProcW(dialogProc, window, message, wParam, lParam) : 0;
  if (result != 0) return result;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND Create(WNDPROC proc, bool dialog, DLGPROC dialogProc, DWORD style, HWND parent, UINT id, UINT firstMessage,
            LPARAM firstParam) {
  HWND handle;
  {
    Hold hold(g_lock);
    if (parent != 0 && !Find(parent)) {
      Invalid(parent);
      return 0;
    }
    if (g_lastHandle >= 0xFFFFFFF0u) {  // handles are never reused
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    g_lastHandle += 2;
    handle = g_lastHandle;
    Window& w = g_windows[handle];
    w.parent = parent;
    w.proc = dialog ? &DialogWindowProc : (proc ? proc : &DefWindowProcW);
    w.dialog = dialog;
    w.dialogSlots[DWL_DLGPROC / 4] = reinterpret_cast<LONG_PTR>(dialogProc);
    w.style = style;
    w.id = id;
    if (parent) g_windows[parent].children.push_back(handle);
    Journal(quibtest::WindowCall::Create, handle);
  }
  LRESULT result = SendMessageW(handle, firstMessage, 0, firstParam);
  if (firstMessage == WM_CREATE && result == -1) {
    DestroyWindow(handle);
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return handle;
}

bool VisibleWithAncestors(HWND window) {
  for (Window* w = Find(window); w; w = w->parent ? Find(w->parent) : nullptr)
    if (!(w->style & WS_VISIBLE)) return false;
  return Find(window) != nullptr;
}

}  // namespace

HWND CreateWindowWithProc(WNDPROC proc, DWORD style, int, int, int, int, HWND parent, UINT id) {
  return Create(proc, false, nullptr, style, parent, id, WM_CREATE, 0);
}

HWND CreateDialogWindow(DLGPROC dialogProc, DWORD style, int, int, int, int, HWND parent, UINT id,
                        LPARAM initParam) {
  return Create(nullptr, true, dialogProc, style, parent, id, WM_INITDIALOG, initParam);
}

BOOL DestroyWindow(HWND window) {
  {
    Hold hold(g_lock);
    Window* w = Find(window);
    if (!w) return Invalid(window);
    if (w->destroying) return TRUE;
    w->destroying = true;
    Journal(quibtest::WindowCall::Destroy, window);
  }
  SendMessageW(window, WM_DESTROY, 0, 0);
  for (;;) {
    HWND child;
    {
      Hold hold(g_lock);
      Window* w = Find(window);
      if (!w || w->children.empty()) break;
      child = w->children.front();
    }
    if (!DestroyWindow(child)) {
      Hold hold(g_lock);  // a child already gone: drop it from the list
      Window* w = Find(window);
      if (w && !w->children.empty() && w->children.front() == child) w->children.erase(w->children.begin());
    }
  }
  Hold hold(g_lock);
  Window* w = Find(window);
  if (!w) return TRUE;
  if (Window* parent = Find(w->parent)) {
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
  }
  g_windows.erase(window);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  Hold hold(g_lock);
  return Find(window) ? TRUE : FALSE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    Hold hold(g_lock);
    Journal(quibtest::WindowCall::Send, window, message, wParam, lParam);
    Window* w = Find(window);
    if (!w) {
      Invalid(window);
      return 0;
    }
    proc = w->proc;
    g_received[window].push_back({message, wParam, lParam});
  }
  return proc(window, message, wParam, lParam);
}

LRESULT CallWindowProcW(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(window, message, wParam, lParam) : 0;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  Hold hold(g_lock);
  Journal(quibtest::WindowCall::SetSlot, window, 0, 0, 0, index, value);
  Window* w = Find(window);
  if (!w) {
    Invalid(window);
    return 0;
  }
  LONG_PTR* slot = nullptr;
  LONG_PTR style = w->style, id = w->id, proc = reinterpret_cast<LONG_PTR>(w->proc);
  switch (index) {
    case GWL_WNDPROC: slot = &proc; break;
    case GWL_ID: slot = &id; break;
    case GWL_STYLE: slot = &style; break;
    case GWL_USERDATA: slot = &w->userData; break;
    case DWL_MSGRESULT:
    case DWL_DLGPROC:
    case DWL_USER:
      if (w->dialog) slot = &w->dialogSlots[index / 4];
      break;
    default: break;
  }
  if (!slot) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  LONG_PTR old = *slot;
  *slot = value;
  w->style = static_cast<DWORD>(style);
  w->id = static_cast<UINT>(id);
  w->proc = reinterpret_cast<WNDPROC>(proc);
  SetLastError(ERROR_SUCCESS);
  return old;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  Hold hold(g_lock);
  Window* w = Find(window);
  if (!w) {
    Invalid(window);
    return 0;
  }
  switch (index) {
    case GWL_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_ID: return w->id;
    case GWL_STYLE: return w->style;
    case GWL_USERDATA: return w->userData;
    case DWL_MSGRESULT:
    case DWL_DLGPROC:
    case DWL_USER:
      if (w->dialog) return w->dialogSlots[index / 4];
      break;
    default: break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

BOOL ShowWindow(HWND window, int command) {
  bool was, now;
  {
    Hold hold(g_lock);
    Journal(quibtest::WindowCall::Show, window, 0, 0, 0, command);
    Window* w = Find(window);
    if (!w) return Invalid(window);
    was = (w->style & WS_VISIBLE) != 0;
    now = command != SW_HIDE;
    if (was == now) return was ? TRUE : FALSE;
    w->style = now ? (w->style | WS_VISIBLE) : (w->style & ~WS_VISIBLE);
    w->needsPaint = true;
  }
  SendMessageW(window, WM_SHOWWINDOW, now ? TRUE : FALSE, 0);
  return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
  Hold hold(g_lock);
  return VisibleWithAncestors(window) ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) {
  {
    Hold hold(g_lock);
    Journal(quibtest::WindowCall::Update, window);
    Window* w = Find(window);
    if (!w) return Invalid(window);
    if (!w->needsPaint || !VisibleWithAncestors(window)) return TRUE;
    w->needsPaint = false;
  }
  SendMessageW(window, WM_PAINT, 0, 0);
  return TRUE;
}

HWND GetWindow(HWND window, UINT relation) {
  Hold hold(g_lock);
  Window* w = Find(window);
  if (!w) {
    Invalid(window);
    return 0;
  }
  if (relation == GW_CHILD) return w->children.empty() ? 0 : w->children.front();
  if (relation == GW_HWNDNEXT) {
    Window* parent = Find(w->parent);
    if (!parent) return 0;
    auto& siblings = parent->children;
    auto it = std::find(siblings.begin(), siblings.end(), window);
    return (it == siblings.end() || it + 1 == siblings.end()) ? 0 : *(it + 1);
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

HWND GetParent(HWND window) {
  Hold hold(g_lock);
  Window* w = Find(window);
  if (!w) {
    Invalid(window);
    return 0;
  }
  return w->parent;
}

HWND GetDlgItem(HWND dialog, int id) {
  Hold hold(g_lock);
  Window* w = Find(dialog);
  if (!w) {
    Invalid(dialog);
    return 0;
  }
  for (HWND child : w->children)
    if (Window* c = Find(child); c && c->id == static_cast<UINT>(id)) return child;
  return 0;
}

namespace quibtest {

std::vector<ReceivedMessage> ReceivedMessages(HWND window) {
  Hold hold(g_lock);
  auto it = g_received.find(window);
  return it == g_received.end() ? std::vector<ReceivedMessage>{} : it->second;
}

std::vector<WindowCall> WindowCalls() {
  Hold hold(g_lock);
  return g_calls;
}

void ClearWindowLogs() {
  Hold hold(g_lock);
  g_calls.clear();
  g_received.clear();
}

std::size_t LiveWindows() {
  Hold hold(g_lock);
  return g_windows.size();
}

}  // namespace quibtest
