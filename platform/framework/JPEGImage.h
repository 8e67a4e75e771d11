// JPEG pictures, decoded with libjpeg.
//
// A TJPEGImage keeps the file's bytes and reads only their header when it is loaded; the pixels
// are decoded each time the picture is drawn, so that a loaded picture costs its file's size and
// no more. Every colour model libjpeg reads (grey, YCbCr, RGB, CMYK and YCCK) is drawn as RGB;
// progressive files and restart markers need nothing special.
//
// The bytes are untrusted: a file that is cut short, corrupt or not a JPEG file at all raises
// EInvalidGraphic, when it is loaded or at the latest when it is drawn, and so does a file that
// declares more pixels than MaxGraphicSide a side or than its bytes can hold (checked before any
// pixel is allocated), needs more than JPEGMaxDecoderMemory for libjpeg's own buffers, or has
// more than JPEGMaxScans scans. libjpeg's warnings about recoverable quirks print nothing.
#pragma once

#include "platform/framework/Graphics.h"

#include <cstdint>
#include <span>
#include <vector>

// The most scans a progressive file may have; real encoders write about ten.
constexpr int JPEGMaxScans = 100;
// The most memory libjpeg may take for one decode (a progressive file keeps all its
// coefficients, two bytes per sample).
constexpr long JPEGMaxDecoderMemory = 1024L * 1024 * 1024;
// Even the most compressible picture needs at least one bit of Huffman-coded data per 8 x 8
// block, so a file holds at most this many pixels per byte.
constexpr int64_t JPEGMaxPixelsPerByte = 512;

class TJPEGImage : public TGraphic {
public:
    static const TGraphicClassInfo ClassInfo;
    const char* ClassName() const override { return "TJPEGImage"; }
    TGraphicClass ClassType() const override { return &ClassInfo; }

    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    bool Empty() const override { return Bytes().empty(); }

    // From another JPEG picture: its bytes.
    void Assign(const TPersistent* source) override;
    void LoadFromStream(TStream& stream) override;
    // Keeps the file where it is.
    void LoadFromProgramData(std::span<const uint8_t> file) override;
    // The bytes as they were loaded.
    void SaveToStream(TStream& stream) const override;

    // Decodes the picture into `bitmap`, which becomes a 24-bit bitmap of the picture's size.
    void Decode(TBitmap& bitmap) const;
    // Decodes straight into the target when the rectangle is the target's whole 24-bit area at
    // the picture's size, and through a decoded copy otherwise.
    void DrawInto(TBitmap& target, const TRect& rect) const override;
    // Decodes straight into the rows.
    bool DrawRgba(uint8_t* topRow, ptrdiff_t rowStep) const override;

private:
    std::span<const uint8_t> Bytes() const { return FProgramData.empty() ? FData : FProgramData; }
    void Took(int32_t width, int32_t height);

    std::vector<uint8_t> FData;            // a file read from a stream
    std::span<const uint8_t> FProgramData; // or one that lives as long as the program
    int32_t FWidth = 0;
    int32_t FHeight = 0;
};

// The start-up registration of the JPEG picture format: extensions "jpeg" and "jpg".
void RegisterJPEGImageFormat();
