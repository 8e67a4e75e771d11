#include "platform/framework/Graphics.h"

#include "platform/win32/WinUser.h"

#include <algorithm>
#include <cstring>

uint32_t ColorToRGB(TColor color) {
    if (color < 0)
        return GetSysColor(color & 0xFF);
    return static_cast<uint32_t>(color);
}

namespace {

uint32_t ReadLE32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

uint16_t ReadLE16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

void WriteLE32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

void WriteLE16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

int64_t BytesLeft(const TStream& stream) {
    return std::max<int64_t>(stream.Size() - stream.Position(), 0);
}

// The byte count that starts a stored graphic of class `className`, checked against the bytes
// that follow it.
uint32_t ReadStoredByteCount(TStream& stream, const char* className) {
    uint8_t countBytes[4];
    if (stream.Read(countBytes, 4) != 4)
        throw EInvalidGraphic(Format("Stored %s has no byte count", className));
    const uint32_t count = ReadLE32(countBytes);
    const int64_t available = BytesLeft(stream);
    if (count > available)
        throw EInvalidGraphic(Format("Stored %s declares %u bytes but only %lld follow", className,
                                     count, static_cast<long long>(available)));
    return count;
}

// An empty graphic of the class a stored picture names, or none for a picture without one.
std::unique_ptr<TGraphic> CreateStoredGraphic(TStream& stream) {
    uint8_t length = 0;
    if (stream.Read(&length, 1) != 1)
        throw EInvalidGraphic("Stored picture is empty");
    std::string className(length, '\0');
    if (stream.Read(className.data(), length) != length)
        throw EInvalidGraphic("Stored picture is cut short in its class name");
    if (length == 0)
        return nullptr;
    const TGraphicClass graphicClass = TPicture::FindGraphicClass(className);
    if (!graphicClass)
        throw EInvalidGraphic(Format("Unknown picture class \"%s\"", className.c_str()));
    return graphicClass->Create();
}

} // namespace

// --- TGraphic ----------------------------------------------------------------------------------

void TGraphic::Changed() {
    if (OnChange)
        OnChange(this);
}

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) const {
    TFileStream stream(fileName, fmCreate);
    SaveToStream(stream);
}

bool TGraphic::DrawRgba(uint8_t*, ptrdiff_t) const {
    return false;
}

void TGraphic::ReadData(TStream& stream) {
    const uint32_t count = ReadStoredByteCount(stream, ClassName());
    std::vector<uint8_t> file(count);
    stream.ReadBuffer(file.data(), count);
    TPointerStream view(file.data(), count);
    LoadFromStream(view);
}

void TGraphic::ReadProgramData(TCustomMemoryStream& stream) {
    const uint32_t count = ReadStoredByteCount(stream, ClassName());
    LoadFromProgramData({stream.Memory() + stream.Position(), count});
    stream.Seek(count, soFromCurrent);
}

void TGraphic::LoadFromProgramData(std::span<const uint8_t> file) {
    TPointerStream view(file.data(), static_cast<int64_t>(file.size()));
    LoadFromStream(view);
}

void TGraphic::WriteData(TStream& stream) const {
    TMemoryStream file;
    SaveToStream(file);
    uint8_t countBytes[4];
    WriteLE32(countBytes, static_cast<uint32_t>(file.Size()));
    stream.WriteBuffer(countBytes, 4);
    stream.WriteBuffer(file.Memory(), file.Size());
}

// --- TBitmap -----------------------------------------------------------------------------------

const TGraphicClassInfo TBitmap::ClassInfo{
    "TBitmap", []() -> std::unique_ptr<TGraphic> { return std::make_unique<TBitmap>(); }};

