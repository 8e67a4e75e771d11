// benchmeshes: the cost of the mesh model on models of millions of vertices. Building the drawing
// of a mesh object must not depend on its size (client arrays and one element draw per face
// group): a mesh of 1,000,000 vertices and 2,000,000 triangles is set against one of 1,000, the
// first within 10 times the second. Taking the triangles must grow linearly: twice the mesh
// within 3 times the time. Reading and writing the archive of the large mesh is timed too. The
// drawing goes to the recording OpenGL table, which does no work of its own per vertex. Prints
// the best of several rounds; exits with 1 when a bound is missed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "engine/context/XOpenGL.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "tests/support/RecordingGL.h"

namespace {

constexpr int Rounds = 5;

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

// A grid of side x side vertices with normals and texture coordinates, two triangles per cell,
// in two face groups, as a 3DS conversion fills it.
void FillGrid(TMeshObjectList& list, int side) {
    auto* grid = new TMeshObject(&list);
    const int32_t count = side * side;
    for (TAffineVectorList* perVertex : {&grid->Vertices(), &grid->Normals(), &grid->TexCoords()})
        perVertex->EnsureCapacity(count);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            grid->Vertices().Add(AffineVectorMake(float(x), float(y), 0));
            grid->Normals().Add(AffineVectorMake(0, 0, 1));
            grid->TexCoords().Add(AffineVectorMake(float(x) / side, float(y) / side, 0));
        }
    grid->SetMode(omFaceGroups);
    TFGVertexIndexList* halves[2] = {new TFGVertexIndexList(&grid->FaceGroups()),
                                     new TFGVertexIndexList(&grid->FaceGroups())};
    for (TFGVertexIndexList* half : halves)
        half->VertexIndices().EnsureCapacity(3 * (side - 1) * (side - 1));
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x) {
            const int32_t i = y * side + x;
            TIntegerList& indices = halves[y < side / 2]->VertexIndices();
            indices.Add(i, i + 1, i + side + 1);
            indices.Add(i, i + side + 1, i + side);
        }
}

double BuildSeconds(TMeshObjectList& list, TRecordingGL& gl) {
    TGLStateCache cache;
    TRenderContextInfo rci;
    rci.StateCache = &cache;
    return BestSeconds([&] {
        gl.Clear();
        list.BuildList(rci);
    });
}

double TrianglesSeconds(const TMeshObjectList& list) {
    volatile int32_t sink = 0;
    return BestSeconds([&] {
        TAffineVectorList texCoords, normals;
        sink = sink + list.GetTriangles(&texCoords, &normals)->Count();
    });
}

bool Check(const char* what, double ratio, double bound) {
    std::printf("%s: ratio %.2f (at most %.1f)\n", what, ratio, bound);
    return ratio <= bound;
}

} // namespace

int main() {
    RegisterVectorFileObjects();
    TRecordingGL gl;
    SelectTexCoordUnit0();
    TMeshObjectList small(nullptr), large(nullptr), larger(nullptr);
    FillGrid(small, 32);
    FillGrid(large, 1000);
    FillGrid(larger, 1414);

    const double buildSmall = BuildSeconds(small, gl), buildLarge = BuildSeconds(large, gl);
    std::printf("build: %d vertices %.3f ms, %d vertices %.3f ms\n", small[0]->Vertices().Count(),
                buildSmall * 1e3, large[0]->Vertices().Count(), buildLarge * 1e3);
    const double trianglesLarge = TrianglesSeconds(large);
    const double trianglesLarger = TrianglesSeconds(larger);
    std::printf("triangles: %d %.1f ms, %d %.1f ms\n", large[0]->CountTriangles(),
                trianglesLarge * 1e3, larger[0]->CountTriangles(), trianglesLarger * 1e3);

    TMemoryStream archive;
    const double write = BestSeconds([&] {
        archive.Clear();
        large.SaveToStream(archive);
    });
    TMeshObjectList read(nullptr);
    const double load = BestSeconds([&] {
        archive.SetPosition(0);
        read.LoadFromStream(archive);
    });
    std::printf("archive of %.1f MB: written in %.1f ms, read (and checked) in %.1f ms\n",
                double(archive.Size()) / 1e6, write * 1e3, load * 1e3);

    const bool constant = Check("build, large to small", buildLarge / buildSmall, 10);
    const bool linear = Check("triangles, twice the mesh", trianglesLarger / trianglesLarge, 3);
    return constant && linear ? 0 : 1;
}
