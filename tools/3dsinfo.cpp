// 3dsinfo FILE: prints what the 3DS reader finds in a file, one line per item, for people
// checking a file.
// 3dsinfo --meshes FILE: loads the file into a free form as the viewer loads its model (no
// material library, default orientation) and prints every mesh object: its vertices with their
// normals and texture coordinates, and its face groups with their triangles.
// On any error: the exception's class and message on standard error, exit 1.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "engine/3ds/File3DS.h"
#include "engine/3ds/GLFile3DS.h"
#include "engine/meshes/ApplicationFileIO.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "tools/ToolCommandLine.h"

namespace {

const TToolSyntax Syntax{
    .Name = "3dsinfo",
    .Synopsis = "[--meshes] FILE",
    .Description = "Prints what the 3DS reader finds in FILE, one line per item.",
    .Options = {
        {"--meshes", "print the mesh objects a free form loads from FILE, as the viewer does"}}};

// Names come from the file: quotes, backslashes and control characters are escaped so that an
// item always stays on its line.
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            quoted.append(1, '\\').append(1, c);
        else if (byte < 0x20 || byte == 0x7F)
            quoted += Format("\\x%02X", byte);
        else
            quoted += c;
    }
    quoted += '"';
    return quoted;
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

void PrintMesh(int index, const TMesh3DS& mesh) {
    std::string line = Format("mesh %d %s vertices %zu faces %zu texverts %zu matgroups %zu", index,
                              Quoted(mesh.NameStr).c_str(), mesh.VertexArray.size(),
                              mesh.FaceArray.size(), mesh.TextArray.size(), mesh.MatArray.size());
    for (const TObjMat3DS& group : mesh.MatArray)
        line.append(" ").append(Quoted(group.NameStr));
    line +=
        Format(" smoothing %s hidden %s", YesNo(!mesh.SmoothArray.empty()), YesNo(mesh.IsHidden));
    std::puts(line.c_str());
}

void PrintMaterial(int index, const TMaterial3DS& material) {
    std::printf("material %d %s diffuse %g %g %g texture %s\n", index,
                Quoted(material.NameStr).c_str(), double(material.Diffuse.R),
                double(material.Diffuse.G), double(material.Diffuse.B),
                Quoted(material.Texture->Map.NameStr).c_str());
}

void PrintFile(const std::string& fileName) {
    std::unique_ptr<TStream> stream = OpenFileStream(fileName, fmOpenRead | fmShareDenyWrite);
    TFile3DS file;
    file.ReadFromStream(*stream);
    std::printf("root 0x%04X\n", file.Database().TopChunk()->Tag);
    const int meshCount = file.Objects().MeshCount();
    for (int i = 0; i < meshCount; ++i)
        PrintMesh(i, *file.Objects().MeshByIndex(i));
    const int materialCount = file.Materials().MaterialCount();
    for (int i = 0; i < materialCount; ++i)
        PrintMaterial(i, *file.Materials().MaterialByIndex(i));
}

// Standard output through one buffer: a model has millions of numbers to print.
class TOutput {
public:
    TOutput() = default;
    TOutput(const TOutput&) = delete;
    TOutput& operator=(const TOutput&) = delete;
    ~TOutput() { Flush(); }

    TOutput& Text(std::string_view text) {
        if (text.size() > sizeof FBuffer - FUsed)
            Flush();
        if (text.size() > sizeof FBuffer) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return *this;
        }
        std::memcpy(FBuffer + FUsed, text.data(), text.size());
        FUsed += text.size();
        return *this;
    }
    // " " and the value as printf's %.9g writes it in the C locale.
    TOutput& Number(float value) {
        Reserve(MaxNumber);
        FBuffer[FUsed++] = ' ';
        FUsed = static_cast<size_t>(std::to_chars(FBuffer + FUsed, FBuffer + sizeof FBuffer,
                                                  double(value), std::chars_format::general, 9)
                                        .ptr -
                                    FBuffer);
        return *this;
    }
    TOutput& Number(int32_t value) {
        Reserve(MaxNumber);
        FBuffer[FUsed++] = ' ';
        FUsed = static_cast<size_t>(
            std::to_chars(FBuffer + FUsed, FBuffer + sizeof FBuffer, value).ptr - FBuffer);
        return *this;
    }
    TOutput& EndLine() {
        Reserve(1);
        FBuffer[FUsed++] = '\n';
        return *this;
    }
    void Flush() {
        std::fwrite(FBuffer, 1, FUsed, stdout);
        FUsed = 0;
    }

