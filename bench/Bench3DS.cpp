// bench3ds [FILE...]: throughput of the 3DS reader, the structure pass plus the extraction of
// every mesh and material, from memory and from the file, against a plain memcpy of the same
// bytes, all in the same run. Without arguments it measures two generated scenes: a large one of
// big arrays and one of many small meshes, whose chunks are small and many. Rounds are timed in
// CPU time of the thread, the kernel's work for its reads included, so that other processes on a
// loaded machine do not count; the memory and file rounds alternate, and it prints the best and
// the median round.
//
// bench3ds --convert FILE [RUNS]: the viewer's load of a model, the read and the conversion of
// FILE into a fresh free form through LoadMeshFile, timed in wall-clock time like the peer
// importers that bench/compare-peers runs beside it, after one untimed warm-up; it prints the
// median and best of RUNS (default 7) in their format, then MB/s, Mfaces/s and the process's
// peak memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "engine/3ds/File3DS.h"
#include "engine/3ds/GLFile3DS.h"
#include "engine/meshes/ApplicationFileIO.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "tests/support/Writer3DS.h"

namespace {

constexpr int Rounds = 15;

std::vector<uint8_t> LargeScene() {
    constexpr int meshCount = 50;
    constexpr int gridSide = 100; // 2 x 100 x 100 = 20,000 faces a mesh
    constexpr int materialCount = 20;
    TScene3DS scene;
    for (int i = 0; i < materialCount; ++i)
        scene.Materials.push_back(Material3DS("Material" + std::to_string(i),
                                              {float(i) / materialCount, 0.5f, 0.5f},
                                              "texture" + std::to_string(i) + ".jpg"));
    for (int i = 0; i < meshCount; ++i)
        scene.Meshes.push_back(GridMesh3DS("Mesh" + std::to_string(i), gridSide, gridSide,
                                           "Material" + std::to_string(i % materialCount)));
    return WriteScene3DS(scene);
}

// "M12", "t12.jpg": formatted rather than concatenated, which g++ 12 at -O3 warns about.
std::string Numbered(const char* pattern, int number) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, number);
    return text;
}

// About the size and the chunk count of a typical real model.
std::vector<uint8_t> ManySmallMeshes() {
    constexpr int meshCount = 400;
    constexpr int materialCount = 40;
    TScene3DS scene;
    for (int i = 0; i < materialCount; ++i)
        scene.Materials.push_back(
            Material3DS(Numbered("M%d", i), {0.5f, 0.5f, 0.5f}, Numbered("t%d.jpg", i)));
    for (int i = 0; i < meshCount; ++i)
        scene.Meshes.push_back(
            GridMesh3DS(Numbered("G%d", i), 6, 6, Numbered("M%d", i % materialCount)));
    return WriteScene3DS(scene);
}

size_t ReadEverything(TStream& stream) {
    TFile3DS file;
    file.ReadFromStream(stream);
    size_t faces = 0;
    for (int i = 0; i < file.Objects().MeshCount(); ++i)
        faces += file.Objects().MeshByIndex(i)->FaceArray.size();
    for (int i = 0; i < file.Materials().MaterialCount(); ++i)
        faces += file.Materials().MaterialByIndex(i)->NameStr.empty() ? 1 : 0;
    return faces;
}

size_t ReadStructure(const std::vector<uint8_t>& bytes) {
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TFile3DS file;
    file.ReadFromStream(stream);
    return file.Database().Chunks.Size();
}

