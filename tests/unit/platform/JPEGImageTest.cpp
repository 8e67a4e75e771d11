// JPEG pictures: files of every kind users have decode to the right pixels the right way up, and
// broken or hostile files raise EInvalidGraphic without printing, leaking or allocating for
// sizes the data cannot hold.
#include "platform/framework/JPEGImage.h"
#include "tests/support/JPEGWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

TJPEGImage Loaded(const std::vector<uint8_t>& bytes) {
    TJPEGImage image;
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    image.LoadFromStream(stream);
    return image;
}

TJPEGRgb PixelOf(const TBitmap& bitmap, int x, int y) {
    const uint8_t* bgr = bitmap.ScanLine(y) + x * bitmap.BytesPerPixel();
    return {bgr[2], bgr[1], bgr[0]};
}

TJPEGRgb Expected(TJPEGModel model, const TJPEGRgb& rgb) {
    if (model != jmGray)
        return rgb;
    const auto grey = static_cast<uint8_t>((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114) / 1000);
    return {grey, grey, grey};
}

// The centre of each quarter has the quarter's colour, within `tolerance` per channel.
void ExpectQuadrants(const TBitmap& bitmap, TJPEGModel model, int tolerance) {
    const int w = bitmap.Width(), h = bitmap.Height();
    const int xs[2] = {w / 4, w / 2 + w / 4}, ys[2] = {h / 4, h / 2 + h / 4};
    for (int q = 0; q < 4; ++q) {
        const TJPEGRgb got = PixelOf(bitmap, xs[q % 2], ys[q / 2]);
        const TJPEGRgb want = Expected(model, QuadrantColours[q]);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got[c], want[c], tolerance) << "quarter " << q << " channel " << c;
    }
}

struct TDecodeCase {
    const char* Name;
    TJPEGSpec Spec;
    int Tolerance;
};

const TDecodeCase DecodeCases[] = {
    {"baseline", {.Width = 16, .Height = 16}, 8},
    {"odd size", {.Width = 37, .Height = 23}, 24},
    {"progressive", {.Width = 32, .Height = 32, .Progressive = true}, 8},
    {"restart markers", {.Width = 32, .Height = 32, .RestartInterval = 1}, 8},
    {"progressive, odd size, restarts",
     {.Width = 37, .Height = 23, .Progressive = true, .RestartInterval = 2},
     24},
    {"grey", {.Width = 16, .Height = 16, .Model = jmGray}, 8},
    {"CMYK", {.Width = 16, .Height = 16, .Model = jmCMYK, .FullChroma = true}, 8},
    {"YCCK", {.Width = 16, .Height = 16, .Model = jmYCCK, .FullChroma = true}, 8},
    {"EXIF", {.Width = 16, .Height = 16, .Exif = {'M', 'M', 0, 42, 0, 0, 0, 8}}, 8},
};

TEST(JPEGImage, DecodesEveryKindOfFileToRgbTopRowFirst) {
    for (const TDecodeCase& c : DecodeCases) {
        SCOPED_TRACE(c.Name);
        const TJPEGImage image = Loaded(WriteJPEG(c.Spec));
        EXPECT_EQ(image.Width(), c.Spec.Width);
        EXPECT_EQ(image.Height(), c.Spec.Height);
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf32bit);
        image.Decode(bitmap);
        ASSERT_EQ(bitmap.PixelFormat(), pf24bit);
        ASSERT_EQ(bitmap.Width(), c.Spec.Width);
        ASSERT_EQ(bitmap.Height(), c.Spec.Height);
        ExpectQuadrants(bitmap, c.Spec.Model, c.Tolerance);
    }
}

// Straight into RGBA rows, bottom row first here: the very pixels a 24-bit decode gives.
TEST(JPEGImage, DrawsRgbaRowsInEitherOrderExactlyAsItDecodes) {
    for (const TDecodeCase& c : DecodeCases) {
        SCOPED_TRACE(c.Name);
        const TJPEGImage image = Loaded(WriteJPEG(c.Spec));
        TBitmap decoded;
        image.Decode(decoded);
        const int w = c.Spec.Width, h = c.Spec.Height;
        std::vector<uint8_t> rgba(size_t(w) * h * 4);
        ASSERT_TRUE(image.DrawRgba(rgba.data() + size_t(h - 1) * w * 4, -ptrdiff_t{w} * 4));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* bgr = decoded.ScanLine(y) + x * 3;
                const uint8_t* pixel = &rgba[(size_t(h - 1 - y) * w + x) * 4];
                ASSERT_EQ(std::vector<uint8_t>(pixel, pixel + 4),
                          (std::vector<uint8_t>{bgr[2], bgr[1], bgr[0], 255}))
                    << "pixel " << x << ", " << y;
            }
    }
}

