#include "tests/support/JPEGWriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace {

// The writer's input is the test's own: a failure is a broken test, reported and fatal.
[[noreturn]] void AbortOnError(j_common_ptr info) {
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    std::fprintf(stderr, "JPEG writer: %s\n", text);
    std::abort();
}

int ComponentsOf(TJPEGModel model) {
    switch (model) {
    case jmGray:
        return 1;
    case jmYCbCr:
        return 3;
    default:
        return 4;
    }
}

void AppendSamples(std::vector<uint8_t>& row, TJPEGModel model, const TJPEGRgb& rgb) {
    switch (model) {
    case jmGray:
        row.push_back(static_cast<uint8_t>((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114) / 1000));
        break;
    case jmYCbCr:
        row.insert(row.end(), rgb.begin(), rgb.end());
        break;
    default: // inverted CMYK without black: the light left of each primary, full light of K
        row.insert(row.end(), {rgb[0], rgb[1], rgb[2], 255});
        break;
    }
}

void SetModel(jpeg_compress_struct& info, const TJPEGSpec& spec) {
    info.input_components = ComponentsOf(spec.Model);
    info.in_color_space = spec.Model == jmGray    ? JCS_GRAYSCALE
                          : spec.Model == jmYCbCr ? JCS_RGB
                                                  : JCS_CMYK;
    jpeg_set_defaults(&info);
    if (spec.Model == jmYCCK)
        jpeg_set_colorspace(&info, JCS_YCCK);
    if (spec.FullChroma)
        info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
}

// DC of all components together, then each AC coefficient of each component alone, each first
// at the coarsest bit the encoder allows and then refined one bit per scan.
std::vector<jpeg_scan_info> EveryBitScans(int components) {
    constexpr int coarsest = 10;
    std::vector<jpeg_scan_info> scans;
    auto add = [&](int count, int first, int ss, int se, int ah, int al) {
        jpeg_scan_info scan{};
        scan.comps_in_scan = count;
        for (int c = 0; c < count; ++c)
            scan.component_index[c] = first + c;
        scan.Ss = ss, scan.Se = se, scan.Ah = ah, scan.Al = al;
        scans.push_back(scan);
    };
    add(components, 0, 0, 0, 0, coarsest);
    for (int bit = coarsest - 1; bit >= 0; --bit)
        add(components, 0, 0, 0, bit + 1, bit);
    for (int c = 0; c < components; ++c)
        for (int k = 1; k < 64; ++k) {
            add(1, c, k, k, 0, coarsest);
            for (int bit = coarsest - 1; bit >= 0; --bit)
                add(1, c, k, k, bit + 1, bit);
        }
    return scans;
}

} // namespace

TJPEGPixelSource QuadrantPicture(int width, int height) {
    return [=](int x, int y) {
        return QuadrantColours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
    };
}

std::vector<uint8_t> WriteJPEG(const TJPEGSpec& spec) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.error_exit = AbortOnError;
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);

    info.image_width = static_cast<JDIMENSION>(spec.Width);
    info.image_height = static_cast<JDIMENSION>(spec.Height);
    SetModel(info, spec);
    jpeg_set_quality(&info, spec.Quality, TRUE);
    info.restart_interval = static_cast<unsigned>(spec.RestartInterval);
    std::vector<jpeg_scan_info> scans;
    if (spec.EveryBitAScan) {
        scans = EveryBitScans(info.num_components);
        info.scan_info = scans.data();
        info.num_scans = static_cast<int>(scans.size());
    } else if (spec.Progressive) {
        jpeg_simple_progression(&info);
    }
    info.write_JFIF_header = spec.Exif.empty();

    jpeg_start_compress(&info, TRUE);
    if (!spec.Exif.empty()) {
        std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
        app1.insert(app1.end(), spec.Exif.begin(), spec.Exif.end());
        jpeg_write_marker(&info, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
    }
    const TJPEGPixelSource pixel =
        spec.Pixel ? spec.Pixel : QuadrantPicture(spec.Width, spec.Height);
    std::vector<uint8_t> row;
    for (int y = 0; y < spec.Height; ++y) {
        row.clear();
        for (int x = 0; x < spec.Width; ++x)
            AppendSamples(row, spec.Model, pixel(x, y));
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> jpeg(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return jpeg;
}

size_t FindJPEGMarker(const std::vector<uint8_t>& jpeg, uint8_t code) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == code)
            return i;
    return NoJPEGMarker;
}

void SetJPEGFrameSize(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height) {
    for (uint8_t code : {0xC0, 0xC1, 0xC2}) {
        const size_t at = FindJPEGMarker(jpeg, code);
        if (at == NoJPEGMarker)
            continue;
        jpeg[at + 5] = static_cast<uint8_t>(height >> 8);
        jpeg[at + 6] = static_cast<uint8_t>(height);
        jpeg[at + 7] = static_cast<uint8_t>(width >> 8);
        jpeg[at + 8] = static_cast<uint8_t>(width);
        return;
    }
    std::fprintf(stderr, "SetJPEGFrameSize: no frame header\n");
    std::abort();
}
