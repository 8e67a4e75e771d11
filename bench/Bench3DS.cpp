// bench3ds: throughput of the 3DS reader on a large generated file held in memory: the structure
// pass plus the extraction of every mesh and material, against a plain memcpy of the same bytes
// in the same run. Prints the best of several rounds.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/3ds/File3DS.h"
#include "tests/support/Writer3DS.h"

namespace {

constexpr int MeshCount = 50;
constexpr int GridSide = 100; // 2 x 100 x 100 = 20,000 faces a mesh, 1,000,000 in all
constexpr int MaterialCount = 20;
constexpr int Rounds = 7;

std::vector<uint8_t> LargeScene() {
    TScene3DS scene;
    for (int i = 0; i < MaterialCount; ++i)
        scene.Materials.push_back(Material3DS("Material" + std::to_string(i),
                                              {float(i) / MaterialCount, 0.5f, 0.5f},
                                              "texture" + std::to_string(i) + ".jpg"));
    for (int i = 0; i < MeshCount; ++i)
        scene.Meshes.push_back(GridMesh3DS("Mesh" + std::to_string(i), GridSide, GridSide,
                                           "Material" + std::to_string(i % MaterialCount)));
    return WriteScene3DS(scene);
}

double BestSeconds(const std::function<void()>& work) {
    double best = 1e30;
    for (int round = 0; round < Rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

size_t ReadStructure(const std::vector<uint8_t>& bytes) {
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TFile3DS file;
    file.ReadFromStream(stream);
    return file.Database().TopChunk->Length;
}

size_t ReadEverything(const std::vector<uint8_t>& bytes) {
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TFile3DS file;
    file.ReadFromStream(stream);
    size_t faces = 0;
    for (int i = 0; i < file.Objects().MeshCount(); ++i)
        faces += file.Objects().MeshByIndex(i)->FaceArray.size();
    for (int i = 0; i < file.Materials().MaterialCount(); ++i)
        faces += file.Materials().MaterialByIndex(i)->NameStr.empty() ? 1 : 0;
    return faces;
}

} // namespace

int main() {
    const std::vector<uint8_t> bytes = LargeScene();
    const double megabytes = double(bytes.size()) / 1e6;
    std::vector<uint8_t> copy(bytes.size());
    volatile size_t sink = 0;

    const double memcpySeconds = BestSeconds([&] {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        asm volatile("" : : "r"(copy.data()) : "memory");
    });
    const double structureSeconds = BestSeconds([&] { sink = sink + ReadStructure(bytes); });
    const double readSeconds = BestSeconds([&] { sink = sink + ReadEverything(bytes); });

    std::printf("file: %.1f MB, %d meshes, %d faces, %d materials\n", megabytes, MeshCount,
                MeshCount * 2 * GridSide * GridSide, MaterialCount);
    std::printf("memcpy:                         %8.1f MB/s\n", megabytes / memcpySeconds);
    std::printf("structure pass:                 %8.1f MB/s (%.3f of memcpy)\n",
                megabytes / structureSeconds, memcpySeconds / structureSeconds);
    std::printf("structure + meshes + materials: %8.1f MB/s (%.3f of memcpy)\n",
                megabytes / readSeconds, memcpySeconds / readSeconds);
    return 0;
}
