// PNG files of RGB pixels, through libpng: screenshots written for people to look at, and the
// committed reference screenshots read back.
#pragma once

#include "tests/support/XClient.h"

#include <optional>
#include <string>
#include <vector>

struct TImage {
    int Width = 0, Height = 0;
    std::vector<TRgb> Pixels;
};

// Writes 8-bit RGB pixels, row by row from the top; throws std::runtime_error when it cannot.
void WritePng(const std::string& path, const std::vector<TRgb>& pixels, int width, int height);

// Any PNG file as 8-bit RGB pixels; none when the file cannot be read as one.
std::optional<TImage> ReadPng(const std::string& path);
