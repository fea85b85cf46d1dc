// The window stand-in: handles, parents and children, procedures and the
// dialog slot, sends, visibility and painting, the related-window query.
#include <gtest/gtest.h>

#include <vector>

#include "platform/errors.h"
#include "platform/windowing.h"
#include "quibtest/windows.h"

using quibtest::ReceivedMessage;
using quibtest::WindowCall;

namespace {

// A procedure that answers every message with 7 and remembers what it saw.
std::vector<ReceivedMessage> g_seen;
LRESULT Answer7(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({message, wParam, lParam});
  return 7;
}
LRESULT Answer0(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({message, wParam, lParam});
  return 0;
}

// A dialog procedure put in front of another, passing everything on.
WNDPROC g_next = nullptr;
LRESULT Front(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({message | 0x80000000u, wParam, lParam});
  return CallWindowProcW(g_next, window, message, wParam, lParam) + 100;
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    quibtest::ClearWindowLogs();
  }
  void TearDown() override {
    for (HWND w : made_)
      if (IsWindow(w)) DestroyWindow(w);
  }
  HWND Make(HWND parent = 0, WNDPROC proc = nullptr, DWORD style = 0, UINT id = 0) {
    HWND w = CreateWindowWithProc(proc, style, 0, 0, 10, 10, parent, id);
    if (w) made_.push_back(w);
    return w;
  }
  HWND MakeDialog(DLGPROC proc, HWND parent = 0) {
    HWND w = CreateDialogWindow(proc, 0, 0, 0, 10, 10, parent, 0, 55);
    if (w) made_.push_back(w);
    return w;
  }
  std::vector<HWND> made_;
};