private:
    static constexpr size_t MaxNumber = 32;

    void Reserve(size_t count) {
        if (count > sizeof FBuffer - FUsed)
            Flush();
    }

    char FBuffer[1 << 16];
    size_t FUsed = 0;
};

void PrintVertex(TOutput& out, const TMeshObject& meshObject, int32_t k, bool texCoords) {
    out.Text("v");
    for (const float value : meshObject.Vertices()[k])
        out.Number(value);
    for (const float value : meshObject.Normals()[k])
        out.Number(value);
    if (texCoords)
        out.Number(meshObject.TexCoords()[k][0]).Number(meshObject.TexCoords()[k][1]);
    out.EndLine();
}

void PrintFaceGroup(TOutput& out, int32_t index, const TFaceGroup& group) {
    out.Text("group").Number(index).Text(" material ").Text(Quoted(group.MaterialName()));
    out.Text(" lightmap").Number(group.LightmapIndex());
    out.Text(" triangles").Number(group.CountTriangles()).EndLine();
    const auto* indexed = dynamic_cast<const TFGVertexIndexList*>(&group);
    if (indexed == nullptr)
        return;
    const TIntegerList& indices = indexed->VertexIndices();
    for (int32_t k = 0; k + 2 < indices.Count(); k += 3)
        out.Text("f").Number(indices[k]).Number(indices[k + 1]).Number(indices[k + 2]).EndLine();
}

void PrintMeshObject(TOutput& out, int32_t index, const TMeshObject& meshObject) {
    const int32_t vertexCount = meshObject.Vertices().Count();
    const bool texCoords = meshObject.TexCoords().Count() == vertexCount;
    out.Text("object").Number(index).Text(" ").Text(Quoted(meshObject.Name()));
    out.Text(" vertices").Number(vertexCount);
    out.Text(" texcoords").Number(meshObject.TexCoords().Count());
    out.Text(" groups").Number(meshObject.FaceGroups().Count()).EndLine();
    for (int32_t k = 0; k < vertexCount; ++k)
        PrintVertex(out, meshObject, k, texCoords);
    for (int32_t j = 0; j < meshObject.FaceGroups().Count(); ++j)
        PrintFaceGroup(out, j, *meshObject.FaceGroups()[j]);
}

void PrintMeshes(const std::string& fileName) {
    RegisterVectorFileObjects();
    RegisterGLFile3DS();
    TGLFreeForm freeForm(nullptr);
    freeForm.LoadMeshFile(fileName);
    TOutput out;
    const TMeshObjectList& meshObjects = freeForm.MeshObjects();
    for (int32_t i = 0; i < meshObjects.Count(); ++i)
        PrintMeshObject(out, i, *meshObjects[i]);
}

// The reader's messages hold carriage returns; the report is one line.
void ReportError(const char* className, const std::string& message) {
    std::string line = message;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", className, line.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const TToolCommand command = ParseToolCommand(Syntax, argc, argv);
    if (command.ExitStatus)
        return *command.ExitStatus;
    try {
        if (command.Has("--meshes"))
            PrintMeshes(command.Operands[0]);
        else
            PrintFile(command.Operands[0]);
        return 0;
    } catch (const Exception& e) {
        ReportError(e.ClassName(), e.Message());
    } catch (const std::bad_alloc&) {
        ReportError("EOutOfMemory", "Out of memory");
    } catch (const std::exception& e) {
        ReportError("Exception", e.what());
    }
    return 1;
}