namespace {

constexpr int32_t FileHeaderSize = 14;
constexpr int32_t InfoHeaderSize = 40;
constexpr uint32_t BI_RGB = 0;

void CheckSize(int32_t width, int32_t height) {
    if (width < 0 || height < 0 || width > MaxGraphicSide || height > MaxGraphicSide)
        throw EInvalidGraphic(Format("Bitmap size %d x %d is out of range (0 to %d a side)", width,
                                     height, MaxGraphicSide));
}

// Rows of a BMP file are padded to whole 32-bit words.
int64_t FileRowSize(int32_t width, int32_t bitsPerPixel) {
    return (int64_t{width} * bitsPerPixel + 31) / 32 * 4;
}

} // namespace

void TBitmap::Reset(int32_t width, int32_t height, TPixelFormat pixelFormat) {
    CheckSize(width, height);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height *
                                (pixelFormat == pf32bit ? 4 : 3));
    FPixels.swap(pixels);
    FWidth = width;
    FHeight = height;
    FPixelFormat = pixelFormat;
}

void TBitmap::SetSize(int32_t width, int32_t height) {
    if (width == FWidth && height == FHeight)
        return;
    Reset(width, height, FPixelFormat);
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat pixelFormat) {
    if (pixelFormat == FPixelFormat)
        return;
    const std::vector<uint8_t> old = std::move(FPixels);
    const int32_t oldSize = BytesPerPixel();
    Reset(FWidth, FHeight, pixelFormat);
    const int32_t newSize = BytesPerPixel();
    const size_t count = static_cast<size_t>(FWidth) * FHeight;
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(&FPixels[i * newSize], &old[i * oldSize], 3);
        if (newSize == 4)
            FPixels[i * 4 + 3] = 255;
    }
    Changed();
}

uint8_t* TBitmap::ScanLine(int32_t row) {
    return const_cast<uint8_t*>(std::as_const(*this).ScanLine(row));
}

const uint8_t* TBitmap::ScanLine(int32_t row) const {
    if (row < 0 || row >= FHeight)
        throw EInvalidGraphic(Format("Scan line %d is outside a bitmap of %d rows", row, FHeight));
    return FPixels.data() + static_cast<size_t>(row) * RowSize();
}

void TBitmap::Draw(int32_t x, int32_t y, const TGraphic& graphic) {
    StretchDraw({x, y, x + graphic.Width(), y + graphic.Height()}, graphic);
}

void TBitmap::StretchDraw(const TRect& rect, const TGraphic& graphic) {
    if (&graphic == this) {
        TBitmap copy;
        copy.Assign(this);
        copy.DrawInto(*this, rect);
    } else {
        graphic.DrawInto(*this, rect);
    }
    Changed();
}

void TBitmap::DrawInto(TBitmap& target, const TRect& rect) const {
    if (Empty() || rect.Width() <= 0 || rect.Height() <= 0)
        return;
    const int32_t left = std::max(rect.Left, 0), right = std::min(rect.Right, target.FWidth);
    const int32_t top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, target.FHeight);
    const int32_t from = BytesPerPixel(), to = target.BytesPerPixel();
    for (int32_t y = top; y < bottom; ++y) {
        // Each target pixel takes the source pixel under its centre.
        const int64_t sourceY = (2 * int64_t{y - rect.Top} + 1) * FHeight / (2 * rect.Height());
        const uint8_t* source = ScanLine(static_cast<int32_t>(sourceY));
        uint8_t* destination = target.ScanLine(y);
        for (int32_t x = left; x < right; ++x) {
            const int64_t sourceX = (2 * int64_t{x - rect.Left} + 1) * FWidth / (2 * rect.Width());
            const uint8_t* pixel = source + sourceX * from;
            uint8_t* out = destination + static_cast<size_t>(x) * to;
            std::memcpy(out, pixel, 3);
            if (to == 4)
                out[3] = from == 4 ? pixel[3] : 255;
        }
    }
}

