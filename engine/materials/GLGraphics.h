// The 32-bit bitmap between a decoded picture and an OpenGL texture: RGBA bytes converted from
// the framework's graphics, the alpha, brightness and gamma operations a texture applies, and
// the upload with its resampling to power-of-two sizes and its mipmaps.
#pragma once

#include "platform/framework/Classes.h"
#include "platform/framework/Graphics.h"
#include "platform/win32/OpenGL32.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Texture minification filters; the ones with "Mipmap" need the smaller levels.
enum TGLMinFilter : uint8_t {
    miNearest,
    miLinear,
    miNearestMipmapNearest,
    miLinearMipmapNearest,
    miNearestMipmapLinear,
    miLinearMipmapLinear
};

// A value for each of the 256 levels of a colour channel.
using TColorTable = std::array<uint8_t, 256>;

struct TGLPixel32 {
    uint8_t r, g, b, a;
    bool operator==(const TGLPixel32&) const = default;
};

// Storage for bytes that are always written before they are read: growing it leaves the new
// bytes as they come instead of clearing them first.
template <typename T> struct TUnclearedAllocator : std::allocator<T> {
    template <typename U> struct rebind { using other = TUnclearedAllocator<U>; };
    template <typename U> void construct(U* item) noexcept { ::new (static_cast<void*>(item)) U; }
    template <typename U, typename... Args> void construct(U* item, Args&&... args) {
        ::new (static_cast<void*>(item)) U(std::forward<Args>(args)...);
    }
};
using TPixelBytes = std::vector<uint8_t, TUnclearedAllocator<uint8_t>>;

// Rows of a framework bitmap to RGBA: bytes B, G, R become R, G, B, 255; B, G, R, A become
// R, G, B, A.
void Bgr24RowToRgba(const uint8_t* source, uint8_t* destination, int32_t pixelCount);
void Bgra32RowToRgba(const uint8_t* source, uint8_t* destination, int32_t pixelCount);

// Width x Height RGBA pixels, rows of Width * 4 bytes without padding. Converted from a picture,
// data row 0 is the picture's bottom row, so that it lies at texture coordinate t = 0, unless
// PreserveRowOrder keeps the picture's top row first (as cube-map faces want).
class TGLBitmap32 : public TPersistent {
public:
    TGLBitmap32() = default;
    TGLBitmap32(const TGLBitmap32&) = delete;
    TGLBitmap32& operator=(const TGLBitmap32&) = delete;
    TGLBitmap32(TGLBitmap32&&) = default;
    TGLBitmap32& operator=(TGLBitmap32&&) = default;
    const char* ClassName() const override { return "TGLBitmap32"; }

    // From nil: empty. From a TGLBitmap32: its sizes and pixels. From a framework graphic: its
    // pixels, a width that is not a multiple of 4 stretched to the next one.
    void Assign(const TPersistent* source) override;

    int32_t Width() const { return FWidth; }
    int32_t Height() const { return FHeight; }
    // Rounded up to a multiple of 4. Resizing keeps no pixel layout; negative sizes and sizes of
    // more than 2 GB fail an assertion.
    void SetWidth(int32_t width);
    void SetHeight(int32_t height);
    int32_t DataSize() const { return static_cast<int32_t>(FData.size()); }
    uint8_t* Data() { return FData.data(); }
    const uint8_t* Data() const { return FData.data(); }
    TGLPixel32* ScanLine(int32_t y);
    const TGLPixel32* ScanLine(int32_t y) const;
    bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
    bool PreserveRowOrder() const { return FPreserveRowOrder; }
    void SetPreserveRowOrder(bool value) { FPreserveRowOrder = value; }

    // Alpha of every pixel: the mean of R, G and B; 0 where R, G and B are the colour's and 255
    // elsewhere (a system colour is resolved first); a fixed value; 255 - A; the square root of
    // the mean intensity, trunc(sqrt(i / 255) * 255).
    void SetAlphaFromIntensity();
    void SetAlphaTransparentForColor(TColor color);
    void SetAlphaTransparentForColor(TGLPixel32 color);
    void SetAlphaToValue(uint8_t value);
    void InvertAlpha();
    void SqrtAlpha();
    // R, G and B through a table: min(round(i * factor), 255) for factor >= 0, and
    // round((i / 255) ^ (1 / gamma) * 255) for gamma > 0 (exponent 10 below a gamma of 0.1).
    void CorrectBrightness(float factor);
    // Replaces a height field (the intensity of each pixel) by its surface normals, encoded as
    // (n + 1) / 2 in R, G, B, alpha 255. Slopes are height differences of the two neighbours
    // (0..255 each) times `scale`; at an edge the neighbour wraps round or repeats the edge.
    void GrayScaleToNormalMap(float scale, bool wrapHorizontally, bool wrapVertically);
    void CorrectGamma(float gamma);

    // Uploads level 0 of `target` (bound by the caller) at the next powers of two, no larger
    // than GL_MAX_TEXTURE_SIZE, resampled by the GL utility library when the sizes differ, and
    // builds the smaller levels when the filter needs them. Reports the size uploaded. An empty
    // bitmap uploads nothing and reports nothing.
    void UploadToTexture(GLenum target, TGLMinFilter minFilter, GLint internalFormat,
                         int32_t& uploadedWidth, int32_t& uploadedHeight) const;

    // A 32-bit framework bitmap of the pixels, rows in reverse order.
    std::unique_ptr<TBitmap> Create32BitsBitmap() const;

private:
    void Resize();
    void AssignFromGraphic(const TGraphic& graphic);
    bool AssignDrawnRgba(const TGraphic& graphic);
    void AssignFrom24BitsBitmap(const TBitmap& bitmap);
    void AssignFrom32BitsBitmap(const TBitmap& bitmap);
    void AssignFromRows(const TBitmap& bitmap, void (*convert)(const uint8_t*, uint8_t*, int32_t));
    void ApplyColorTable(const TColorTable& table);

    TPixelBytes FData;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    bool FPreserveRowOrder = false;
};

// The graphic class registered for a file extension (a leading "." is dropped, case does not
// matter), or none.
TGraphicClass GraphicClassForExtension(const std::string& extension);
