// Bitmaps and pictures of the framework: pixel formats, drawing, BMP files, the stored form of a
// picture and the registry of picture formats.
#include "platform/framework/Graphics.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using TBytes = std::vector<uint8_t>;

TBitmap Filled(int width, int height, TPixelFormat format) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(format);
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * bitmap.BytesPerPixel(); ++i)
            bitmap.ScanLine(y)[i] = static_cast<uint8_t>(y * 64 + i + 1);
    return bitmap;
}

TBytes Saved(const TGraphic& graphic) {
    TMemoryStream stream;
    graphic.SaveToStream(stream);
    return TBytes(stream.Memory(), stream.Memory() + stream.Size());
}

TBytes RowBytes(const TBitmap& bitmap, int y) {
    const uint8_t* row = bitmap.ScanLine(y);
    return TBytes(row, row + bitmap.Width() * bitmap.BytesPerPixel());
}

void ExpectSamePixels(const TBitmap& a, const TBitmap& b) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    ASSERT_EQ(a.PixelFormat(), b.PixelFormat());
    for (int y = 0; y < a.Height(); ++y)
        EXPECT_EQ(RowBytes(a, y), RowBytes(b, y)) << "row " << y;
}

TEST(Bitmap, SizesFormatsAndRowsAreChecked) {
    TBitmap bitmap = Filled(2, 1, pf24bit);
    bitmap.SetPixelFormat(pf32bit);
    EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{1, 2, 3, 255, 4, 5, 6, 255}));
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(RowBytes(bitmap, 0), (TBytes{1, 2, 3, 4, 5, 6}));
    EXPECT_THROW(bitmap.ScanLine(1), EInvalidGraphic);
    EXPECT_THROW(bitmap.ScanLine(-1), EInvalidGraphic);
    EXPECT_THROW(bitmap.SetSize(16385, 1), EInvalidGraphic);
    EXPECT_THROW(bitmap.SetSize(1, -1), EInvalidGraphic);
    EXPECT_EQ(bitmap.Width(), 2);
}

TEST(Bitmap, StretchDrawTakesThePixelUnderEachCentre) {
    const TBitmap source = Filled(3, 2, pf32bit);
    TBitmap target;
    target.SetSize(4, 2);
    target.StretchDraw({0, 0, 4, 2}, source);
    // Columns 0, 1, 1, 2 of the source; alpha dropped.
    EXPECT_EQ(RowBytes(target, 1), (TBytes{65, 66, 67, 69, 70, 71, 69, 70, 71, 73, 74, 75}));

    TBitmap larger;
    larger.SetPixelFormat(pf32bit);
    larger.SetSize(4, 4);
    larger.Draw(3, 3, Filled(2, 2, pf24bit)); // clipped to the one pixel inside
    EXPECT_EQ(RowBytes(larger, 3), (TBytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 255}));
}

TEST(Bitmap, BmpFilesRoundTripWithPaddedRows) {
    for (TPixelFormat format : {pf24bit, pf32bit}) {
        const TBitmap original = Filled(3, 2, format);
        const TBytes file = Saved(original);
        constexpr size_t rowSize = 12; // 9 bytes padded at 24 bits, 12 at 32
        ASSERT_EQ(file.size(), 54 + 2 * rowSize);
        EXPECT_EQ(file[54], 65) << "the bottom row comes first";
        TBitmap loaded;
        TPointerStream stream(file.data(), static_cast<int64_t>(file.size()));
        loaded.LoadFromStream(stream);
        ExpectSamePixels(loaded, original);
    }
}

TEST(Bitmap, TopDownBmpFilesLoadTheRightWayUp) {
    const TBitmap original = Filled(2, 2, pf24bit);
    TBytes file = Saved(original);
    const int32_t negative = -2;
    std::memcpy(&file[22], &negative, 4);
    TBitmap loaded;
    TPointerStream stream(file.data(), static_cast<int64_t>(file.size()));
    loaded.LoadFromStream(stream);
    EXPECT_EQ(RowBytes(loaded, 0), RowBytes(original, 1));
}

TEST(Bitmap, BrokenBmpFilesRaiseBeforeAllocating) {
    const TBytes good = Saved(Filled(4, 4, pf24bit));
    auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        TBytes file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(at));
        return file;
    };
    const struct {
        const char* Name;
        TBytes File;
        const char* Message;
    } cases[] = {
        {"short header", TBytes(good.begin(), good.begin() + 30), "cut short in its header"},
        {"no signature", with(0, {'P', 'K'}), "Not a bitmap file"},
        {"8 bits", with(28, {8, 0}), "Unsupported bitmap format (8 bits per pixel"},
        {"run-length coded", with(30, {1}), "compression 1"},
        {"huge", with(18, {0xA0, 0x86, 0x01, 0x00}), "out of range"},
        {"huge rows", with(22, {0, 0, 0, 0x80}), "out of range"},
        {"cut pixels", TBytes(good.begin(), good.end() - 1), "cut short in its pixels"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap bitmap;
        TPointerStream stream(c.File.data(), static_cast<int64_t>(c.File.size()));
        try {
            bitmap.LoadFromStream(stream);
            ADD_FAILURE() << "loaded";
        } catch (const EInvalidGraphic& error) {
            EXPECT_NE(error.Message().find(c.Message), std::string::npos) << error.Message();
        }
        EXPECT_TRUE(bitmap.Empty());
    }
}

