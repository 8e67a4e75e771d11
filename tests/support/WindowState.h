// What the window manager keeps of windows and message boxes, read behind its API: tests observe
// and set with it what the program itself never asks for.
#pragma once

#include "platform/win32/WinUserState.h"

#include <stdexcept>

inline TWindowRecord& WindowRecord(HWND window) {
    TWindowRecord* record = TWindowManager::Instance().FindWindow(window);
    if (!record)
        throw std::logic_error("no such window");
    return *record;
}

inline TMessageBoxRecord& MessageBoxRecord() {
    return TWindowManager::Instance().LastMessageBox;
}

// Without a display, windows, messages and device contexts live in memory only.
inline void SetHeadless(bool headless) {
    TWindowManager::Instance().Headless = headless;
}
