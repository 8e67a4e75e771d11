// 3dsinfo FILE: prints what the 3DS reader finds in a file, one line per item, for people
// checking a file. On any error: the exception's class and message on standard error, exit 1.
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "engine/3ds/File3DS.h"
#include "engine/meshes/ApplicationFileIO.h"

namespace {

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
    return quoted + "\"";
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: 3dsinfo FILE\n");
        return 2;
    }
    try {
        PrintFile(argv[1]);
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
