// 3dsinfo --meshes, the program: what it prints for a generated file, and how it fails on
// hostile ones.
#include "tests/support/Writer3DS.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TRun {
    int Status; // the exit status, or -1 when the program did not exit
    std::string Output;
    std::string Errors;
};

std::string TempName(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("skyview-3dsinfo-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::string ReadText(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TRun MeshesOf(const std::string& fileName) {
    const std::string errors = TempName("errors");
    const std::string command =
        "'" SKYVIEW_3DSINFO "' --meshes '" + fileName + "' 2>'" + errors + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    TRun run{-1, {}, {}};
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.Output.append(buffer, n);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status))
        run.Status = WEXITSTATUS(status);
    run.Errors = ReadText(errors);
    std::filesystem::remove(errors);
    return run;
}

TRun MeshesOf(const std::vector<uint8_t>& bytes) {
    const std::string fileName = TempName("model.3ds");
    std::ofstream(fileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    TRun run = MeshesOf(fileName);
    std::filesystem::remove(fileName);
    return run;
}

// A quad in two faces of one smoothing group, each face in a material group of its own.
TScene3DS Quad() {
    TMesh3DS quad;
    quad.NameStr = "Quad \"1\"";
    quad.VertexArray = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}};
    quad.TextArray = {{0, 0}, {0.5f, 0}, {0.5f, 0.1f}, {0, 0.1f}};
    quad.FaceArray = {{0, 1, 2, 0}, {0, 2, 3, 0}};
    quad.SmoothArray = {1, 1};
    quad.MatArray = {{"Red", {0}}, {"Blue", {1}}};
    return {{Material3DS("Red", {1, 0, 0}), Material3DS("Blue", {0, 0, 1})}, {quad}, {}};
}

} // namespace

TEST(ThreeDSInfo, PrintsTheMeshObjectsOfAFreeFormWithNineSignificantDigits) {
    const TRun run = MeshesOf(WriteScene3DS(Quad()));
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Errors, "");
    EXPECT_EQ(run.Output, "object 0 \"Quad \\\"1\\\"\" vertices 4 texcoords 4 groups 2\n"
                          "v 0 0 0 0 0 1 0 0\n"
                          "v 2 0 0 0 -0 1 0.5 0\n"
                          "v 2 1 0 0 0 1 0.5 0.100000001\n"
                          "v 0 1 0 0 0 1 0 0.100000001\n"
                          "group 0 material \"\" lightmap -1 triangles 1\n"
                          "f 0 1 2\n"
                          "group 1 material \"\" lightmap -1 triangles 1\n"
                          "f 0 2 3\n");
}

TEST(ThreeDSInfo, HostileFilesEndInTheErrorsClassAndMessageOnOneLine) {
    const std::vector<uint8_t> whole = WriteScene3DS(Quad());
    TScene3DS badCorner = Quad();
    badCorner.Meshes[0].FaceArray[1].V3 = 4;
    const std::string missing = TempName("missing.3ds");
    const std::string invalidChunk =
        "E3DSError: An invalid Chunk structure was encountered while reading the database. "
        "Usually caused by a corrupt database or file.\n";
    const std::pair<TRun, std::string> cases[] = {
        {MeshesOf(std::vector<uint8_t>(whole.begin(), whole.begin() + 100)), invalidChunk},
        {MeshesOf(WriteScene3DS(badCorner)),
         "E3DSError: Face 1 of mesh \"Quad \"1\"\" names vertex 4 beyond its 4 vertices.\n"},
        {MeshesOf(missing), "Exception: File not found: \"" + missing + "\"\n"},
    };
    for (const auto& [run, errors] : cases) {
        EXPECT_EQ(run.Status, 1);
        EXPECT_EQ(run.Output, "");
        EXPECT_EQ(run.Errors, errors);
    }
}
