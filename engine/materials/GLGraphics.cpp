#include "engine/materials/GLGraphics.h"

#include "engine/context/OpenGL1x.h"
#include "platform/framework/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int32_t RoundUpToMultipleOf4(int32_t value) {
    return (value + 3) & ~3;
}

int32_t NextPowerOfTwo(int32_t value) {
    int32_t power = 1;
    while (power < value)
        power *= 2;
    return power;
}

bool IsFloatFormat(GLint internalFormat) {
    return internalFormat == static_cast<GLint>(GL_RGBA32F_ARB) ||
           internalFormat == static_cast<GLint>(GL_RGBA16F_ARB) || internalFormat == 0x888A ||
           internalFormat == 0x888B;
}

bool NeedsMipmaps(TGLMinFilter filter) {
    return filter != miNearest && filter != miLinear;
}

uint8_t Intensity(const uint8_t* pixel) {
    return static_cast<uint8_t>((pixel[0] + pixel[1] + pixel[2]) / 3);
}

const TColorTable& SqrtTable() {
    static const TColorTable table = [] {
        TColorTable built{};
        for (int i = 0; i < 256; ++i)
            built[i] = static_cast<uint8_t>(std::trunc(std::sqrt(i / 255.0) * 255));
        return built;
    }();
    return table;
}

uint8_t ClampedRound(double value) {
    return static_cast<uint8_t>(std::min<long>(std::lround(value), 255));
}

} // namespace

void Bgr24RowToRgba(const uint8_t* source, uint8_t* destination, int32_t pixelCount) {
    for (int32_t i = 0; i < pixelCount; ++i, source += 3, destination += 4) {
        destination[0] = source[2];
        destination[1] = source[1];
        destination[2] = source[0];
        destination[3] = 255;
    }
}

void Bgra32RowToRgba(const uint8_t* source, uint8_t* destination, int32_t pixelCount) {
    for (int32_t i = 0; i < pixelCount; ++i, source += 4, destination += 4) {
        destination[0] = source[2];
        destination[1] = source[1];
        destination[2] = source[0];
        destination[3] = source[3];
    }
}

// --- sizes and conversions ---------------------------------------------------------------------

namespace {

size_t DataSizeOf(int32_t width, int32_t height) {
    const int64_t size = int64_t{width} * height * 4;
    Assert(size <= std::numeric_limits<int32_t>::max(), "Bitmap larger than 2 GB");
    return static_cast<size_t>(size);
}

} // namespace

// Bytes a resize adds are cleared; the conversions, which write every byte, size the data
// without.
void TGLBitmap32::Resize() {
    const size_t before = FData.size();
    FData.resize(DataSizeOf(FWidth, FHeight));
    if (FData.size() > before)
        std::fill(FData.begin() + static_cast<ptrdiff_t>(before), FData.end(), 0);
}

void TGLBitmap32::SetWidth(int32_t width) {
    Assert(width >= 0, "Negative bitmap width");
    width = RoundUpToMultipleOf4(width);
    if (width == FWidth)
        return;
    FWidth = width;
    Resize();
}

void TGLBitmap32::SetHeight(int32_t height) {
    Assert(height >= 0, "Negative bitmap height");
    if (height == FHeight)
        return;
    FHeight = height;
    Resize();
}

TGLPixel32* TGLBitmap32::ScanLine(int32_t y) {
    return reinterpret_cast<TGLPixel32*>(FData.data() + static_cast<size_t>(y) * FWidth * 4);
}

const TGLPixel32* TGLBitmap32::ScanLine(int32_t y) const {
    return reinterpret_cast<const TGLPixel32*>(FData.data() + static_cast<size_t>(y) * FWidth * 4);
}

void TGLBitmap32::Assign(const TPersistent* source) {
    if (!source) {
        FWidth = FHeight = 0;
        TPixelBytes().swap(FData);
    } else if (const auto* bitmap = dynamic_cast<const TGLBitmap32*>(source)) {
        if (bitmap == this)
            return;
        FWidth = bitmap->FWidth;
        FHeight = bitmap->FHeight;
        FData = bitmap->FData;
    } else if (const auto* graphic = dynamic_cast<const TGraphic*>(source)) {
        AssignFromGraphic(*graphic);
    } else {
        TPersistent::Assign(source);
    }
}

