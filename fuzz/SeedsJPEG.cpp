// Writes the JPEG fuzzer's seed corpus into the directory given: small files of every kind the
// decoder reads (baseline and progressive, grey, colour, CMYK and YCCK, restart markers, EXIF,
// sizes that are not whole blocks).
#include <cstdio>
#include <string>

#include "tests/support/JPEGWriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const struct {
        const char* Name;
        TJPEGSpec Spec;
    } seeds[] = {
        {"baseline", {.Width = 16, .Height = 16}},
        {"odd-size", {.Width = 13, .Height = 7, .Quality = 50}},
        {"progressive", {.Width = 24, .Height = 16, .Progressive = true}},
        {"restarts", {.Width = 32, .Height = 16, .RestartInterval = 1}},
        {"grey", {.Width = 8, .Height = 8, .Model = jmGray}},
        {"cmyk", {.Width = 8, .Height = 8, .Model = jmCMYK}},
        {"ycck", {.Width = 8, .Height = 8, .Model = jmYCCK}},
        {"exif", {.Width = 8, .Height = 8, .Exif = {'I', 'I', 42, 0, 8, 0, 0, 0}}},
    };
    for (const auto& seed : seeds) {
        const std::vector<uint8_t> bytes = WriteJPEG(seed.Spec);
        const std::string path = std::string(argv[1]) + "/" + seed.Name + ".jpg";
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
            std::fclose(file) != 0) {
            std::perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
