// benchpictures [DATA_DIRECTORY]: the cost of the scene's three pictures on the way to a
// texture: loading each file (header only), decoding it into a bitmap, and converting that into
// the RGBA texture bitmap. Prints the best of several rounds for each picture.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/materials/GLGraphics.h"
#include "platform/framework/JPEGImage.h"
#include "platform/framework/SysUtils.h"

namespace {

constexpr int Rounds = 9;

double BestMilliseconds(const std::function<void()>& work) {
    double best = 1e30;
    for (int round = 0; round < Rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) try {
    const std::string directory = argc > 1 ? argv[1] : "data";
    for (const char* name : {"Wall", "Floor", "Sky"}) {
        TMemoryStream file;
        file.LoadFromFile(directory + "/" + name + ".jpg");
        TJPEGImage image;
        const double load = BestMilliseconds([&] {
            file.SetPosition(0);
            image.LoadFromStream(file);
        });
        TBitmap decoded;
        const double decode = BestMilliseconds([&] { image.Decode(decoded); });
        TGLBitmap32 texture;
        const double convert = BestMilliseconds([&] { texture.Assign(&image); });
        std::printf("%-5s %4d x %-4d %7lld bytes: load %.3f ms, decode %.2f ms, "
                    "decode and convert %.2f ms\n",
                    name, image.Width(), image.Height(), static_cast<long long>(file.Size()), load,
                    decode, convert);
    }
    return 0;
} catch (const Exception& error) {
    std::fprintf(stderr, "benchpictures: %s\n", error.what());
    return 1;
}
