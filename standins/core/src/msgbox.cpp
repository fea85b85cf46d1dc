// The message box, headless: caption and text go to standard error and the
// box is closed at once as if its OK button had been pressed.
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/windowing.h"
#include "quibtest/windows.h"
#include "quibcore/utf.h"

namespace {
std::mutex g_lock;
std::vector<quibtest::MessageBoxShown> g_boxes;

std::u16string Text(LPCWSTR text) { return text ? std::u16string(text) : std::u16string(); }
}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    g_boxes.push_back({owner, Text(text), Text(caption), style});
  }
  std::fprintf(stderr, "[%s] %s\n", quibcore::ToUtf8(Text(caption).c_str()).c_str(),
               quibcore::ToUtf8(Text(text).c_str()).c_str());
  return IDOK;
}

namespace quibtest {

std::vector<MessageBoxShown> MessageBoxes() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_boxes;
}

void ClearMessageBoxes() {
  std::lock_guard<std::mutex> hold(g_lock);
  g_boxes.clear();
}

}  // namespace quibtest
