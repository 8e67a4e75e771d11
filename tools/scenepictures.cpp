// scenepictures DIRECTORY: writes the scene's three texture pictures as baseline JPEG files,
// the same bytes on every run.
//
//   Wall.jpg   512 x 512  brick courses between a dark stone plinth (bottom) and a light coping
//                         (top), lit from above; seamless from left to right.
//   Floor.jpg  512 x 512  a checkerboard of small marble tiles in squares of wider bands, whose
//                         lines show the floor's perspective, with a small compass medallion near
//                         the middle: its red point and the letter "N" above it point to the top
//                         edge.
//   Sky.jpg    800 x 600  blue sky brightening towards its bottom (horizon) edge, the sun's
//                         glow at the bottom right, soft clouds stretched sideways.
//
// Every pixel is the mean of 3 x 3 samples of a shading function of the picture's coordinates.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "tools/ToolCommandLine.h"

namespace {

struct TColour {
    double R = 0, G = 0, B = 0;
};

TColour operator*(const TColour& c, double f) {
    return {c.R * f, c.G * f, c.B * f};
}
TColour operator+(const TColour& a, const TColour& b) {
    return {a.R + b.R, a.G + b.G, a.B + b.B};
}
TColour Mix(const TColour& a, const TColour& b, double t) {
    return a * (1 - t) + b * t;
}
double Lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

double SmoothStep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// --- noise -------------------------------------------------------------------------------------

uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = seed * 0x9E3779B9u ^ static_cast<uint32_t>(x) * 0x85EBCA6Bu ^
                 static_cast<uint32_t>(y) * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

double Random(int32_t x, int32_t y, uint32_t seed) {
    return Hash(x, y, seed) / 4294967296.0;
}

int32_t Wrap(int32_t value, int32_t period) {
    return period > 0 ? ((value % period) + period) % period : value;
}

// Smoothly interpolated lattice values, cells of one unit, repeating every `period` cells
// across (0: never).
double ValueNoise(double x, double y, uint32_t seed, int32_t period) {
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
    const double u = SmoothStep(0, 1, x - fx), v = SmoothStep(0, 1, y - fy);
    auto at = [&](int32_t dx, int32_t dy) { return Random(Wrap(ix + dx, period), iy + dy, seed); };
    return Lerp(Lerp(at(0, 0), at(1, 0), u), Lerp(at(0, 1), at(1, 1), u), v);
}

// Octaves of value noise, about 0..1; `period` is the repeat of the first octave.
double Fbm(double x, double y, int octaves, uint32_t seed, int32_t period = 0) {
    double sum = 0, weight = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += weight * ValueNoise(x, y, seed + i, period);
        total += weight;
        x *= 2, y *= 2, period *= 2, weight *= 0.5;
    }
    return sum / total;
}

// --- the wall ----------------------------------------------------------------------------------

constexpr int WallSize = 512;
constexpr int CopingEnd = 24, PlinthStart = 440;
constexpr int Course = 32, Brick = 64, Mortar = 4;

TColour BrickColour(int course, int brick) {
    const double r = Random(course, brick, 11), shade = 0.85 + 0.3 * Random(course, brick, 12);
    TColour base = Mix(TColour{168, 72, 52}, TColour{150, 88, 62}, r);
    if (Random(course, brick, 13) < 0.12)
        base = TColour{112, 58, 46}; // an overfired brick here and there
    return base * shade;
}

TColour WallBricks(double x, double y) {
    const int course = static_cast<int>((y - CopingEnd) / Course);
    const double inCourse = std::fmod(y - CopingEnd, Course);
    const double shifted = std::fmod(x + (course % 2) * Brick / 2.0, WallSize);
    const int brick = static_cast<int>(shifted / Brick);
    const double inBrick = std::fmod(shifted, Brick);
    const double grain = Fbm(x / 8, y / 8, 3, 21, WallSize / 8);
    const double sand = 0.93 + 0.14 * Random(static_cast<int>(x), static_cast<int>(y), 23);
    if (inCourse < Mortar || inBrick < Mortar) {
        // Mortar, recessed: the brick above shades its upper part.
        const double shadow = inCourse < Mortar ? 0.75 + 0.25 * inCourse / Mortar : 0.92;
        return TColour{178, 172, 160} * ((0.85 + 0.3 * grain) * shadow * sand);
    }
    const double top = inCourse - Mortar, left = inBrick - Mortar;
    double light = 1.0;
    if (top < 2)
        light = 1.12; // the upper edge catches the light
    else if (top > Course - Mortar - 3)
        light = 0.82;
    if (left < 1.5)
        light *= 1.05;
    else if (left > Brick - Mortar - 2)
        light *= 0.9;
    const double speckle = Random(static_cast<int>(x), static_cast<int>(y), 22) < 0.03 ? 0.8 : 1;
    return BrickColour(course, brick % (WallSize / Brick)) *
           ((0.82 + 0.36 * grain) * light * speckle * sand);
}