double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& work) {
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

struct TTimes {
    std::vector<double> Samples;
    double Best() const { return *std::min_element(Samples.begin(), Samples.end()); }
    double Median() const {
        std::vector<double> sorted = Samples;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

void Measure(const std::string& title, const std::vector<uint8_t>& bytes,
             const std::string& fileName) {
    std::vector<uint8_t> copy(bytes.size());
    volatile size_t sink = 0;
    TTimes memcpyTimes, structureTimes, memoryTimes, fileTimes;
    for (int round = 0; round < Rounds; ++round) {
        memcpyTimes.Samples.push_back(Seconds([&] {
            std::memcpy(copy.data(), bytes.data(), bytes.size());
            asm volatile("" : : "r"(copy.data()) : "memory");
        }));
        structureTimes.Samples.push_back(Seconds([&] { sink = sink + ReadStructure(bytes); }));
        memoryTimes.Samples.push_back(Seconds([&] {
            TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
            sink = sink + ReadEverything(stream);
        }));
        fileTimes.Samples.push_back(Seconds([&] {
            std::unique_ptr<TStream> stream =
                OpenFileStream(fileName, fmOpenRead | fmShareDenyWrite);
            sink = sink + ReadEverything(*stream);
        }));
    }
    const double megabytes = double(bytes.size()) / 1e6;
    const auto line = [&](const char* what, const TTimes& times) {
        std::printf("  %-32s %9.1f MB/s best %9.1f MB/s median (%.3f of memcpy)\n", what,
                    megabytes / times.Best(), megabytes / times.Median(),
                    memcpyTimes.Median() / times.Median());
    };
    std::printf("%s: %.2f MB\n", title.c_str(), megabytes);
    line("memcpy", memcpyTimes);
    line("structure pass, memory", structureTimes);
    line("structure + extraction, memory", memoryTimes);
    line("structure + extraction, file", fileTimes);
    std::printf("  file / memory: %.2f best, %.2f median\n", fileTimes.Best() / memoryTimes.Best(),
                fileTimes.Median() / memoryTimes.Median());
}

// The generated scene goes to a file of its own for the file rounds, removed afterwards.
void MeasureGenerated(const std::string& title, const std::vector<uint8_t>& bytes) {
    const std::string fileName = (std::filesystem::temp_directory_path() /
                                  ("bench3ds-" + std::to_string(::getpid()) + ".3ds"))
                                     .string();
    {
        TFileStream out(fileName, fmCreate);
        out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    Measure(title, bytes, fileName);
    std::filesystem::remove(fileName);
}

void MeasureFile(const std::string& fileName) {
    TMemoryStream stream;
    stream.LoadFromFile(fileName);
    const std::vector<uint8_t> bytes(stream.Memory(), stream.Memory() + stream.Size());
    Measure(fileName, bytes, fileName);
}

double WallMilliseconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

int64_t FaceCount(const TGLFreeForm& freeForm) {
    int64_t faces = 0;
    for (int32_t i = 0; i < freeForm.MeshObjects().Count(); ++i)
        faces += freeForm.MeshObjects()[i]->CountTriangles();
    return faces;
}

// Each run loads into a free form of its own, freed outside the timing as the peers free theirs.
void MeasureConversion(const std::string& fileName, int runs) {
    RegisterVectorFileObjects();
    RegisterGLFile3DS();
    TTimes times;
    int64_t faces = 0;
    for (int run = -1; run < runs; ++run) {
        auto freeForm = std::make_unique<TGLFreeForm>(nullptr);
        const double ms = WallMilliseconds([&] { freeForm->LoadMeshFile(fileName); });
        faces = FaceCount(*freeForm);
        if (run >= 0)
            times.Samples.push_back(ms);
    }
    std::sort(times.Samples.begin(), times.Samples.end());
    std::printf("peer=skyview metric=load+convert file=%s runs=%d median_ms=%.3f min_ms=%.3f "
                "samples=",
                fileName.c_str(), runs, times.Median(), times.Best());
    for (size_t i = 0; i < times.Samples.size(); ++i)
        std::printf("%s%.3f", i ? "," : "", times.Samples[i]);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double megabytes = double(std::filesystem::file_size(fileName)) / 1e6;
    std::printf("\nskyview: %.2f MB, %lld faces: %.1f MB/s, %.2f Mfaces/s (median), peak memory "
                "%.1f MiB\n",
                megabytes, static_cast<long long>(faces), megabytes / times.Median() * 1e3,
                double(faces) / times.Median() / 1e3, double(usage.ru_maxrss) / 1024);
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 3 && std::strcmp(argv[1], "--convert") == 0) {
            MeasureConversion(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 7);
            return 0;
        }
        if (argc == 1) {
            MeasureGenerated("large scene (50 meshes, 1,000,000 faces)", LargeScene());
            MeasureGenerated("many small meshes (400 meshes of 72 faces)", ManySmallMeshes());
        }
        for (int i = 1; i < argc; ++i)
            MeasureFile(argv[i]);
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench3ds: %s\n", e.Message().c_str());
        return 1;
    }
}