TEST(JPEGImage, DrawsAtItsSizeOrStretched) {
    const TJPEGImage image = Loaded(WriteJPEG({.Width = 16, .Height = 16}));
    TBitmap same;
    same.SetSize(16, 16);
    same.Draw(0, 0, image);
    ExpectQuadrants(same, jmYCbCr, 8);

    TBitmap stretched;
    stretched.SetPixelFormat(pf32bit);
    stretched.SetSize(64, 32);
    stretched.StretchDraw({0, 0, 64, 32}, image);
    ExpectQuadrants(stretched, jmYCbCr, 8);
    EXPECT_EQ(stretched.ScanLine(20)[4 * 40 + 3], 255);
}

TEST(JPEGImage, KeepsItsBytesAndTravelsInAStoredPicture) {
    RegisterJPEGImageFormat();
    const std::vector<uint8_t> bytes = WriteJPEG({.Width = 24, .Height = 8});
    TPicture picture;
    picture.SetGraphic(std::make_unique<TJPEGImage>(Loaded(bytes)));
    TMemoryStream stored;
    picture.WriteData(stored);
    ASSERT_EQ(stored.Size(), 1 + 10 + 4 + static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored.Memory()), 11), "\nTJPEGImage");

    TPicture copy;
    stored.SetPosition(0);
    copy.ReadData(stored);
    ASSERT_NE(dynamic_cast<TJPEGImage*>(copy.Graphic()), nullptr);
    EXPECT_EQ(copy.Width(), 24);
    TMemoryStream saved;
    copy.Graphic()->SaveToStream(saved);
    EXPECT_EQ(std::vector<uint8_t>(saved.Memory(), saved.Memory() + saved.Size()), bytes);

    // Program data stays where it is: the picture draws what those bytes hold when drawn.
    std::vector<uint8_t> program(stored.Memory(), stored.Memory() + stored.Size());
    TPicture kept;
    kept.ReadProgramData(program);
    EXPECT_EQ(kept.Width(), 24);
    const auto& jpeg = dynamic_cast<const TJPEGImage&>(*kept.Graphic());
    TBitmap before;
    jpeg.Decode(before);
    ExpectQuadrants(before, jmYCbCr, 8);
    // A coarser DC step in the first quantisation table brightens or darkens every block.
    const uint8_t marker[] = {0xFF, 0xDB};
    const auto table = std::search(program.begin(), program.end(), marker, marker + 2);
    ASSERT_NE(table, program.end());
    table[5] = static_cast<uint8_t>(table[5] * 2);
    TBitmap after;
    jpeg.Decode(after);
    EXPECT_NE(std::vector<uint8_t>(before.ScanLine(0), before.ScanLine(0) + 24 * 8 * 3),
              std::vector<uint8_t>(after.ScanLine(0), after.ScanLine(0) + 24 * 8 * 3));
}

