// The window manager without a display: classes, windows, messages, hooks, painting, DCs.
#include <gtest/gtest.h>

#include "platform/win32/WinUser.h"
#include "platform/win32/WinUserState.h"
// After gtest: Xlib's macros (None, Bool) would clash with its names.
#include "platform/win32/WinX11.h"
#include "tests/support/RecordedWindows.h"
#include "tests/support/WindowState.h"

#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct TSeen {
    HWND Window;
    UINT Message;
    bool FromHook;
    bool operator==(const TSeen&) const = default;
};

// What the window procedures and hooks of a test saw, in order.
constexpr auto Seen = &TMessageLog<TSeen>::Seen;
constexpr auto SeenOf = &TMessageLog<TSeen>::SeenOf;

LRESULT CreateResult = 0;
void* CreateParam = nullptr;

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Seen().push_back({window, message, false});
    if (message == WM_CREATE) {
        CreateParam = reinterpret_cast<CREATESTRUCT*>(lParam)->lpCreateParams;
        return CreateResult;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

LRESULT RecordingHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* info = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION)
        Seen().push_back({info->hwnd, info->message, true});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const char* const PlainClass = "WinUserTestPlain";
const char* const OwnDCClass = "WinUserTestOwnDC";
const char* const BackgroundClass = "WinUserTestBackground";

void Register(const char* name, UINT style, HBRUSH background) {
    ASSERT_TRUE(RegisterTestClass(name, RecordingProcedure, style, background)) << name;
}

class WinUserTest : public testing::Test {
protected:
    void SetUp() override {
        SetHeadless(true);
        Register(PlainClass, 0, nullptr);
        Register(OwnDCClass, CS_OWNDC, nullptr);
        Register(BackgroundClass, 0, reinterpret_cast<HBRUSH>(uintptr_t(COLOR_BTNFACE + 1)));
        Seen().clear();
        CreateResult = 0;
    }

    void TearDown() override {
        for (HWND window : FCreated)
            if (IsWindow(window))
                DestroyWindow(window);
        MSG message{};
        while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessage(&message);
    }

    HWND Create(const char* windowClass, DWORD style, int x, int y, int width, int height,
                HWND parent = nullptr, void* param = nullptr) {
        const HWND window = CreateWindowEx(0, windowClass, "test", style, x, y, width, height,
                                           parent, nullptr, nullptr, param);
        FCreated.push_back(window);
        return window;
    }

    HWND TopLevel(DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE) {
        return Create(PlainClass, style, 100, 50, 300, 200);
    }

    // Every message that would be delivered now, dispatched as a message loop would.
    std::vector<MSG> Drain() {
        std::vector<MSG> out;
        MSG message{};
        while (out.size() < 100 && PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
            out.push_back(message);
            DispatchMessage(&message);
        }
        return out;
    }

private:
    std::vector<HWND> FCreated;
};