void TGLBitmap32::AssignFromGraphic(const TGraphic& graphic) {
    const auto* bitmap = dynamic_cast<const TBitmap*>(&graphic);
    if (bitmap && bitmap->Width() % 4 == 0) {
        if (bitmap->PixelFormat() == pf32bit)
            AssignFrom32BitsBitmap(*bitmap);
        else
            AssignFrom24BitsBitmap(*bitmap);
        return;
    }
    const int32_t width = RoundUpToMultipleOf4(graphic.Width());
    if (width == graphic.Width() && AssignDrawnRgba(graphic))
        return;
    // Any other graphic is drawn into a 24-bit bitmap first, stretched by up to three pixels
    // when its width is not a multiple of 4.
    TBitmap temporary;
    temporary.SetSize(width, graphic.Height());
    if (width == graphic.Width())
        temporary.Draw(0, 0, graphic);
    else
        temporary.StretchDraw({0, 0, width, graphic.Height()}, graphic);
    AssignFrom24BitsBitmap(temporary);
}

// A graphic that draws RGBA rows itself (a JPEG picture decodes into them) needs no 24-bit
// bitmap in between; its rows go to the data in the same order as converted ones would. The
// bitmap changes only once the graphic is drawn.
bool TGLBitmap32::AssignDrawnRgba(const TGraphic& graphic) {
    const int32_t width = graphic.Width();
    const int32_t height = graphic.Height();
    TPixelBytes data(DataSizeOf(width, height));
    uint8_t* topRow = data.data();
    ptrdiff_t rowStep = ptrdiff_t{width} * 4;
    if (!FPreserveRowOrder && height > 0) {
        topRow += (height - 1) * rowStep;
        rowStep = -rowStep;
    }
    if (!graphic.DrawRgba(topRow, rowStep))
        return false;
    FData.swap(data);
    FWidth = width;
    FHeight = height;
    return true;
}

void TGLBitmap32::AssignFrom24BitsBitmap(const TBitmap& bitmap) {
    Assert(bitmap.PixelFormat() == pf24bit, "Bitmap is not 24 bits per pixel");
    AssignFromRows(bitmap, Bgr24RowToRgba);
}

void TGLBitmap32::AssignFrom32BitsBitmap(const TBitmap& bitmap) {
    Assert(bitmap.PixelFormat() == pf32bit, "Bitmap is not 32 bits per pixel");
    AssignFromRows(bitmap, Bgra32RowToRgba);
}

void TGLBitmap32::AssignFromRows(const TBitmap& bitmap,
                                 void (*convert)(const uint8_t*, uint8_t*, int32_t)) {
    Assert(bitmap.Width() % 4 == 0, "Bitmap width is not a multiple of 4");
    FWidth = bitmap.Width();
    FHeight = bitmap.Height();
    FData.resize(DataSizeOf(FWidth, FHeight));
    // Picture row i goes to data row Height-1-i, or, preserving the order, to data row i.
    for (int32_t i = 0; i < FHeight; ++i) {
        const int32_t pictureRow = FPreserveRowOrder ? FHeight - 1 - i : i;
        convert(bitmap.ScanLine(pictureRow), Data() + size_t(FHeight - 1 - i) * FWidth * 4, FWidth);
    }
}

std::unique_ptr<TBitmap> TGLBitmap32::Create32BitsBitmap() const {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf32bit);
    bitmap->SetSize(FWidth, FHeight);
    for (int32_t y = 0; y < FHeight; ++y) {
        // R, G, B, A to B, G, R, A is the same swap as the other way round.
        Bgra32RowToRgba(Data() + size_t(y) * FWidth * 4, bitmap->ScanLine(FHeight - 1 - y), FWidth);
    }
    return bitmap;
}

// --- alpha, brightness and gamma ---------------------------------------------------------------

void TGLBitmap32::SetAlphaFromIntensity() {
    for (size_t i = 0; i < FData.size(); i += 4)
        FData[i + 3] = Intensity(&FData[i]);
}

void TGLBitmap32::SetAlphaTransparentForColor(TColor color) {
    const uint32_t rgb = ColorToRGB(color);
    SetAlphaTransparentForColor(TGLPixel32{static_cast<uint8_t>(rgb),
                                           static_cast<uint8_t>(rgb >> 8),
                                           static_cast<uint8_t>(rgb >> 16), 0});
}

void TGLBitmap32::SetAlphaTransparentForColor(TGLPixel32 color) {
    for (size_t i = 0; i < FData.size(); i += 4) {
        const bool same = FData[i] == color.r && FData[i + 1] == color.g && FData[i + 2] == color.b;
        FData[i + 3] = same ? 0 : 255;
    }
}

void TGLBitmap32::SetAlphaToValue(uint8_t value) {
    for (size_t i = 0; i < FData.size(); i += 4)
        FData[i + 3] = value;
}

void TGLBitmap32::InvertAlpha() {
    for (size_t i = 0; i < FData.size(); i += 4)
        FData[i + 3] = static_cast<uint8_t>(255 - FData[i + 3]);
}

