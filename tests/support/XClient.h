// A second X connection for tests: finds windows by title, reads their geometry, properties and
// pixels, and sends them what a user or a window manager would (keys, pointer events, close).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TRgb {
    uint8_t R, G, B;
    bool operator==(const TRgb&) const = default;
};

struct TWindowInfo {
    unsigned long Id = 0;
    int X = 0, Y = 0; // relative to the parent
    int Width = 0, Height = 0;
};

class TXClient {
public:
    // On the display named (DISPLAY's when none); throws std::runtime_error without one.
    explicit TXClient(const char* display = nullptr);
    ~TXClient();
    TXClient(const TXClient&) = delete;
    TXClient& operator=(const TXClient&) = delete;

    // The first top-level window (at any depth below the root) with this title, waiting up to
    // `seconds` for it to appear and be mapped.
    std::optional<TWindowInfo> WaitForWindow(const std::string& title, double seconds);
    std::optional<TWindowInfo> FindWindow(const std::string& title);
    std::vector<TWindowInfo> Children(unsigned long window);
    TWindowInfo Geometry(unsigned long window);
    std::string Title(unsigned long window);
    std::optional<std::string> TextProperty(unsigned long window, const std::string& property);

    // Pixels as the screen shows them (the window must be mapped and unobscured).
    std::vector<TRgb> Capture(unsigned long window, int& width, int& height);
    TRgb Pixel(unsigned long window, int x, int y);
    // Writes a capture as a PNG file of that name into the build's test-output directory.
    void SavePng(unsigned long window, const std::string& name);

    // Fills a rectangle of the window in magenta, as any client may draw into any window: it stays
    // until the window's owner draws there again.
    void Scribble(unsigned long window, int x, int y, int width, int height);

    void SendClose(unsigned long window);
    // Destroys another client's window, as some tools and window managers do.
    void DestroyWindow(unsigned long window);
    void SendKey(unsigned long window, const std::string& keysym);
    void SendButton(unsigned long window, int x, int y, int button, bool press);
    void SendMotion(unsigned long window, int x, int y, unsigned buttonMask);
    void MoveWindow(unsigned long window, int x, int y);
    void ResizeWindow(unsigned long window, int width, int height);
    void Sync();
    int ErrorCount() const;

private:
    struct TImpl;
    TImpl* FImpl;
};
