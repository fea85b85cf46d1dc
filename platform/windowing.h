// Windows and messages: window handles, window and dialog procedures, the
// procedure slots, synchronous sends, visibility, related windows, and the
// message box.
//
// Window handles are 32-bit values that are never reused while the process
// lives, so a stale handle never reaches a newer window. A dialog window's
// messages are handled by the platform's dialog handling, which first hands
// each one to whatever procedure its dialog-procedure slot (index 4) holds.
#pragma once

#include "platform/types.h"

// Pointer-wide slot values: a procedure slot holds a routine's address.
using LONG_PTR = std::intptr_t;

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A dialog procedure has the same shape; a result of 0 leaves the message to
// the default handling.
using DLGPROC = WNDPROC;

// Messages.
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;
constexpr UINT BM_CLICK = 0x00F5;  // a button: act as if clicked
constexpr UINT BN_CLICKED = 0;     // WM_COMMAND notification code of a button

// The header that lParam of WM_NOTIFY points to: three 32-bit fields.
struct NMHDR {
  HWND hwndFrom;  // the notifying window
  UINT idFrom;    // the notifying control's id
  INT code;       // the notification code
};
static_assert(sizeof(NMHDR) == 12);

constexpr WPARAM MakeWParam(WORD low, WORD high) { return static_cast<WPARAM>(low) | (static_cast<WPARAM>(high) << 16); }
constexpr WORD LowWord(DWORD value) { return static_cast<WORD>(value & 0xFFFF); }
constexpr WORD HighWord(DWORD value) { return static_cast<WORD>(value >> 16); }

// Window styles the stand-ins look at.
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;

// Procedure and data slots. Negative indices are the window's own; a dialog
// window also has the dialog slots 0, 4 and 8.
constexpr int GWL_WNDPROC = -4;
constexpr int GWL_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_USERDATA = -21;
constexpr int DWL_MSGRESULT = 0;
constexpr int DWL_DLGPROC = 4;
constexpr int DWL_USER = 8;

// Show commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Relations of GetWindow.
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_CHILD = 5;

// Creates a window whose messages go to proc (null: DefWindowProcW), as a
// child of parent (0: a top-level window). It receives WM_CREATE before the
// call returns. 0 when parent is given but is not a window.
QUIB_PLATFORM_API HWND CreateWindowWithProc(WNDPROC proc, DWORD style, int x, int y, int width, int height,
                                            HWND parent, UINT id);
// Creates a dialog window: its dialog-procedure slot holds dialogProc and it
// receives WM_INITDIALOG (lParam: initParam) before the call returns.
QUIB_PLATFORM_API HWND CreateDialogWindow(DLGPROC dialogProc, DWORD style, int x, int y, int width, int height,
                                          HWND parent, UINT id, LPARAM initParam);
// Sends WM_DESTROY to the window, destroys its children, then forgets it.
QUIB_PLATFORM_API BOOL DestroyWindow(HWND window);
QUIB_PLATFORM_API BOOL IsWindow(HWND window);

// Calls the window's procedure and returns its result once the message has
// been handled. A dialog window's procedure hands the message to the procedure
// in slot DWL_DLGPROC and returns its result; a result of 0 leaves the message
// to DefWindowProcW. 0, with ERROR_INVALID_WINDOW_HANDLE, when it is not a window.
QUIB_PLATFORM_API LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Calls proc as a window procedure (0 when proc is null).
QUIB_PLATFORM_API LRESULT CallWindowProcW(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The handling of messages that no procedure handled.
QUIB_PLATFORM_API LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Puts value into a slot and returns what was there (0 with the last error set
// when the window or the index is not valid). The slot values are pointer-wide
// so that the procedure slots hold a routine's address on every build.
QUIB_PLATFORM_API LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
QUIB_PLATFORM_API LONG_PTR GetWindowLongPtrW(HWND window, int index);

// Shows (SW_SHOW) or hides (SW_HIDE) a window; returns whether it was visible.
// A change of visibility sends WM_SHOWWINDOW and leaves the window to repaint.
QUIB_PLATFORM_API BOOL ShowWindow(HWND window, int command);
QUIB_PLATFORM_API BOOL IsWindowVisible(HWND window);
// Repaints the window now: a visible window that needs it receives WM_PAINT.
QUIB_PLATFORM_API BOOL UpdateWindow(HWND window);

// A related window: GW_CHILD the first child (the earliest created),
// GW_HWNDNEXT the next sibling. 0 when there is none.
QUIB_PLATFORM_API HWND GetWindow(HWND window, UINT relation);
QUIB_PLATFORM_API HWND GetParent(HWND window);
QUIB_PLATFORM_API HWND GetDlgItem(HWND dialog, int id);

// Message boxes: the style's low four bits choose the buttons, the next four
// the icon. The result is the button the user pressed.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Shows a message box and waits until the user closes it.
QUIB_PLATFORM_API int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
