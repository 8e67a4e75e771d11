#include "tests/support/PngFile.h"

#include <png.h>

#include <stdexcept>

// The pixels go to and from libpng as they lie in memory, three bytes each.
static_assert(sizeof(TRgb) == 3);

namespace {

// libpng's simplified interface, released however the read or write ends.
class TPngImage {
public:
    TPngImage() {
        FImage.version = PNG_IMAGE_VERSION;
        FImage.format = PNG_FORMAT_RGB;
    }
    ~TPngImage() { png_image_free(&FImage); }
    TPngImage(const TPngImage&) = delete;
    TPngImage& operator=(const TPngImage&) = delete;

    png_image& Image() { return FImage; }

private:
    png_image FImage{};
};

} // namespace

void WritePng(const std::string& path, const std::vector<TRgb>& pixels, int width, int height) {
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height)
        throw std::runtime_error("WritePng: " + path + ": the pixels are not width x height");
    TPngImage png;
    png.Image().width = static_cast<png_uint_32>(width);
    png.Image().height = static_cast<png_uint_32>(height);
    if (!png_image_write_to_file(&png.Image(), path.c_str(), 0, pixels.data(), 0, nullptr))
        throw std::runtime_error("WritePng: " + path + ": " + png.Image().message);
}

std::optional<TImage> ReadPng(const std::string& path) {
    TPngImage png;
    if (!png_image_begin_read_from_file(&png.Image(), path.c_str()))
        return std::nullopt;
    png.Image().format = PNG_FORMAT_RGB;
    TImage image;
    image.Width = static_cast<int>(png.Image().width);
    image.Height = static_cast<int>(png.Image().height);
    image.Pixels.resize(static_cast<size_t>(image.Width) * image.Height);
    if (!png_image_finish_read(&png.Image(), nullptr, image.Pixels.data(), 0, nullptr))
        return std::nullopt;
    return image;
}
