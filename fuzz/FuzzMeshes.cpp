// libFuzzer target: the engine's mesh archive on arbitrary bytes, loaded as a "glsm" file into a
// free form. The load may only fail with EReadError, EFilerException or the plain "Broken
// ObjectList archive"; anything else escapes and is a finding. What it loads must be safe to draw
// and to take triangles from: the target builds it against the recording OpenGL table (whose
// vertex-by-vertex calls read what they are given), reads every array item that an element draw
// or an array lock would read, and takes its triangles. It must archive again to bytes that read
// back to the same archive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "tests/support/RecordingGL.h"

namespace {

TRecordingGL& Recording() {
    static TRecordingGL* const gl = [] {
        RegisterVectorFileObjects();
        auto* recording = new TRecordingGL;
        GL_ARB_multitexture = true;
        GL_EXT_compiled_vertex_array = true;
        SelectTexCoordUnit0();
        return recording;
    }();
    return *gl;
}

std::string Archive(const TMeshObjectList& list) {
    TMemoryStream stream;
    list.SaveToStream(stream);
    return {reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size())};
}

// False when the bytes are not an archive; an unexpected exception escapes.
bool Load(TGLBaseMesh& mesh, const void* data, size_t size) {
    TPointerStream stream(data, static_cast<int64_t>(size));
    try {
        mesh.LoadMeshFromStream("fuzz.glsm", stream);
        return true;
    } catch (const EReadError&) {
    } catch (const EFilerException&) {
    } catch (const Exception& e) {
        if (std::string(e.ClassName()) != "Exception" || e.Message() != "Broken ObjectList archive")
            throw;
    }
    return false;
}

void ReadItem(const TBaseList& list, int32_t index) {
    std::vector<uint8_t> item(static_cast<size_t>(list.ItemSize()));
    std::memcpy(item.data(), list.ItemAddress(index), item.size());
}

// What OpenGL reads of the client arrays: every item an element draw names, and with the arrays
// locked every item up to the vertex count.
void ReadArraysAsDrawn(TMeshObject& meshObject) {
    std::vector<const TBaseList*> arrays = {&meshObject.Vertices(), &meshObject.Normals(),
                                            &meshObject.TexCoords(),
                                            &meshObject.LightmapTexCoords(), &meshObject.Colors()};
    for (int32_t k = 0; k < meshObject.ExtraTexCoordCount(); ++k)
        arrays.push_back(&meshObject.ExtraTexCoordSet(k));
    bool bound = meshObject.Mode() != omFaceGroups && meshObject.Vertices().Count() > 0;
    for (int32_t i = 0; i < meshObject.FaceGroups().Count(); ++i) {
        const TFaceGroup* group = meshObject.FaceGroups()[i];
        if (typeid(*group) != typeid(TFGVertexIndexList))
            continue;
        const auto& indices = static_cast<const TFGVertexIndexList*>(group)->VertexIndices();
        bound = bound || indices.Count() > 0;
        for (const int32_t index : indices)
            for (const TBaseList* array : arrays)
                if (array->Count() > 0)
                    ReadItem(*array, index);
    }
    if (bound)
        for (const TBaseList* array : arrays)
            if (array->Count() > 0)
                ReadItem(*array, meshObject.Vertices().Count() - 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TRecordingGL& gl = Recording();
    TGLFreeForm mesh(nullptr);
    if (!Load(mesh, data, size))
        return 0;
    TGLStateCache cache;
    TRenderContextInfo rci;
    rci.StateCache = &cache;
    mesh.MeshObjects().BuildList(rci);
    gl.Clear();
    for (int32_t i = 0; i < mesh.MeshObjects().Count(); ++i) {
        ReadArraysAsDrawn(*mesh.MeshObjects()[i]);
        mesh.MeshObjects()[i]->CountTriangles();
    }
    TAffineVectorList texCoords, normals;
    mesh.MeshObjects().GetTriangles(&texCoords, &normals);
    mesh.UnscaledHalfExtents();

    const std::string archive = Archive(mesh.MeshObjects());
    TGLFreeForm again(nullptr);
    if (!Load(again, archive.data(), archive.size()) || Archive(again.MeshObjects()) != archive)
        std::abort();
    return 0;
}