TColour WallPlinth(double x, double y) {
    const double local = y - PlinthStart;
    const int row = static_cast<int>(local / 36);
    const double inRow = std::fmod(local, 36), inBlock = std::fmod(x + row * 64, 128);
    const double grain = Fbm(x / 16, y / 16, 4, 31, WallSize / 16);
    if (inRow < 3 || inBlock < 3)
        return TColour{60, 60, 62} * (0.8 + 0.3 * grain);
    const double shade = 0.9 + 0.2 * Random(row, static_cast<int>((x + row * 64) / 128), 32);
    return TColour{104, 104, 110} * ((0.75 + 0.45 * grain) * shade * (inRow < 5 ? 1.15 : 1.0));
}

TColour WallCoping(double x, double y) {
    const double grain = Fbm(x / 8, y / 8, 4, 41, WallSize / 8);
    TColour stone = TColour{222, 206, 172} * (0.85 + 0.25 * grain);
    if (y > CopingEnd - 4)
        stone = stone * 0.55; // its lower lip, in its own shadow
    else if (std::fmod(x, 128) < 2)
        stone = stone * 0.7;
    return stone;
}

TColour Wall(double x, double y) {
    if (y < CopingEnd)
        return WallCoping(x, y);
    if (y >= PlinthStart)
        return WallPlinth(x, y);
    TColour colour = WallBricks(x, y);
    // The coping's shadow below it, and rising damp that darkens the lowest courses.
    colour = colour * (0.7 + 0.3 * SmoothStep(CopingEnd, CopingEnd + 14, y));
    const double damp =
        SmoothStep(300, PlinthStart, y) * (0.6 + 0.4 * Fbm(x / 32, y / 25, 3, 51, WallSize / 32));
    return colour * (1 - 0.3 * damp);
}

// --- the floor ---------------------------------------------------------------------------------

// The medallion lies a little left of the middle: the picture's columns run along the floor away
// from the camera, so that is just beyond the scene's origin, in view.
constexpr double CentreX = 230, CentreY = 256, MedallionRadius = 20;
constexpr int Tile = 8, Grout = 1;

// Distance from p to the segment a-b.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - ax - t * dx, py - ay - t * dy);
}

// The letter N, 14 pixels tall, centred on (cx, cy).
bool InLetterN(double x, double y, double cx, double cy) {
    const double h = 7, w = 5, stroke = 1.6;
    return SegmentDistance(x, y, cx - w, cy + h, cx - w, cy - h) < stroke ||
           SegmentDistance(x, y, cx - w, cy - h, cx + w, cy + h) < stroke ||
           SegmentDistance(x, y, cx + w, cy + h, cx + w, cy - h) < stroke;
}

TColour FloorTiles(double x, double y) {
    const int i = static_cast<int>(x / Tile), j = static_cast<int>(y / Tile);
    const double u = std::fmod(x, Tile), v = std::fmod(y, Tile);
    // Every eighth grout line is a wider band, a coarser grid that stays visible in the distance
    // where the tiles blur into grey.
    if (std::fmod(x, 8 * Tile) < 2 || std::fmod(y, 8 * Tile) < 2)
        return TColour{52, 48, 46};
    if (u < Grout || v < Grout)
        return TColour{70, 66, 62} * (0.9 + 0.2 * Random(i, j, 61));
    const double variation = 0.92 + 0.16 * Random(i, j, 62);
    const double warp = Fbm(x / 24, y / 24, 4, 63);
    if ((i + j) % 2 == 0) {
        // Cream marble with thin grey veins.
        const double vein = std::abs(std::sin((x + y * 0.6 + warp * 70) / 16));
        const TColour marble =
            Mix(TColour{160, 154, 146}, TColour{228, 219, 200}, SmoothStep(0.0, 0.12, vein));
        return marble * variation;
    }
    return TColour{78, 92, 112} * (variation * (0.85 + 0.3 * warp));
}

