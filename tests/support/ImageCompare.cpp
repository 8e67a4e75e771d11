#include "tests/support/ImageCompare.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

uint32_t GetBig(const std::string& data, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<uint8_t>(data[at + i]);
    return value;
}

// The payload of a zlib stream of stored deflate blocks; none when it holds anything else.
std::optional<std::string> Unstore(const std::string& stream) {
    std::string raw;
    size_t at = 2;
    for (bool last = false; !last;) {
        if (at + 5 > stream.size() || (stream[at] & 0x06) != 0)
            return std::nullopt;
        last = (stream[at] & 1) != 0;
        const size_t length =
            static_cast<uint8_t>(stream[at + 1]) | static_cast<uint8_t>(stream[at + 2]) << 8;
        at += 5;
        if (at + length > stream.size())
            return std::nullopt;
        raw.append(stream, at, length);
        at += length;
    }
    return raw;
}

} // namespace

TImage BlockAverages(const TImage& image, int block) {
    TImage result{image.Width / block, image.Height / block, {}};
    result.Pixels.reserve(static_cast<size_t>(result.Width) * result.Height);
    const int area = block * block;
    for (int by = 0; by < result.Height; ++by)
        for (int bx = 0; bx < result.Width; ++bx) {
            int sum[3] = {0, 0, 0};
            for (int y = by * block; y < (by + 1) * block; ++y)
                for (int x = bx * block; x < (bx + 1) * block; ++x) {
                    const TRgb& p = image.Pixels[static_cast<size_t>(y) * image.Width + x];
                    sum[0] += p.R;
                    sum[1] += p.G;
                    sum[2] += p.B;
                }
            result.Pixels.push_back({static_cast<uint8_t>((sum[0] + area / 2) / area),
                                     static_cast<uint8_t>((sum[1] + area / 2) / area),
                                     static_cast<uint8_t>((sum[2] + area / 2) / area)});
        }
    return result;
}

std::optional<TImage> ReadPng(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (data.size() < 8 || data.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0)
        return std::nullopt;
    TImage image;
    std::string stream;
    for (size_t at = 8; at + 12 <= data.size();) {
        const uint32_t length = GetBig(data, at);
        if (at + 12 + length > data.size())
            return std::nullopt;
        const std::string type = data.substr(at + 4, 4);
        if (type == "IHDR" && length == 13) {
            image.Width = static_cast<int>(GetBig(data, at + 8));
            image.Height = static_cast<int>(GetBig(data, at + 12));
            if (data.compare(at + 16, 5, "\x08\x02\x00\x00\x00", 5) != 0)
                return std::nullopt;
        } else if (type == "IDAT") {
            stream.append(data, at + 8, length);
        }
        at += 12 + length;
    }
    const std::optional<std::string> raw = Unstore(stream);
    const size_t row = static_cast<size_t>(image.Width) * 3 + 1;
    if (!raw || image.Width <= 0 || image.Height <= 0 || raw->size() != row * image.Height)
        return std::nullopt;
    for (int y = 0; y < image.Height; ++y) {
        const char* line = raw->data() + row * y;
        if (line[0] != 0)
            return std::nullopt;
        for (int x = 0; x < image.Width; ++x)
            image.Pixels.push_back({static_cast<uint8_t>(line[1 + 3 * x]),
                                    static_cast<uint8_t>(line[2 + 3 * x]),
                                    static_cast<uint8_t>(line[3 + 3 * x])});
    }
    return image;
}

double ShareDiffering(const TImage& a, const TImage& b, int tolerance) {
    if (a.Width != b.Width || a.Height != b.Height || a.Pixels.empty())
        return 1;
    size_t differing = 0;
    for (size_t i = 0; i < a.Pixels.size(); ++i) {
        const TRgb& p = a.Pixels[i];
        const TRgb& q = b.Pixels[i];
        const int difference =
            std::max({std::abs(p.R - q.R), std::abs(p.G - q.G), std::abs(p.B - q.B)});
        if (difference > tolerance)
            ++differing;
    }
    return static_cast<double>(differing) / static_cast<double>(a.Pixels.size());
}
