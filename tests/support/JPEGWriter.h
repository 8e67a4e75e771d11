// A writer of JPEG files for generated test data and fuzzing seeds, on libjpeg's encoder, with
// the few byte-level edits that make broken files out of good ones.
//
//     std::vector<uint8_t> jpeg = WriteJPEG({.Width = 13, .Height = 7, .Progressive = true});
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

using TJPEGRgb = std::array<uint8_t, 3>;
using TJPEGPixelSource = std::function<TJPEGRgb(int x, int y)>;

// How the samples are coded. CMYK and YCCK are written as Photoshop writes them: inverted
// (255 = no ink) with an Adobe marker, from the RGB pixels with no black ink.
enum TJPEGModel : uint8_t { jmGray, jmYCbCr, jmCMYK, jmYCCK };

struct TJPEGSpec {
    int Width = 16;
    int Height = 16;
    TJPEGModel Model = jmYCbCr;
    int Quality = 95;
    bool FullChroma = false; // chroma at full resolution instead of halved both ways
    bool Progressive = false;
    // A progressive file that codes every coefficient of every component one bit at a time:
    // thousands of scans.
    bool EveryBitAScan = false;
    int RestartInterval = 0;        // MCUs between restart markers; 0 writes none
    std::vector<uint8_t> Exif = {}; // an APP1 "Exif" segment with this payload instead of JFIF
    TJPEGPixelSource Pixel = {};    // QuadrantPicture of the size when empty
};

// Top-left quarter red, top-right green, bottom-left blue, bottom-right white.
TJPEGPixelSource QuadrantPicture(int width, int height);
inline constexpr TJPEGRgb QuadrantColours[4] = {
    {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

std::vector<uint8_t> WriteJPEG(const TJPEGSpec& spec);

inline constexpr size_t NoJPEGMarker = static_cast<size_t>(-1);
// The offset of the first marker FF `code` (outside coded data, where FF is always followed by
// 00 or a restart marker), or NoJPEGMarker.
size_t FindJPEGMarker(const std::vector<uint8_t>& jpeg, uint8_t code);
// Overwrites the size declared in the frame header (the first SOF marker).
void SetJPEGFrameSize(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height);