void TBitmap::Assign(const TPersistent* source) {
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        if (bitmap == this)
            return;
        FPixels = bitmap->FPixels;
        FWidth = bitmap->FWidth;
        FHeight = bitmap->FHeight;
        FPixelFormat = bitmap->FPixelFormat;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TBitmap::LoadFromStream(TStream& stream) {
    uint8_t header[FileHeaderSize + InfoHeaderSize];
    const int64_t start = stream.Position();
    if (stream.Read(header, sizeof header) != static_cast<int64_t>(sizeof header))
        throw EInvalidGraphic("Bitmap file is cut short in its header");
    if (header[0] != 'B' || header[1] != 'M')
        throw EInvalidGraphic("Not a bitmap file");
    const uint8_t* info = header + FileHeaderSize;
    const uint32_t pixelOffset = ReadLE32(header + 10);
    const uint32_t infoSize = ReadLE32(info);
    const int32_t width = static_cast<int32_t>(ReadLE32(info + 4));
    const int32_t declaredHeight = static_cast<int32_t>(ReadLE32(info + 8));
    const uint16_t planes = ReadLE16(info + 12), bitsPerPixel = ReadLE16(info + 14);
    const uint32_t compression = ReadLE32(info + 16);
    if (infoSize < InfoHeaderSize || planes != 1 || (bitsPerPixel != 24 && bitsPerPixel != 32) ||
        compression != BI_RGB)
        throw EInvalidGraphic(
            Format("Unsupported bitmap format (%u bits per pixel, compression %u)", bitsPerPixel,
                   compression));
    // A negative height means the rows are stored top first.
    const bool topDown = declaredHeight < 0;
    const int32_t height = declaredHeight == INT32_MIN ? -1 : std::abs(declaredHeight);
    CheckSize(width, height);
    const int64_t rowSize = FileRowSize(width, bitsPerPixel);
    if (pixelOffset < FileHeaderSize + infoSize ||
        stream.Size() - start < int64_t{pixelOffset} + rowSize * height)
        throw EInvalidGraphic("Bitmap file is cut short in its pixels");

    TBitmap loaded;
    loaded.Reset(width, height, bitsPerPixel == 32 ? pf32bit : pf24bit);
    std::vector<uint8_t> row(static_cast<size_t>(rowSize));
    stream.SetPosition(start + pixelOffset);
    for (int32_t y = 0; y < height; ++y) {
        stream.ReadBuffer(row.data(), rowSize);
        std::memcpy(loaded.ScanLine(topDown ? y : height - 1 - y), row.data(), loaded.RowSize());
    }
    FPixels.swap(loaded.FPixels);
    FWidth = width;
    FHeight = height;
    FPixelFormat = loaded.FPixelFormat;
    Changed();
}

void TBitmap::SaveToStream(TStream& stream) const {
    const int32_t bitsPerPixel = BytesPerPixel() * 8;
    const int64_t rowSize = FileRowSize(FWidth, bitsPerPixel);
    const uint32_t pixelOffset = FileHeaderSize + InfoHeaderSize;
    uint8_t header[FileHeaderSize + InfoHeaderSize] = {'B', 'M'};
    uint8_t* info = header + FileHeaderSize;
    WriteLE32(header + 2, static_cast<uint32_t>(pixelOffset + rowSize * FHeight));
    WriteLE32(header + 10, pixelOffset);
    WriteLE32(info, InfoHeaderSize);
    WriteLE32(info + 4, static_cast<uint32_t>(FWidth));
    WriteLE32(info + 8, static_cast<uint32_t>(FHeight));
    WriteLE16(info + 12, 1);
    WriteLE16(info + 14, static_cast<uint16_t>(bitsPerPixel));
    WriteLE32(info + 20, static_cast<uint32_t>(rowSize * FHeight));
    stream.WriteBuffer(header, sizeof header);
    std::vector<uint8_t> row(static_cast<size_t>(rowSize), 0);
    for (int32_t y = FHeight - 1; y >= 0; --y) {
        std::memcpy(row.data(), ScanLine(y), RowSize());
        stream.WriteBuffer(row.data(), rowSize);
    }
}

// --- TPicture ----------------------------------------------------------------------------------

namespace {

std::vector<TPictureFileFormat>& Formats() {
    static std::vector<TPictureFileFormat> formats = {{"bmp", "Bitmaps", &TBitmap::ClassInfo}};
    return formats;
}

std::unique_ptr<TGraphic> CopyOf(const TGraphic& graphic) {
    std::unique_ptr<TGraphic> copy = graphic.ClassType()->Create();
    copy->Assign(&graphic);
    return copy;
}

} // namespace

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
    FGraphic = std::move(graphic);
    if (FGraphic)
        FGraphic->OnChange = [this](TObject*) { Changed(); };
    Changed();
}

