#include "tests/support/ImageCompare.h"

#include <algorithm>
#include <cstdlib>

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
