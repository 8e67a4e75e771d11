#include "tests/support/TestWindows.h"

#include "platform/win32/WinUser.h"

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool DispatchOne() {
    MSG message;
    if (!PeekMessage(&message, nullptr, 0, 0, PM_REMOVE))
        return false;
    DispatchMessage(&message);
    return true;
}

} // namespace

bool PumpUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    while (!done() && Clock::now() < deadline) {
        while (DispatchOne()) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

void PumpUntilIdle(int quietMilliseconds) {
    auto quietSince = Clock::now();
    while (Clock::now() - quietSince < std::chrono::milliseconds(quietMilliseconds)) {
        if (DispatchOne())
            quietSince = Clock::now();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

HWND CreateTestPopup(int width, int height) {
    static const char* const className = "TestPopupWindow";
    WNDCLASSEX existing{};
    if (!GetClassInfoEx(nullptr, className, &existing)) {
        WNDCLASSEX windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &DefWindowProc;
        windowClass.lpszClassName = className;
        RegisterClassEx(&windowClass);
    }
    return CreateWindowEx(0, className, "", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                          nullptr, nullptr);
}
