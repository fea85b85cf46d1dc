// OnMessage: delivers one event to every sink connected at a recorder's
// connection point, late-bound, in slot order.
#pragma once

#include "recorder/recorder.h"

// The member id of OnMessage in _IquibVoiceRecEvents.
constexpr DISPID kDispidOnMessage = 1;

// Calls Invoke(OnMessage, message, wParam, lParam) on each sink. Without
// memory for the argument array no sink is called.
void FireOnMessage(Recorder* recorder, UINT message, WPARAM wParam, LPARAM lParam);
