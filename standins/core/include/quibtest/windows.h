// Test hooks of the window, message-box and sound stand-ins: what each window
// received, the window services called in order, the message boxes shown and
// the sounds played. Tests include this; the system never does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/windowing.h"
#include "quibtest/core.h"

namespace quibtest {

struct ReceivedMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const ReceivedMessage&) const = default;
};
// The messages a window received, in order (kept after it is destroyed).
QUIB_TESTHOOK std::vector<ReceivedMessage> ReceivedMessages(HWND window);

// Every window service call, in order, across all windows (calls for a
// window that does not exist too, except Create and Destroy).
struct WindowCall {
  enum Kind { Create, Destroy, Send, Show, Update, SetSlot } kind;
  HWND window;
  UINT message;    // Send: the message
  WPARAM wParam;   // Send: wParam
  LPARAM lParam;   // Send: lParam
  int argument;    // Show: the command; SetSlot: the index
  LONG_PTR value;  // SetSlot: the new value
};
QUIB_TESTHOOK std::vector<WindowCall> WindowCalls();
// Forgets the window calls and the received messages of every window.
QUIB_TESTHOOK void ClearWindowLogs();
QUIB_TESTHOOK std::size_t LiveWindows();

struct MessageBoxShown {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT style;
};
QUIB_TESTHOOK std::vector<MessageBoxShown> MessageBoxes();
QUIB_TESTHOOK void ClearMessageBoxes();

// The format of a played sound, as its "fmt " chunk gives it.
struct WaveFormat {
  WORD formatTag;
  WORD channels;
  DWORD samplesPerSec;
  DWORD avgBytesPerSec;
  WORD blockAlign;
  WORD bitsPerSample;
  bool operator==(const WaveFormat&) const = default;
};
struct PlayedSound {
  std::u16string path;  // empty for a sound played from memory
  WaveFormat format;
  DWORD frames;         // sample frames in the data chunk
  DWORD durationMs;     // frames at the sample rate, rounded down
  DWORD flags;          // as passed to PlaySoundW
};
// What the default sound output played, in order.
QUIB_TESTHOOK std::vector<PlayedSound> PlayedSounds();
QUIB_TESTHOOK void ClearPlayedSounds();

}  // namespace quibtest