// The compass: the north point (towards the top edge) red, the others light, each point with a
// lit and a shaded half.
TColour Compass(double x, double y, double r) {
    const double dx = x - CentreX, dy = y - CentreY;
    const double angle = std::atan2(dx, -dy); // 0 towards the top edge, clockwise
    const double quarter = M_PI / 2;
    const double nearest = std::round(angle / quarter) * quarter;
    const double off = angle - nearest;
    // A point is a narrow kite: its half-width shrinks linearly to its tip.
    const double tip = MedallionRadius - 4, halfWidth = 0.5 * (1 - r / tip);
    if (r < tip && std::abs(off) < halfWidth) {
        const bool north = std::abs(nearest) < 0.1;
        TColour point = north ? TColour{196, 42, 36} : TColour{232, 226, 210};
        return off < 0 ? point * 0.72 : point;
    }
    const TColour disc = TColour{34, 72, 60} * (0.8 + 0.3 * Fbm(x / 5, y / 5, 3, 71));
    return r > MedallionRadius - 3 ? TColour{196, 156, 74} : disc;
}

TColour Floor(double x, double y) {
    const double r = std::hypot(x - CentreX, y - CentreY);
    if (r < MedallionRadius)
        return Compass(x, y, r);
    if (InLetterN(x, y, CentreX, CentreY - MedallionRadius - 11))
        return TColour{196, 156, 74};
    return FloorTiles(x, y);
}

// --- the sky -----------------------------------------------------------------------------------

constexpr double SkyWidth = 800, SkyHeight = 600;

TColour Sky(double x, double y) {
    const double t = y / SkyHeight; // 0 at the zenith edge, 1 at the horizon edge
    TColour sky = Mix(TColour{32, 84, 168}, TColour{196, 220, 242}, std::pow(t, 1.6));
    const double sun = std::hypot(x - 0.78 * SkyWidth, (y - 1.05 * SkyHeight) * 1.4);
    sky = sky + TColour{60, 44, 14} * std::exp(-sun * sun / (2 * 170.0 * 170.0));

    // Clouds flatten and thin out towards the horizon.
    const double stretch = 1 + 1.5 * t;
    const double density = Fbm(x / (170 * stretch), y / 95, 6, 81);
    const double cover = SmoothStep(0.48, 0.72, density) * (1 - 0.6 * SmoothStep(0.75, 1.0, t));
    const double underside = SmoothStep(0.45, 0.8, Fbm(x / (170 * stretch), (y - 14) / 95, 6, 81));
    const TColour cloud = Mix(TColour{252, 252, 255}, TColour{188, 196, 212}, 0.6 * underside);
    return Mix(sky, cloud, cover);
}

// --- writing -----------------------------------------------------------------------------------

using TShader = std::function<TColour(double x, double y)>;

uint8_t Byte(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

std::vector<uint8_t> Render(int width, int height, const TShader& shader) {
    constexpr int samples = 3;
    std::vector<uint8_t> rgb;
    rgb.reserve(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            TColour sum;
            for (int sy = 0; sy < samples; ++sy)
                for (int sx = 0; sx < samples; ++sx)
                    sum = sum + shader(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples);
            sum = sum * (1.0 / (samples * samples));
            rgb.insert(rgb.end(), {Byte(sum.R), Byte(sum.G), Byte(sum.B)});
        }
    return rgb;
}

bool WriteFile(const std::string& path, int width, int height, int quality,
               const std::vector<uint8_t>& rgb) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // an encoder error ends the program with its message
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.optimize_coding = TRUE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(&rgb[size_t(info.next_scanline) * width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const bool closed = std::fclose(file) == 0;
    if (!closed)
        std::perror(path.c_str());
    return closed;
}

struct TPicture {
    const char* Name;
    int Width, Height, Quality;
    TShader Shader;
};

} // namespace

int main(int argc, char** argv) {
    const TToolSyntax syntax{
        .Name = "scenepictures",
        .Synopsis = "DIRECTORY",
        .Description =
            "Writes the scene's pictures Wall.jpg, Floor.jpg and Sky.jpg into DIRECTORY."};
    const TToolCommand command = ParseToolCommand(syntax, argc, argv);
    if (command.ExitStatus)
        return *command.ExitStatus;
    const TPicture pictures[] = {
        {"Wall", WallSize, WallSize, 88, Wall},
        {"Floor", 512, 512, 90, Floor},
        {"Sky", 800, 600, 90, Sky},
    };
    for (const TPicture& picture : pictures) {
        const std::string path = command.Operands[0] + "/" + picture.Name + ".jpg";
        const auto rgb = Render(picture.Width, picture.Height, picture.Shader);
        if (!WriteFile(path, picture.Width, picture.Height, picture.Quality, rgb))
            return 1;
        std::printf("%s: %d x %d\n", path.c_str(), picture.Width, picture.Height);
    }
    return 0;
}