void TPicture::Changed() {
    if (OnChange)
        OnChange(this);
}

void TPicture::Assign(const TPersistent* source) {
    if (!source) {
        SetGraphic(nullptr);
    } else if (const auto* picture = dynamic_cast<const TPicture*>(source)) {
        if (picture != this)
            SetGraphic(picture->FGraphic ? CopyOf(*picture->FGraphic) : nullptr);
    } else if (const auto* graphic = dynamic_cast<const TGraphic*>(source)) {
        if (graphic != FGraphic.get())
            SetGraphic(CopyOf(*graphic));
    } else {
        TPersistent::Assign(source);
    }
}

void TPicture::LoadFromFile(const std::string& fileName) {
    const std::string extension = LowerCase(ExtensionOf(fileName));
    const auto& formats = Formats();
    const auto format = std::find_if(formats.begin(), formats.end(), [&](const auto& entry) {
        return entry.Extension == extension;
    });
    if (format == formats.end())
        throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", extension.c_str()));
    std::unique_ptr<TGraphic> graphic = format->GraphicClass->Create();
    graphic->LoadFromFile(fileName);
    SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) const {
    if (FGraphic)
        FGraphic->SaveToFile(fileName);
}

void TPicture::ReadData(TStream& stream) {
    std::unique_ptr<TGraphic> graphic = CreateStoredGraphic(stream);
    if (graphic)
        graphic->ReadData(stream);
    SetGraphic(std::move(graphic));
}

void TPicture::ReadProgramData(std::span<const uint8_t> stored) {
    TPointerStream stream(stored.data(), static_cast<int64_t>(stored.size()));
    std::unique_ptr<TGraphic> graphic = CreateStoredGraphic(stream);
    if (graphic)
        graphic->ReadProgramData(stream);
    SetGraphic(std::move(graphic));
}

void TPicture::WriteData(TStream& stream) const {
    const std::string className = FGraphic ? FGraphic->ClassName() : "";
    const auto length = static_cast<uint8_t>(className.size());
    stream.WriteBuffer(&length, 1);
    stream.WriteBuffer(className.data(), length);
    if (FGraphic)
        FGraphic->WriteData(stream);
}

void TPicture::DefineProperties(TFiler& filer) {
    filer.DefineBinaryProperty(
        "Data",
        [this](std::span<const uint8_t> data) {
            TPointerStream stream(data.data(), static_cast<int64_t>(data.size()));
            ReadData(stream);
        },
        [this] {
            TMemoryStream stream;
            WriteData(stream);
            return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Size());
        },
        FGraphic != nullptr);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  TGraphicClass graphicClass) {
    const std::string key = LowerCase(extension);
    auto& formats = Formats();
    for (const TPictureFileFormat& format : formats)
        if (format.Extension == key && format.GraphicClass == graphicClass)
            return;
    formats.push_back({key, description, graphicClass});
}

void TPicture::UnregisterGraphicClass(TGraphicClass graphicClass) {
    auto& formats = Formats();
    std::erase_if(formats, [&](const auto& format) { return format.GraphicClass == graphicClass; });
}

const std::vector<TPictureFileFormat>& TPicture::FileFormats() {
    return Formats();
}

TGraphicClass TPicture::FindGraphicClass(const std::string& className) {
    for (const TPictureFileFormat& format : Formats())
        if (className == format.GraphicClass->Name)
            return format.GraphicClass;
    return nullptr;
}
