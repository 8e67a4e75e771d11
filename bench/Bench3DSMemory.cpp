// bench3dsmemory: the peak memory of the viewer's load of a model (the read and the conversion
// into a free form through LoadMeshFile) against the file's size, for the shapes of file that
// cost the most per byte and for a large real-looking scene. Each file is about 8 MB; the peak is
// the process's peak resident set during the load, reset before it (clear_refs), less what the
// process held when the load began.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/3ds/GLFile3DS.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "tests/support/Writer3DS.h"

namespace {

constexpr size_t FileBytes = 8'000'000;

using TChunks = std::function<void(TWriter3DS&)>;

// A scene holding what `once` writes, then what `item` writes as often as fits in FileBytes.
std::vector<uint8_t> Scene(const TChunks& once, const TChunks& item) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA);
    once(w);
    while (w.Size() < FileBytes)
        item(w);
    w.End().End();
    return w.Data();
}

void NoChunks(TWriter3DS&) {}

void Triangle(TWriter3DS& w) {
    w.Begin(POINT_ARRAY).Word(3);
    for (int i = 0; i < 9; ++i)
        w.Float(float(i));
    w.End();
}

void MaterialM(TWriter3DS& w) {
    w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, "M").End();
}

// NAMED_OBJECT "a" { N_TRI_OBJECT { what `body` writes } }.
void Mesh(TWriter3DS& w, const TChunks& body) {
    w.Begin(NAMED_OBJECT).String("a").Begin(N_TRI_OBJECT);
    body(w);
    w.End().End();
}

// The reader's worst case: materials of 13 bytes, all read since a group names the last one.
std::vector<uint8_t> Materials() {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA);
    int count = 0;
    while (w.Size() < FileBytes)
        w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, std::to_string(count++)).End();
    Mesh(w, [&](TWriter3DS& m) {
        Triangle(m);
        m.Begin(FACE_ARRAY).Word(1).Word(0).Word(1).Word(2).Word(0);
        m.Begin(MSH_MAT_GROUP).String(std::to_string(count - 1)).Word(0).End().End();
    });
    return w.End().End().Data();
}

// Faces whose every corner splits, with texture coordinates, each face in a material group.
void SplittingMesh(TWriter3DS& w) {
    Mesh(w, [](TWriter3DS& m) {
        Triangle(m);
        m.Begin(TEX_VERTS).Word(3);
        for (int i = 0; i < 6; ++i)
            m.Float(0);
        m.End().Begin(FACE_ARRAY).Word(65535);
        for (int i = 0; i < 65535; ++i)
            m.Word(0).Word(0).Word(0).Word(0);
        m.Begin(MSH_MAT_GROUP).String("M").Word(65535);
        for (int i = 0; i < 65535; ++i)
            m.Word(uint16_t(i));
        m.End().End();
    });
}

// One face and as many empty material groups as a face array holds.
void GroupsMesh(TWriter3DS& w) {
    Mesh(w, [](TWriter3DS& m) {
        Triangle(m);
        m.Begin(FACE_ARRAY).Word(1).Word(0).Word(1).Word(2).Word(0);
        for (int i = 0; i < 60000; ++i)
            m.Begin(MSH_MAT_GROUP).String("M").Word(0).End();
        m.End();
    });
}

std::vector<uint8_t> LargeScene() {
    TScene3DS scene;
    for (int i = 0; i < 8; ++i)
        scene.Materials.push_back(Material3DS("Material" + std::to_string(i), {0.5f, 0.5f, 0.5f}));
    while (WriteScene3DS(scene).size() < FileBytes)
        scene.Meshes.push_back(GridMesh3DS("Mesh" + std::to_string(scene.Meshes.size()), 100, 100,
                                           "Material" + std::to_string(scene.Meshes.size() % 8)));
    return WriteScene3DS(scene);
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return 0;
}

void Measure(const char* title, std::vector<uint8_t> bytes) {
    const std::string fileName = (std::filesystem::temp_directory_path() /
                                  ("bench3dsmemory-" + std::to_string(::getpid()) + ".3ds"))
                                     .string();
    std::ofstream(fileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const double size = double(bytes.size());
    std::vector<uint8_t>().swap(bytes);
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKiB("VmRSS:");
    {
        TGLFreeForm freeForm(nullptr);
        freeForm.LoadMeshFile(fileName);
    }
    const double peak = double(StatusKiB("VmHWM:") - before) * 1024;
    std::filesystem::remove(fileName);
    std::printf("  %-60s %5.2f MB  peak %7.1f MiB  %5.1f times the file\n", title, size / 1e6,
                peak / 1048576, peak / size);
}

} // namespace

int main() {
    RegisterVectorFileObjects();
    RegisterGLFile3DS();
    std::printf("peak memory of a load (read and conversion) beyond the program's own\n");
    Measure("empty meshes (13 bytes)", Scene(NoChunks, [](TWriter3DS& w) { Mesh(w, NoChunks); }));
    Measure("meshes of three vertices and no faces (57 bytes)",
            Scene(NoChunks, [](TWriter3DS& w) { Mesh(w, Triangle); }));
    Measure("empty material groups (10 bytes)", Scene(MaterialM, GroupsMesh));
    Measure("faces whose every corner splits, in a group (10 bytes)",
            Scene(MaterialM, SplittingMesh));
    Measure("materials (13 bytes), all read for the last", Materials());
    Measure("large scene of grids, smoothed, textured, grouped", LargeScene());
    return 0;
}