TEST_F(WinUserTest, ClassesAreRegisteredOnceByCaseInsensitiveName) {
    WNDCLASSEX again{sizeof(WNDCLASSEX), 0, RecordingProcedure, nullptr, nullptr,
                     "winusertestPLAIN"};
    EXPECT_EQ(RegisterClassEx(&again), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    EXPECT_EQ(
        CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(WinUserTest, CreationSendsCreateStructThenSizeAndMove) {
    int param = 0;
    const HWND window = Create(PlainClass, WS_OVERLAPPED, 7, 8, 30, 40, nullptr, &param);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(CreateParam, &param);
    ASSERT_EQ(Seen().size(), 3u);
    EXPECT_EQ(Seen()[0].Message, WM_CREATE);
    EXPECT_EQ(Seen()[1].Message, WM_SIZE);
    EXPECT_EQ(Seen()[2].Message, WM_MOVE);

    EXPECT_EQ(Create(PlainClass, WS_CHILD, 0, 0, 10, 10), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);

    CreateResult = -1;
    EXPECT_EQ(Create(PlainClass, WS_OVERLAPPED, 0, 0, 10, 10), nullptr);
    EXPECT_EQ(SeenOf(WM_NCDESTROY).size(), 1u); // the refused window is destroyed
}

TEST_F(WinUserTest, DestroySendsDestroyParentFirstAndNcDestroyChildrenFirst) {
    const HWND parent = TopLevel();
    const HWND first = Create(PlainClass, WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, parent);
    const HWND grandchild = Create(PlainClass, WS_CHILD | WS_VISIBLE, 0, 0, 5, 5, first);
    const HWND second = Create(PlainClass, WS_CHILD | WS_VISIBLE, 60, 0, 50, 50, parent);
    const HHOOK hook =
        SetWindowsHookEx(WH_CALLWNDPROC, RecordingHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    Seen().clear();

    ASSERT_TRUE(DestroyWindow(parent));

    const std::vector<TSeen> destroys = SeenOf(WM_DESTROY);
    const std::vector<TSeen> expected = {
        {parent, WM_DESTROY, true}, {parent, WM_DESTROY, false},    {first, WM_DESTROY, true},
        {first, WM_DESTROY, false}, {grandchild, WM_DESTROY, true}, {grandchild, WM_DESTROY, false},
        {second, WM_DESTROY, true}, {second, WM_DESTROY, false}};
    EXPECT_EQ(destroys, expected);
    std::vector<HWND> ncdestroyed;
    for (const TSeen& s : SeenOf(WM_NCDESTROY))
        if (!s.FromHook)
            ncdestroyed.push_back(s.Window);
    EXPECT_EQ(ncdestroyed, (std::vector<HWND>{second, grandchild, first, parent}));

    for (HWND window : {parent, first, grandchild, second})
        EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(SendMessage(first, WM_USER, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(DestroyWindow(parent));
    const HWND next = TopLevel();
    for (HWND window : {parent, first, grandchild, second})
        EXPECT_NE(next, window);
    UnhookWindowsHookEx(hook);
}

// The rendering context's window tracking relies on this: while an ancestor receives
// WM_DESTROY, its descendants still exist and are still its children.
HWND TrackedWindow = nullptr;
bool TrackedWasChild = false;

LRESULT TrackingHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* info = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && info->message == WM_DESTROY && info->hwnd != TrackedWindow)
        TrackedWasChild = IsWindow(TrackedWindow) && IsChild(info->hwnd, TrackedWindow);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(WinUserTest, HookSeesDescendantsWhileAncestorIsDestroyed) {
    const HWND form = TopLevel();
    const HWND panel = Create(PlainClass, WS_CHILD, 0, 0, 50, 50, form);
    TrackedWindow = Create(OwnDCClass, WS_CHILD, 0, 0, 50, 50, panel);
    TrackedWasChild = false;
    const HHOOK hook = SetWindowsHookEx(WH_CALLWNDPROC, TrackingHook, nullptr, 0);
    DestroyWindow(form);
    EXPECT_TRUE(TrackedWasChild);
    UnhookWindowsHookEx(hook);
}

std::vector<int> HookCalls;
HHOOK SelfRemovingHook = nullptr;

LRESULT OlderHook(int code, WPARAM wParam, LPARAM lParam) {
    HookCalls.push_back(1);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT NewerHook(int code, WPARAM wParam, LPARAM lParam) {
    HookCalls.push_back(2);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT SwallowingHook(int, WPARAM, LPARAM) {
    HookCalls.push_back(3);
    return 0;
}

LRESULT UnhookingHook(int code, WPARAM wParam, LPARAM lParam) {
    HookCalls.push_back(4);
    UnhookWindowsHookEx(SelfRemovingHook);
    return CallNextHookEx(SelfRemovingHook, code, wParam, lParam);
}

TEST_F(WinUserTest, HooksRunNewestFirstAndPassTheCallOn) {
    const HWND window = TopLevel();
    const HHOOK older = SetWindowsHookEx(WH_CALLWNDPROC, OlderHook, nullptr, 0);
    const HHOOK newer = SetWindowsHookEx(WH_CALLWNDPROC, NewerHook, nullptr, 0);
    HookCalls.clear();
    Seen().clear();
    SendMessage(window, WM_USER, 0, 0);
    EXPECT_EQ(HookCalls, (std::vector<int>{2, 1}));
    EXPECT_EQ(Seen().size(), 1u); // the window procedure, after the hooks

    // Posted messages reach the window procedure without the hooks. (The new window's first
    // paint, whose erase is a sent message, is taken out of the way first.)
    Drain();
    HookCalls.clear();
    PostMessage(window, WM_USER + 1, 0, 0);
    Drain();
    EXPECT_TRUE(HookCalls.empty());

    const HHOOK swallowing = SetWindowsHookEx(WH_CALLWNDPROC, SwallowingHook, nullptr, 0);
    HookCalls.clear();
    SendMessage(window, WM_USER, 0, 0);
    EXPECT_EQ(HookCalls, (std::vector<int>{3}));

    EXPECT_TRUE(UnhookWindowsHookEx(swallowing));
    EXPECT_FALSE(UnhookWindowsHookEx(swallowing));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HOOK_HANDLE);
    SelfRemovingHook = SetWindowsHookEx(WH_CALLWNDPROC, UnhookingHook, nullptr, 0);
    HookCalls.clear();
    SendMessage(window, WM_USER, 0, 0);
    SendMessage(window, WM_USER, 0, 0);
    EXPECT_EQ(HookCalls, (std::vector<int>{4, 2, 1, 2, 1}));

    EXPECT_TRUE(UnhookWindowsHookEx(newer));
    EXPECT_TRUE(UnhookWindowsHookEx(older));
    HookCalls.clear();
    SendMessage(window, WM_USER, 0, 0);
    EXPECT_TRUE(HookCalls.empty());
    EXPECT_EQ(SetWindowsHookEx(WH_CALLWNDPROC + 1, OlderHook, nullptr, 0), nullptr);
}

TEST_F(WinUserTest, InvalidationsCoalesceIntoOnePaintAfterPostedMessages) {
    const HWND window = TopLevel();
    Drain();
    const RECT a{10, 10, 20, 20}, b{50, 5, 60, 15};
    InvalidateRect(window, &a, FALSE);
    PostMessage(window, WM_USER, 1, 0);
    InvalidateRect(window, &b, FALSE);
    InvalidateRect(window, &a, FALSE);
    PostMessage(window, WM_USER, 2, 0);

    RECT update{};
    ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
    EXPECT_EQ(update.left, 10);
    EXPECT_EQ(update.top, 5);
    EXPECT_EQ(update.right, 60);
    EXPECT_EQ(update.bottom, 20);

    MSG peeked{};
    ASSERT_TRUE(PeekMessage(&peeked, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(peeked.message, WM_USER); // still queued after a look
    const std::vector<MSG> delivered = Drain();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].wParam, 1u);
    EXPECT_EQ(delivered[1].wParam, 2u);
    EXPECT_EQ(delivered[2].message, WM_PAINT);
    EXPECT_FALSE(GetUpdateRect(window, &update, FALSE)); // DefWindowProc validated it
}

TEST_F(WinUserTest, PaintWaitsForVisibilityAndErasesOnRequest) {
    const HWND hidden = Create(BackgroundClass, WS_OVERLAPPED, 0, 0, 40, 40);
    InvalidateRect(hidden, nullptr, TRUE);
    EXPECT_TRUE(Drain().empty());
    ShowWindow(hidden, SW_SHOW);
    const std::vector<MSG> delivered = Drain();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].message, WM_PAINT);
    // The class background answers WM_ERASEBKGND.
    EXPECT_EQ(SeenOf(WM_ERASEBKGND).size(), 1u);

    const HWND plain = TopLevel();
    Drain();
    Seen().clear();
    InvalidateRect(plain, nullptr, TRUE);
    PAINTSTRUCT paint{};
    EXPECT_NE(BeginPaint(plain, &paint), nullptr);
    EXPECT_TRUE(paint.fErase); // nobody erased it: the painter must
    EXPECT_EQ(SeenOf(WM_ERASEBKGND).size(), 1u);
    EndPaint(plain, &paint);
    InvalidateRect(plain, nullptr, FALSE);
    BeginPaint(plain, &paint);
    EXPECT_FALSE(paint.fErase);
    EXPECT_EQ(SeenOf(WM_ERASEBKGND).size(), 1u);
    EndPaint(plain, &paint);
    EXPECT_TRUE(Drain().empty());
}

TEST_F(WinUserTest, OwnDCIsTheSameForTheWindowsLife) {
    const HWND own = Create(OwnDCClass, WS_OVERLAPPED | WS_VISIBLE, 0, 0, 10, 10);
    const HDC dc = GetDC(own);
    EXPECT_EQ(GetDC(own), dc);
    EXPECT_EQ(ReleaseDC(own, dc), 1);
    EXPECT_EQ(Win32DCType(dc), OBJ_DC);
    EXPECT_EQ(WindowFromDC(dc), own);
    PAINTSTRUCT paint{};
    EXPECT_EQ(BeginPaint(own, &paint), dc);
    EndPaint(own, &paint);
    EXPECT_EQ(GetDC(own), dc);
    DestroyWindow(own);
    EXPECT_EQ(Win32DCType(dc), 0u);
    EXPECT_EQ(WindowFromDC(dc), nullptr);

    const HWND plain = TopLevel();
    const HDC first = GetDC(plain), second = GetDC(plain);
    EXPECT_NE(first, second);
    EXPECT_EQ(ReleaseDC(plain, first), 1);
    EXPECT_EQ(Win32DCType(first), 0u);
    EXPECT_EQ(ReleaseDC(plain, first), 0);
    EXPECT_EQ(ReleaseDC(own, second), 0); // not that window's
    EXPECT_EQ(ReleaseDC(plain, second), 1);
}

TEST_F(WinUserTest, NonWindowDCsKeepTypeDrawableAndPixelFormat) {
    const HDC dc = Win32CreateDC(OBJ_MEMDC, 42);
    EXPECT_EQ(Win32DCType(dc), OBJ_MEMDC);
    EXPECT_EQ(Win32DCDrawable(dc), 42u);
    EXPECT_EQ(WindowFromDC(dc), nullptr);
    Win32SetDCPixelFormat(dc, 7);
    EXPECT_EQ(Win32DCPixelFormat(dc), 7);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 0); // GDI's to delete, not the window manager's
    Win32DeleteDC(dc);
    EXPECT_EQ(Win32DCType(dc), 0u);

    const HWND window = TopLevel();
    Win32SetDCPixelFormat(GetDC(window), 3);
    EXPECT_EQ(Win32WindowPixelFormat(window), 3);
}

TEST_F(WinUserTest, ClientToScreenAddsAncestorsAndFollowsMoves) {
    const HWND form = TopLevel();
    const HWND panel = Create(PlainClass, WS_CHILD | WS_VISIBLE, 10, 20, 100, 100, form);
    const HWND view = Create(PlainClass, WS_CHILD | WS_VISIBLE, 5, 6, 50, 50, panel);
    POINT point{1, 2};
    ASSERT_TRUE(ClientToScreen(view, &point));
    EXPECT_EQ(point.x, 100 + 10 + 5 + 1);
    EXPECT_EQ(point.y, 50 + 20 + 6 + 2);

    Seen().clear();
    SetWindowPos(form, 200, 70, 300, 200);
    EXPECT_EQ(SeenOf(WM_SIZE).size(), 0u);
    ASSERT_EQ(SeenOf(WM_MOVE).size(), 1u);
    point = {0, 0};
    ClientToScreen(view, &point);
    EXPECT_EQ(point.x, 215);
    EXPECT_EQ(point.y, 96);

    Seen().clear();
    SetWindowPos(view, 5, 6, 80, 40);
    EXPECT_EQ(SeenOf(WM_MOVE).size(), 0u);
    RECT rect{};
    GetClientRect(view, &rect);
    EXPECT_EQ(rect.right, 80);
    EXPECT_EQ(rect.bottom, 40);
    EXPECT_TRUE(IsChild(form, view));
    EXPECT_FALSE(IsChild(view, form));
    EXPECT_EQ(WindowRecord(view).Parent, panel);
}

TEST_F(WinUserTest, SizeMessagesCarryTheNewClientSize) {
    const HWND window = TopLevel();
    Drain();
    Seen().clear();
    MSG message{};
    SetWindowPos(window, 100, 50, 640, 480);
    ASSERT_EQ(SeenOf(WM_SIZE).size(), 1u);
    // The resize leaves the window to be painted again.
    ASSERT_TRUE(PeekMessage(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_PAINT);
    RECT rect{};
    GetClientRect(window, &rect);
    EXPECT_EQ(rect.right, 640);
    EXPECT_EQ(rect.bottom, 480);
}

TEST_F(WinUserTest, QuitComesAfterPostedMessagesAndBeforePaint) {
    const HWND window = TopLevel();
    Drain();
    InvalidateRect(window, nullptr, FALSE);
    PostMessage(window, WM_USER, 0, 0);
    PostQuitMessage(3);
    MSG message{};
    ASSERT_TRUE(GetMessage(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, WM_USER);
    EXPECT_FALSE(GetMessage(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);
    ASSERT_TRUE(GetMessage(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, WM_PAINT);
    DispatchMessage(&message);
    // Nothing left: headless GetMessage returns instead of waiting.
    EXPECT_FALSE(GetMessage(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, WM_NULL);
}

TEST_F(WinUserTest, DestroyedWindowsLoseTheirQueuedMessages) {
    const HWND window = TopLevel();
    PostMessage(window, WM_USER, 0, 0);
    SendMessage(window, WM_CLOSE, 0, 0); // DefWindowProc destroys it
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(Drain().empty());
    EXPECT_FALSE(PostMessage(window, WM_USER, 0, 0));
}

TEST_F(WinUserTest, WindowDataAndText) {
    const HWND window = TopLevel();
    EXPECT_EQ(SetWindowLongPtr(window, GWLP_USERDATA, 1234), 0);
    EXPECT_EQ(SetWindowLongPtr(window, GWLP_USERDATA, 5), 1234);
    EXPECT_EQ(GetWindowLongPtr(window, GWLP_USERDATA), 5);
    EXPECT_EQ(GetWindowLongPtr(window, GWL_STYLE) & WS_VISIBLE, WS_VISIBLE);
    EXPECT_EQ(GetWindowLongPtr(window, 99), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
    SetWindowText(window, "Form1");
    EXPECT_EQ(WindowRecord(window).Text, "Form1");
    ShowWindow(window, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(WinUserTest, MessageBoxIsRecordedWithoutADisplay) {
    MessageBoxRecord() = {};
    EXPECT_EQ(MessageBox(nullptr, "File not found", "skyview", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxRecord().Text, "File not found");
    EXPECT_EQ(MessageBoxRecord().Caption, "skyview");
    EXPECT_EQ(MessageBoxRecord().Count, 1);
}

TEST_F(WinUserTest, CreationFailsWithoutADisplayOutsideHeadlessMode) {
    const char* saved = std::getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    setenv("DISPLAY", ":65000", 1);
    SetHeadless(false);
    const bool opened = Win32Display() != nullptr;
    const HWND window = opened ? nullptr : TopLevel();
    const DWORD error = GetLastError();
    SetHeadless(true);
    saved ? setenv("DISPLAY", previous.c_str(), 1) : unsetenv("DISPLAY");
    if (opened)
        GTEST_SKIP() << "a display was already open";
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(error, ERROR_DISPLAY_NOT_AVAILABLE);
}

TEST(WinUserServices, ErrorsColoursAndClock) {
    SetLastError(ERROR_INVALID_PARAMETER);
    DWORD other = 0;
    std::thread([&] { other = GetLastError(); }).join();
    EXPECT_EQ(other, ERROR_SUCCESS); // per thread
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SysErrorMessage(ERROR_INVALID_PARAMETER), "The parameter is incorrect.");
    EXPECT_EQ(SysErrorMessage(ERROR_CLASS_ALREADY_EXISTS), "Class already exists.");
    EXPECT_EQ(SysErrorMessage(4242), "Unknown error 4242");

    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), 0x00F0F0F0u);
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), 0x00FFFFFFu);
    EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), 0u);
    int64_t frequency = 0, first = 0, second = 0;
    QueryPerformanceFrequency(&frequency);
    EXPECT_EQ(frequency, 1000000000);
    QueryPerformanceCounter(&first);
    QueryPerformanceCounter(&second);
    EXPECT_GE(second, first);
}

TEST(WinUserText, WrapsAtBreaksWordsAndOverlongWords) {
    const auto measure = [](std::string_view text) { return static_cast<int>(text.size()); };
    EXPECT_EQ(Win32WrapText("one two three", 7, measure),
              (std::vector<std::string>{"one two", "three"}));
    EXPECT_EQ(Win32WrapText("a\r\n\nb", 7, measure), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Win32WrapText("a\rb\n\r", 7, measure), (std::vector<std::string>{"a", "b", "", ""}));
    EXPECT_EQ(Win32WrapText("go abcdefghij x", 4, measure),
              (std::vector<std::string>{"go", "abcd", "efgh", "ij x"}));
    EXPECT_EQ(Win32Utf8ToLatin1("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xE9 ?");
}

} // namespace