void TGLBitmap32::SqrtAlpha() {
    const TColorTable& table = SqrtTable();
    for (size_t i = 0; i < FData.size(); i += 4)
        FData[i + 3] = table[Intensity(&FData[i])];
}

void TGLBitmap32::GrayScaleToNormalMap(float scale, bool wrapHorizontally, bool wrapVertically) {
    std::vector<uint8_t> heights(FData.size() / 4);
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = Intensity(&FData[i * 4]);
    const auto neighbour = [](int32_t at, int32_t size, bool wrap) {
        return wrap ? (at + size) % size : std::clamp(at, 0, size - 1);
    };
    const auto height = [&](int32_t x, int32_t y) {
        return float(heights[size_t(neighbour(y, FHeight, wrapVertically)) * FWidth +
                             neighbour(x, FWidth, wrapHorizontally)]);
    };
    const auto encode = [](float component) {
        return static_cast<uint8_t>(std::lround((component + 1) * 127.5f));
    };
    for (int32_t y = 0; y < FHeight; ++y) {
        for (int32_t x = 0; x < FWidth; ++x) {
            const float dx = (height(x - 1, y) - height(x + 1, y)) * scale;
            const float dy = (height(x, y - 1) - height(x, y + 1)) * scale;
            const float length = std::sqrt(dx * dx + dy * dy + 1);
            TGLPixel32& pixel = ScanLine(y)[x];
            pixel = {encode(dx / length), encode(dy / length), encode(1 / length), 255};
        }
    }
}

void TGLBitmap32::ApplyColorTable(const TColorTable& table) {
    for (size_t i = 0; i < FData.size(); i += 4) {
        FData[i] = table[FData[i]];
        FData[i + 1] = table[FData[i + 1]];
        FData[i + 2] = table[FData[i + 2]];
    }
}

void TGLBitmap32::CorrectBrightness(float factor) {
    Assert(factor >= 0, "Brightness factor must not be negative");
    TColorTable table;
    for (int i = 0; i < 256; ++i)
        table[i] = ClampedRound(i * double{factor});
    ApplyColorTable(table);
}

void TGLBitmap32::CorrectGamma(float gamma) {
    Assert(gamma > 0, "Gamma must be positive");
    const double exponent = gamma < 0.1f ? 10.0 : 1.0 / gamma;
    TColorTable table;
    for (int i = 0; i < 256; ++i)
        table[i] = ClampedRound(std::pow(i / 255.0, exponent) * 255);
    ApplyColorTable(table);
}

// --- upload ------------------------------------------------------------------------------------

void TGLBitmap32::UploadToTexture(GLenum target, TGLMinFilter minFilter, GLint internalFormat,
                                  int32_t& uploadedWidth, int32_t& uploadedHeight) const {
    if (FData.empty())
        return;
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const int32_t width = std::min(NextPowerOfTwo(FWidth), maxSize);
    const int32_t height = std::min(NextPowerOfTwo(FHeight), maxSize);
    uploadedWidth = width;
    uploadedHeight = height;

    const bool floatFormat = IsFloatFormat(internalFormat);
    TPixelBytes resampled;
    const uint8_t* pixels = Data();
    if (!floatFormat && (width != FWidth || height != FHeight)) {
        resampled.resize(size_t(width) * height * 4);
        gluScaleImage(GL_RGBA, FWidth, FHeight, GL_UNSIGNED_BYTE, Data(), width, height,
                      GL_UNSIGNED_BYTE, resampled.data());
        pixels = resampled.data();
    }

    if (floatFormat) {
        Assert(target == GL_TEXTURE_RECTANGLE_NV,
               "NV Float-type texture must use GL_TEXTURE_RECTANGLE_NV");
        glTexImage2D(target, 0, internalFormat, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
    } else if (!NeedsMipmaps(minFilter)) {
        glTexImage2D(target, 0, internalFormat, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels);
    } else if (GL_SGIS_generate_mipmap && target == GL_TEXTURE_2D) {
        glTexParameteri(target, GL_GENERATE_MIPMAP_SGIS, 1);
        glTexImage2D(target, 0, internalFormat, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels);
    } else {
        gluBuild2DMipmaps(target, internalFormat, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    }
}

// --- picture formats ---------------------------------------------------------------------------

TGraphicClass GraphicClassForExtension(const std::string& extension) {
    const std::string wanted =
        LowerCase(extension.starts_with('.') ? extension.substr(1) : extension);
    for (const TPictureFileFormat& format : TPicture::FileFormats())
        if (LowerCase(format.Extension) == wanted)
            return format.GraphicClass;
    return nullptr;
}
