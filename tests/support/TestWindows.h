// Windows and message pumping for tests that run a real message loop.
#pragma once

#include "platform/win32/WinTypes.h"

#include <functional>

// Dispatches messages until `done` holds or `seconds` pass; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, double seconds = 10);
// Dispatches messages until none has arrived for `quietMilliseconds`.
void PumpUntilIdle(int quietMilliseconds = 250);
// A hidden popup window of a plain class, for device contexts to create contexts on.
HWND CreateTestPopup(int width = 16, int height = 16);