TEST(JPEGImage, RegistersItsExtensionsOnceAndLoadsFilesByThem) {
    RegisterJPEGImageFormat();
    RegisterJPEGImageFormat();
    int entries = 0;
    for (const TPictureFileFormat& format : TPicture::FileFormats())
        if (format.GraphicClass == &TJPEGImage::ClassInfo) {
            EXPECT_TRUE(format.Extension == "jpeg" || format.Extension == "jpg");
            EXPECT_EQ(format.Description, "Fichier image JPEG");
            ++entries;
        }
    EXPECT_EQ(entries, 2);
    EXPECT_EQ(TPicture::FindGraphicClass("TJPEGImage"), &TJPEGImage::ClassInfo);

    char path[] = "/tmp/skyview-jpeg-XXXXXX.JPG";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::vector<uint8_t> bytes = WriteJPEG({.Width = 8, .Height = 4});
    {
        TFileStream file(path, fmCreate);
        file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    TPicture picture;
    picture.LoadFromFile(path);
    std::remove(path);
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TJPEGImage");
    EXPECT_EQ(picture.Width(), 8);
}

// --- broken and hostile files --------------------------------------------------------------

using TBytes = std::vector<uint8_t>;

TBytes Baseline() {
    return WriteJPEG({.Width = 32, .Height = 32});
}

TBytes Cut(TBytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

TBytes Flipped(TBytes bytes, size_t at) {
    bytes.at(at) ^= 0xFF;
    return bytes;
}

TBytes WithSize(TBytes bytes, uint16_t width, uint16_t height) {
    SetJPEGFrameSize(bytes, width, height);
    return bytes;
}

size_t Marker(uint8_t code) {
    const size_t at = FindJPEGMarker(Baseline(), code);
    EXPECT_NE(at, NoJPEGMarker);
    return at;
}

// The offsets of every start-of-scan marker.
std::vector<size_t> Scans(const TBytes& bytes) {
    std::vector<size_t> offsets;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA)
            offsets.push_back(i);
    return offsets;
}

// The message of the EInvalidGraphic that loading or drawing raises, or "" when neither does.
std::string FailureOf(const TBytes& bytes) {
    try {
        const TJPEGImage image = Loaded(bytes);
        TBitmap bitmap;
        image.Decode(bitmap);
    } catch (const EInvalidGraphic& error) {
        return error.Message();
    }
    return "";
}

struct THostileCase {
    const char* Name;
    TBytes Bytes;
    const char* Message;
};

TEST(JPEGImage, BrokenFilesRaiseInvalidGraphic) {
    const TBytes good = Baseline();
    const TBytes progressive = WriteJPEG({.Width = 32, .Height = 32, .Progressive = true});
    const size_t scan = Marker(0xDA), frame = Marker(0xC0);
    const THostileCase cases[] = {
        {"empty", {}, "Invalid JPEG image: the file is empty"},
        {"a PNG file",
         {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'},
         "Not a JPEG file"},
        {"only the start marker", Cut(good, 2), "Premature end of JPEG file"},
        {"cut in the tables", Cut(good, Marker(0xDB) + 20), "Premature end of JPEG file"},
        {"cut in the frame header", Cut(good, frame + 6), "Premature end of JPEG file"},
        {"cut in the coded data", Cut(good, scan + (good.size() - scan) / 2),
         "Premature end of JPEG file"},
        {"no end marker", Cut(good, good.size() - 2), "Premature end of JPEG file"},
        {"cut between scans", Cut(progressive, Scans(progressive).at(3)),
         "Premature end of JPEG file"},
        {"precision flipped", Flipped(good, frame + 4), "Unsupported JPEG data precision 247"},
        {"component count flipped", Flipped(good, frame + 9), "Invalid JPEG image"},
        {"Huffman table index flipped", Flipped(good, Marker(0xC4) + 4), "Invalid JPEG image"},
        {"scan component flipped", Flipped(good, scan + 5), "Invalid component ID"},
        {"65535 x 65535", WithSize(good, 65535, 65535),
         "Invalid JPEG image: Maximum supported image dimension is 65500 pixels"},
        {"20000 x 16", WithSize(good, 20000, 16),
         "JPEG image of 20000 x 16 pixels is larger than 16384 pixels a side"},
        {"16000 x 16000 in a small file", WithSize(good, 16000, 16000),
         "JPEG image declares 16000 x 16000 pixels, more than its"},
    };
    for (const THostileCase& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_NE(FailureOf(c.Bytes).find(c.Message), std::string::npos)
            << "raised \"" << FailureOf(c.Bytes) << "\"";
    }
}

TEST(JPEGImage, AFileOfThousandsOfScansIsRefusedEarly) {
    const TBytes bytes = WriteJPEG({.Width = 16, .Height = 16, .EveryBitAScan = true});
    ASSERT_GT(Scans(bytes).size(), 2000u);
    EXPECT_EQ(FailureOf(bytes), "Invalid JPEG image: more than 100 scans");
}

TEST(JPEGImage, AFailedLoadKeepsThePictureItHad) {
    TJPEGImage image = Loaded(WriteJPEG({.Width = 8, .Height = 8}));
    const TBytes broken = Cut(Baseline(), 2);
    TPointerStream stream(broken.data(), static_cast<int64_t>(broken.size()));
    EXPECT_THROW(image.LoadFromStream(stream), EInvalidGraphic);
    EXPECT_EQ(image.Width(), 8);
    TBitmap bitmap;
    EXPECT_NO_THROW(image.Decode(bitmap));
}

TEST(JPEGImage, RecoverableQuirksDecodeSilently) {
    // Stray bytes before a marker: libjpeg warns and decodes on.
    TBytes bytes = Baseline();
    bytes.insert(bytes.begin() + static_cast<long>(FindJPEGMarker(bytes, 0xDA)), {0x00, 0x11});
    testing::internal::CaptureStderr();
    TBitmap bitmap;
    EXPECT_NO_THROW(Loaded(bytes).Decode(bitmap));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ExpectQuadrants(bitmap, jmYCbCr, 8);
}

TEST(JPEGImage, StoredPictureWithMoreBytesDeclaredThanHeldIsRefused) {
    RegisterJPEGImageFormat();
    const TBytes bytes = Baseline();
    TMemoryStream stored;
    const uint8_t length = 10;
    stored.WriteBuffer(&length, 1);
    stored.WriteBuffer("TJPEGImage", 10);
    const uint32_t declared = static_cast<uint32_t>(bytes.size()) + 1;
    stored.WriteBuffer(&declared, 4);
    stored.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stored.SetPosition(0);
    TPicture picture;
    try {
        picture.ReadData(stored);
        FAIL() << "the stored picture was read";
    } catch (const EInvalidGraphic& error) {
        EXPECT_EQ(error.Message(), Format("Stored TJPEGImage declares %u bytes but only %zu follow",
                                          declared, bytes.size()));
    }
    EXPECT_EQ(picture.Graphic(), nullptr);
}

} // namespace
