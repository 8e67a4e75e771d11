// Window classes of the window-manager tests and the log of what their window procedures saw.
#pragma once

#include "platform/win32/WinUser.h"

#include <vector>

// The messages that a test program's window procedures and hooks saw, in order, as records of
// the program's own type TSeen (which has a Message member).
template <typename TSeen> struct TMessageLog {
    static std::vector<TSeen>& Seen() {
        static std::vector<TSeen> seen;
        return seen;
    }
    static std::vector<TSeen> SeenOf(UINT message) {
        std::vector<TSeen> out;
        for (const TSeen& s : Seen())
            if (s.Message == message)
                out.push_back(s);
        return out;
    }
};

// Registers the window class unless one of that name is registered; false when that fails.
inline bool RegisterTestClass(const char* name, WNDPROC procedure, UINT style, HBRUSH background) {
    WNDCLASSEX windowClass{sizeof(WNDCLASSEX), style, procedure, nullptr, background, name};
    WNDCLASSEX existing{};
    return GetClassInfoEx(nullptr, name, &existing) || RegisterClassEx(&windowClass) != 0;
}