TEST_F(Windows, HandlesAreNeverReusedAndStaleOnesReachNothing) {
  HWND first = Make(0, &Answer7);
  ASSERT_NE(first, 0u);
  ASSERT_TRUE(DestroyWindow(first));
  EXPECT_FALSE(IsWindow(first));
  HWND second = Make(0, &Answer7);
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_GT(second, first);

  g_seen.clear();
  SetLastError(0);
  EXPECT_EQ(SendMessageW(first, WM_USER, 1, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(g_seen.empty());
  EXPECT_FALSE(DestroyWindow(first));
  EXPECT_FALSE(ShowWindow(first, SW_SHOW));
  EXPECT_EQ(SetWindowLongPtrW(first, GWL_USERDATA, 5), 0);
  EXPECT_EQ(GetWindow(first, GW_CHILD), 0u);
  EXPECT_FALSE(IsWindow(0));
}

TEST_F(Windows, ACreatedWindowReceivesCreateAndSendReturnsTheProcedureResult) {
  HWND w = Make(0, &Answer7);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(SendMessageW(w, WM_USER + 1, 0x11, -3), 7);
  std::vector<ReceivedMessage> expected = {{WM_CREATE, 0, 0}, {WM_USER + 1, 0x11, -3}};
  EXPECT_EQ(quibtest::ReceivedMessages(w), expected);
  EXPECT_EQ(g_seen, expected);
}

TEST_F(Windows, AParentThatIsNotAWindowRefusesTheChild) {
  HWND gone = Make();
  DestroyWindow(gone);
  EXPECT_EQ(Make(gone), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(Windows, ChildrenInCreationOrderAndDestroyedWithTheirParent) {
  HWND parent = Make(0, &Answer0);
  HWND a = Make(parent, &Answer0, 0, 11);
  HWND b = Make(parent, &Answer0, 0, 12);
  HWND grandchild = Make(a, &Answer0);
  EXPECT_EQ(GetWindow(parent, GW_CHILD), a);
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
  EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), 0u);
  EXPECT_EQ(GetWindow(b, GW_CHILD), 0u);
  EXPECT_EQ(GetParent(grandchild), a);
  EXPECT_EQ(GetDlgItem(parent, 12), b);
  EXPECT_EQ(GetDlgItem(parent, 13), 0u);

  std::size_t before = quibtest::LiveWindows();
  ASSERT_TRUE(DestroyWindow(parent));
  EXPECT_EQ(quibtest::LiveWindows(), before - 4);
  for (HWND w : {parent, a, b, grandchild}) {
    SCOPED_TRACE(w);
    EXPECT_FALSE(IsWindow(w));
    ASSERT_FALSE(quibtest::ReceivedMessages(w).empty());
    EXPECT_EQ(quibtest::ReceivedMessages(w).back().message, WM_DESTROY);
  }
}

TEST_F(Windows, DestroyingAChildLeavesItsSiblings) {
  HWND parent = Make();
  HWND a = Make(parent);
  HWND b = Make(parent);
  DestroyWindow(a);
  EXPECT_EQ(GetWindow(parent, GW_CHILD), b);
}

TEST_F(Windows, ADialogHandlesItsMessagesThroughWhateverItsSlotHolds) {
  HWND dialog = MakeDialog(&Answer7);
  ASSERT_NE(dialog, 0u);
  EXPECT_EQ(g_seen.front(), (ReceivedMessage{WM_INITDIALOG, 0, 55}));
  EXPECT_EQ(GetWindowLongPtrW(dialog, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&Answer7));

  // Put a procedure in front: set returns the old value.
  LONG_PTR old = SetWindowLongPtrW(dialog, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(&Front));
  EXPECT_EQ(old, reinterpret_cast<LONG_PTR>(&Answer7));
  g_next = reinterpret_cast<WNDPROC>(old);
  g_seen.clear();
  EXPECT_EQ(SendMessageW(dialog, WM_NOTIFY, 3, 4), 107);
  std::vector<ReceivedMessage> expected = {{WM_NOTIFY | 0x80000000u, 3, 4}, {WM_NOTIFY, 3, 4}};
  EXPECT_EQ(g_seen, expected);

  // And back.
  EXPECT_EQ(SetWindowLongPtrW(dialog, DWL_DLGPROC, old), reinterpret_cast<LONG_PTR>(&Front));
  g_seen.clear();
  EXPECT_EQ(SendMessageW(dialog, WM_USER, 0, 0), 7);
  EXPECT_EQ(g_seen.size(), 1u);
}

TEST_F(Windows, ADialogProcedureReturningZeroLeavesTheMessageToTheDefault) {
  HWND dialog = MakeDialog(&Answer0);
  EXPECT_EQ(SendMessageW(dialog, WM_USER, 0, 0), 0);
  SendMessageW(dialog, WM_CLOSE, 0, 0);  // the default handling closes the window
  EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(Windows, SlotsOfTheWrongKindAreRefused) {
  HWND plain = Make(0, &Answer0);
  SetLastError(0);
  EXPECT_EQ(SetWindowLongPtrW(plain, DWL_DLGPROC, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(SetWindowLongPtrW(plain, 1234, 1), 0);
  EXPECT_EQ(SetWindowLongPtrW(plain, GWL_USERDATA, 9), 0);
  EXPECT_EQ(GetWindowLongPtrW(plain, GWL_USERDATA), 9);
  // Replacing the window procedure itself.
  EXPECT_EQ(SetWindowLongPtrW(plain, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&Answer7)),
            reinterpret_cast<LONG_PTR>(&Answer0));
  EXPECT_EQ(SendMessageW(plain, WM_USER, 0, 0), 7);
}

TEST_F(Windows, CallWindowProcCallsTheProcedureAndNullGivesZero) {
  EXPECT_EQ(CallWindowProcW(&Answer7, 1, WM_USER, 2, 3), 7);
  EXPECT_EQ(g_seen.back(), (ReceivedMessage{WM_USER, 2, 3}));
  EXPECT_EQ(CallWindowProcW(nullptr, 1, WM_USER, 2, 3), 0);
}

TEST_F(Windows, ShowAndUpdate) {
  HWND parent = Make(0, &Answer0, WS_VISIBLE);
  HWND w = Make(parent, &Answer0, WS_CHILD);
  quibtest::ClearWindowLogs();

  EXPECT_FALSE(ShowWindow(w, SW_SHOW));  // was hidden
  EXPECT_TRUE(IsWindowVisible(w));
  EXPECT_TRUE(UpdateWindow(w));
  EXPECT_TRUE(UpdateWindow(w));  // nothing left to paint
  EXPECT_TRUE(ShowWindow(w, SW_SHOW));
  EXPECT_TRUE(ShowWindow(w, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_TRUE(UpdateWindow(w));  // hidden windows are not painted
  std::vector<ReceivedMessage> expected = {{WM_SHOWWINDOW, TRUE, 0}, {WM_PAINT, 0, 0}, {WM_SHOWWINDOW, FALSE, 0}};
  EXPECT_EQ(quibtest::ReceivedMessages(w), expected);

  // A visible child of a hidden parent is not visible.
  ShowWindow(w, SW_SHOW);
  ShowWindow(parent, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(w));
}

TEST_F(Windows, TheCallLogKeepsTheOrderOfServicesAcrossWindows) {
  HWND a = Make(0, &Answer0);
  HWND b = Make(0, &Answer0);
  quibtest::ClearWindowLogs();
  SetWindowLongPtrW(a, GWL_USERDATA, 3);
  SendMessageW(b, WM_USER, 1, 2);
  ShowWindow(a, SW_SHOW);
  UpdateWindow(a);
  std::vector<WindowCall> calls = quibtest::WindowCalls();
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[0].kind, WindowCall::SetSlot);
  EXPECT_EQ(calls[0].window, a);
  EXPECT_EQ(calls[0].argument, GWL_USERDATA);
  EXPECT_EQ(calls[0].value, 3);
  EXPECT_EQ(calls[1].kind, WindowCall::Send);
  EXPECT_EQ(calls[1].window, b);
  EXPECT_EQ(calls[1].message, WM_USER);
  EXPECT_EQ(calls[2].kind, WindowCall::Show);
  EXPECT_EQ(calls[2].argument, SW_SHOW);
  EXPECT_EQ(calls[3].kind, WindowCall::Send);  // WM_SHOWWINDOW
  EXPECT_EQ(calls[4].kind, WindowCall::Update);
}

TEST_F(Windows, AProcedureMayDestroyItsOwnWindowWhileHandlingAMessage) {
  HWND w = Make(0, [](HWND self, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_USER) DestroyWindow(self);
    return 1;
  });
  EXPECT_EQ(SendMessageW(w, WM_USER, 0, 0), 1);
  EXPECT_FALSE(IsWindow(w));
}

}  // namespace