// --- TPicture ----------------------------------------------------------------------------------

TEST(Picture, StoredFormNamesTheClassAndCountsTheBytes) {
    TPicture picture;
    picture.SetGraphic(std::make_unique<TBitmap>(Filled(2, 2, pf24bit)));
    TMemoryStream stored;
    picture.WriteData(stored);
    const TBytes file = Saved(*picture.Graphic());
    ASSERT_EQ(stored.Size(), static_cast<int64_t>(1 + 7 + 4 + file.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored.Memory()), 8), "\x07TBitmap");
    uint32_t count = 0;
    std::memcpy(&count, stored.Memory() + 8, 4);
    EXPECT_EQ(count, file.size());

    TPicture copy;
    stored.SetPosition(0);
    copy.ReadData(stored);
    ExpectSamePixels(*dynamic_cast<TBitmap*>(copy.Graphic()), Filled(2, 2, pf24bit));

    TPicture empty;
    TMemoryStream nothing;
    empty.WriteData(nothing);
    EXPECT_EQ(nothing.Size(), 1);
    nothing.SetPosition(0);
    copy.ReadData(nothing);
    EXPECT_EQ(copy.Graphic(), nullptr);
}

TEST(Picture, BrokenStoredFormsRaiseAndKeepTheGraphic) {
    const struct {
        const char* Name;
        std::string Stored;
        const char* Message;
    } cases[] = {
        {"nothing", "", "Stored picture is empty"},
        {"short name", "\x07TBit", "Stored picture is cut short in its class name"},
        {"unknown class", "\x09TPNGImage\x00\x00\x00\x00", "Unknown picture class \"TPNGImage\""},
        {"no count", "\x07TBitmap\x01", "Stored TBitmap has no byte count"},
        {"count beyond the data", std::string("\x07TBitmap\xFF\xFF\xFF\x7F", 12) + "BM",
         "Stored TBitmap declares 2147483647 bytes but only 2 follow"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TPicture picture;
        picture.SetGraphic(std::make_unique<TBitmap>(Filled(1, 1, pf24bit)));
        TPointerStream stream(c.Stored.data(), static_cast<int64_t>(c.Stored.size()));
        try {
            picture.ReadData(stream);
            ADD_FAILURE() << "read";
        } catch (const EInvalidGraphic& error) {
            EXPECT_EQ(error.Message().find(c.Message), 0u) << error.Message();
        }
        EXPECT_EQ(picture.Width(), 1);
    }
}

class TRecordingFiler : public TFiler {
public:
    void DefineBinaryProperty(const std::string& name, const TBinaryReader& readData,
                              const TBinaryWriter& writeData, bool hasData) override {
        Name = name;
        HasData = hasData;
        if (hasData)
            Written = writeData();
        if (!ToRead.empty())
            readData(ToRead);
    }
    std::string Name;
    bool HasData = false;
    TBytes Written, ToRead;
};

TEST(Picture, DeclaresItsDataPropertyAndReadsIt) {
    TPicture picture;
    TRecordingFiler filer;
    picture.DefineProperties(filer);
    EXPECT_EQ(filer.Name, "Data");
    EXPECT_FALSE(filer.HasData);

    picture.SetGraphic(std::make_unique<TBitmap>(Filled(3, 1, pf32bit)));
    picture.DefineProperties(filer);
    ASSERT_TRUE(filer.HasData);
    TPicture read;
    TRecordingFiler reader;
    reader.ToRead = filer.Written;
    read.DefineProperties(reader);
    ExpectSamePixels(*dynamic_cast<TBitmap*>(read.Graphic()), Filled(3, 1, pf32bit));
}

TEST(Picture, CopiesAndTellsOfChanges) {
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &picture);
        ++changes;
    };
    picture.SetGraphic(std::make_unique<TBitmap>(Filled(2, 2, pf24bit)));
    EXPECT_EQ(changes, 1);
    dynamic_cast<TBitmap*>(picture.Graphic())->SetSize(5, 5);
    EXPECT_EQ(changes, 2);

    TPicture copy;
    copy.Assign(&picture);
    ASSERT_NE(copy.Graphic(), picture.Graphic());
    EXPECT_EQ(copy.Width(), 5);
    copy.Assign(nullptr);
    EXPECT_EQ(copy.Graphic(), nullptr);
    EXPECT_EQ(changes, 2);

    const TBitmap bitmap = Filled(1, 3, pf24bit);
    copy.Assign(&bitmap);
    EXPECT_EQ(copy.Height(), 3);
}

TEST(Picture, FilesAreReadByTheirRegisteredExtension) {
    ASSERT_FALSE(TPicture::FileFormats().empty());
    EXPECT_EQ(TPicture::FileFormats()[0].Extension, "bmp");
    EXPECT_EQ(TPicture::FindGraphicClass("TBitmap"), &TBitmap::ClassInfo);
    EXPECT_EQ(TPicture::FindGraphicClass("tbitmap"), nullptr);

    TPicture picture;
    try {
        picture.LoadFromFile("/tmp/picture.xyz");
        FAIL() << "loaded";
    } catch (const EInvalidGraphic& error) {
        EXPECT_EQ(error.Message(), "Unknown picture file extension (.xyz)");
    }
    EXPECT_THROW(picture.LoadFromFile("/nonexistent/picture.BMP"), EFOpenError);
}

} // namespace
