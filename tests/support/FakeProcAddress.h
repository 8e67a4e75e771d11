// Answers wglGetProcAddress from a scripted map and wglGetCurrentDC with a fixed device
// context, for tests of the code that looks extension entry points up. Installs itself in the
// GDI table in its constructor (one at a time) and puts the previous table back in its
// destructor.
#pragma once

#include "platform/win32/WinGDI.h"

#include <map>
#include <string>
#include <vector>

class TFakeProcAddress {
public:
    TFakeProcAddress();
    ~TFakeProcAddress();
    TFakeProcAddress(const TFakeProcAddress&) = delete;
    TFakeProcAddress& operator=(const TFakeProcAddress&) = delete;

    std::map<std::string, PROC> Procs; // names without an entry answer nullptr
    std::vector<std::string> Asked;    // every name looked up, in order
    HDC CurrentDC = reinterpret_cast<HDC>(0x5DC);

private:
    TGdiEntryPoints FSaved;
    TFakeProcAddress* FPrevious = nullptr;
};
