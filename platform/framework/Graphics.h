// Colours and pictures of the framework.
//
// A TColor is an RGB value (0x00BBGGRR) or, when negative, a system colour whose low byte is the
// system colour index.
//
// A TGraphic is an image that reads and writes its own file format and draws itself onto a
// bitmap. TBitmap holds 24- or 32-bit pixels in memory (bytes B, G, R and, for 32 bits, A; rows
// top first, no padding) and reads and writes uncompressed BMP files. TPicture holds one graphic
// of any registered class and stores it as the graphic's class name followed by its file.
// Picture formats are registered by file extension, each with the graphic class that reads it.
#pragma once

#include "platform/framework/Classes.h"
#include "platform/framework/Streams.h"
#include "platform/framework/SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

using TColor = int32_t;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;

// The RGB value of a colour, system colours resolved.
uint32_t ColorToRGB(TColor color);

// A graphic that cannot be read, drawn or sized as asked.
SKYVIEW_EXCEPTION(EInvalidGraphic, Exception)

// The largest width or height of a graphic the framework reads or allocates, so that a file
// cannot make it allocate more than a few gigabytes whatever it declares.
constexpr int32_t MaxGraphicSide = 16384;

struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

class TGraphic;
class TBitmap;

// A graphic class as the registries see it: its name and a maker of empty instances.
struct TGraphicClassInfo {
    const char* Name;
    std::unique_ptr<TGraphic> (*Create)();
};
using TGraphicClass = const TGraphicClassInfo*;

class TGraphic : public TPersistent {
public:
    const char* ClassName() const override { return "TGraphic"; }
    virtual TGraphicClass ClassType() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual bool Empty() const = 0;

    // Reads the graphic's file from the stream's position to its end. A file that cannot be
    // read raises EInvalidGraphic and leaves the graphic as it was.
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) const = 0;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;
    // The form a picture stores: a 32-bit little-endian byte count, then the file itself. A
    // count beyond the bytes the stream holds raises EInvalidGraphic before anything is read.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream) const;
    // The same from bytes that live as long as the program (data compiled into it), which the
    // graphic may keep in place of a copy of the file.
    void ReadProgramData(TCustomMemoryStream& stream);
    // Reads the file `file`, which lives as long as the program; the default reads a copy.
    virtual void LoadFromProgramData(std::span<const uint8_t> file);

    // Draws the graphic scaled to fill `rect` of `target`, clipped to the target's bounds.
    virtual void DrawInto(TBitmap& target, const TRect& rect) const = 0;
    // Draws the graphic at its own size as RGBA pixels (R, G, B, 255) into rows of Width() * 4
    // bytes: its top row at `topRow`, each next row `rowStep` bytes further. False when the
    // graphic cannot, and is to be drawn into a bitmap instead.
    virtual bool DrawRgba(uint8_t* topRow, ptrdiff_t rowStep) const;

    // Runs after every change of the graphic's content.
    TNotifyEvent OnChange;

protected:
    void Changed();
};

enum TPixelFormat : uint8_t { pf24bit, pf32bit };

class TBitmap : public TGraphic {
public:
    static const TGraphicClassInfo ClassInfo;
    const char* ClassName() const override { return "TBitmap"; }
    TGraphicClass ClassType() const override { return &ClassInfo; }

    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    bool Empty() const override { return FWidth == 0 || FHeight == 0; }
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    int32_t BytesPerPixel() const { return FPixelFormat == pf32bit ? 4 : 3; }
    // Converts the pixels; a 24-bit pixel becomes opaque (alpha 255).
    void SetPixelFormat(TPixelFormat pixelFormat);
    // Every pixel is black (alpha 0) after a change of size. Sizes above MaxGraphicSide or below
    // 0 raise EInvalidGraphic.
    void SetSize(int32_t width, int32_t height);

    // Row `row` (0 is the top one): Width() * BytesPerPixel() bytes, the rows following each
    // other without padding. A row outside the bitmap raises EInvalidGraphic.
    uint8_t* ScanLine(int32_t row);
    const uint8_t* ScanLine(int32_t row) const;

    // `graphic` at its own size with its top-left corner at (x, y), or stretched over `rect`.
    void Draw(int32_t x, int32_t y, const TGraphic& graphic);
    void StretchDraw(const TRect& rect, const TGraphic& graphic);
    // Nearest-pixel scaling; 32-bit pixels keep their alpha, 24-bit ones become opaque.
    void DrawInto(TBitmap& target, const TRect& rect) const override;

    // From another bitmap: its size, pixel format and pixels.
    void Assign(const TPersistent* source) override;

    // BMP files: uncompressed, 24 or 32 bits per pixel, bottom-up or top-down.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;

private:
    int32_t RowSize() const { return FWidth * BytesPerPixel(); }
    void Reset(int32_t width, int32_t height, TPixelFormat pixelFormat);

    int32_t FWidth = 0;
    int32_t FHeight = 0;
    TPixelFormat FPixelFormat = pf24bit;
    std::vector<uint8_t> FPixels;
};

// A registered picture format: the lower-case file extension without its dot, a description
// for file dialogs, and the class that reads such files.
struct TPictureFileFormat {
    std::string Extension;
    std::string Description;
    TGraphicClass GraphicClass;
};

// Holds one graphic (or none) and passes its changes on through OnChange.
class TPicture : public TPersistent {
public:
    TPicture() = default;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;
    const char* ClassName() const override { return "TPicture"; }

    TGraphic* Graphic() const { return FGraphic.get(); }
    // Takes the graphic over (none clears the picture).
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    int32_t Width() const { return FGraphic ? FGraphic->Width() : 0; }
    int32_t Height() const { return FGraphic ? FGraphic->Height() : 0; }

    // From a picture or a graphic: a copy of its graphic; from nil: no graphic.
    void Assign(const TPersistent* source) override;

    // By the file's extension among the registered formats; an extension nobody registered
    // raises EInvalidGraphic. The picture changes only when the whole file could be read.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    // The stored form: one length byte, the graphic's class name (the length 0 and no name for a
    // picture without a graphic), then the graphic's ReadData form. The class is found by name
    // among the registered formats; an unknown one raises EInvalidGraphic.
    void ReadData(TStream& stream);
    void WriteData(TStream& stream) const;
    // The stored form from bytes that live as long as the program, which the graphic may keep in
    // place of a copy.
    void ReadProgramData(std::span<const uint8_t> stored);
    // Declares the stored form as the binary property "Data".
    void DefineProperties(TFiler& filer) override;

    TNotifyEvent OnChange;

    // The process-wide registry, which starts with "bmp" for TBitmap. Registering an extension
    // again for the same class changes nothing.
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   TGraphicClass graphicClass);
    static void UnregisterGraphicClass(TGraphicClass graphicClass);
    static const std::vector<TPictureFileFormat>& FileFormats();
    // The registered class of that exact name, or none.
    static TGraphicClass FindGraphicClass(const std::string& className);

private:
    void Changed();

    std::unique_ptr<TGraphic> FGraphic;
};
