// A scripted pixel-format and WGL driver for unit tests: it stands in for the GDI/WGL entry
// points, answers from a list of formats and scripted searches, and logs every call, so that
// the context code can be tested against drivers we do not have.
#pragma once

#include "platform/win32/WinGDI.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

struct TFakePixelFormat {
    PIXELFORMATDESCRIPTOR Descriptor{};
    int SampleBuffers = 0;
};

// A descriptor with the usual flags of a window format.
TFakePixelFormat FakeFormat(int colorBits, int depthBits, bool generic, int sampleBuffers = 0);

class TFakeGdi {
public:
    TFakeGdi();
    ~TFakeGdi();
    TFakeGdi(const TFakeGdi&) = delete;
    TFakeGdi& operator=(const TFakeGdi&) = delete;
    static TFakeGdi& Current();

    // Pixel format n is Formats[n - 1].
    std::vector<TFakePixelFormat> Formats;
    // The WGL extension string; the extension entry points exist only for what it names.
    std::string Extensions = "WGL_ARB_extensions_string ";
    // The classic search; by default the first format whose colour and depth bits both reach
    // the request, else 0.
    std::function<int(const PIXELFORMATDESCRIPTOR&)> Choose;
    // The attribute search: candidate formats for an attribute list (none by default).
    std::function<std::vector<int>(const std::vector<int>& attributes)> ChooseByAttributes;

    DWORD ObjectType = OBJ_DC;
    bool MakeCurrentFails = false;
    DWORD MakeCurrentError = 0;
    bool DeleteContextFails = false;
    bool CreateContextFails = false;
    int SwapInterval = 0;

    std::vector<std::string> Log;                    // one line per call
    std::vector<std::vector<int>> AttributeSearches; // every list given to the attribute search
    std::map<HDC, int> PixelFormatOf;                // formats set on device contexts
    size_t Count(const std::string& prefix) const;   // log lines starting with prefix

    // Internal state of the fake driver.
    HDC CurrentDC = nullptr;
    HGLRC CurrentRC = nullptr;
    uintptr_t NextContext = 1;
    std::map<HGLRC, HDC> Contexts;

private:
    struct TSavedWGL;
    TGdiEntryPoints FSaved;
    TSavedWGL* FSavedWGL;
    TFakeGdi* FPrevious;
};
