// 3dsinfo --meshes, the program: what it prints for a generated file, and how it fails on
// hostile ones; and the command lines of the project's tools.
#include "tests/support/Writer3DS.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

// The text as one word of the shell.
std::string ShellWord(const std::string& text) {
    std::string word = "'";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// Runs the program with the arguments in the directory (the current one when empty).
TRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
             const std::string& directory = "") {
    const std::string errors = TempName("errors");
    std::string command = directory.empty() ? "" : "cd " + ShellWord(directory) + " && ";
    command += ShellWord(program);
    for (const std::string& argument : arguments)
        command += " " + ShellWord(argument);
    command += " 2>" + ShellWord(errors);
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

TRun MeshesOf(const std::string& fileName) {
    return RunTool(SKYVIEW_3DSINFO, {"--meshes", fileName});
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

// Every tool answers --help and --version on standard output, and a wrong command line with the
// reason and the usage on standard error and status 2; none of them writes a file named after a
// flag (figure3ds used to write its model to one).
TEST(ToolCommandLines, HelpVersionAndUsageErrorsOfEveryTool) {
    struct TCase {
        std::vector<std::string> Arguments;
        int Status;
        std::string Output; // what standard output starts with; NAME stands for the tool's name
        std::string Errors; // what standard error starts with
    };
    const TCase cases[] = {
        {{"--help"}, 0, "usage: NAME ", ""},
        {{"--version"}, 0, "NAME (skyview) " SKYVIEW_VERSION "\n", ""},
        {{"--help", "--version"}, 0, "usage: NAME ", ""},
        {{}, 2, "", "NAME: missing operand\nusage: NAME "},
        {{"--output", "x"}, 2, "", "NAME: unknown option '--output'\nusage: NAME "},
        {{"x", "-h"}, 2, "", "NAME: unknown option '-h'\nusage: NAME "},
        {{"x", "y"}, 2, "", "NAME: wrong number of operands\nusage: NAME "},
        {{"--", "x", "y"}, 2, "", "NAME: wrong number of operands\nusage: NAME "},
    };
    const std::pair<std::string, std::string> tools[] = {
        {"3dsinfo", SKYVIEW_3DSINFO},
        {"figure3ds", SKYVIEW_FIGURE3DS},
        {"scenepictures", SKYVIEW_SCENEPICTURES},
    };
    const auto named = [](std::string text, const std::string& name) {
        for (size_t at; (at = text.find("NAME")) != std::string::npos;)
            text.replace(at, 4, name);
        return text;
    };
    const std::string directory = TempName("tool");
    for (const auto& [name, program] : tools)
        for (const TCase& c : cases) {
            std::filesystem::create_directory(directory);
            const TRun run = RunTool(program, c.Arguments, directory);
            const std::string line = name + " " + ::testing::PrintToString(c.Arguments);
            const std::string output = named(c.Output, name), errors = named(c.Errors, name);
            EXPECT_EQ(run.Status, c.Status) << line;
            EXPECT_EQ(run.Output.substr(0, output.size()), output) << line;
            EXPECT_EQ(run.Output.empty(), output.empty()) << line;
            EXPECT_EQ(run.Errors.substr(0, errors.size()), errors) << line;
            EXPECT_EQ(run.Errors.empty(), errors.empty()) << line;
            EXPECT_TRUE(std::filesystem::is_empty(directory)) << line << " wrote a file";
            std::filesystem::remove_all(directory);
        }
}

// 3dsinfo's own option wants its file, and after "--" a name starting with "-" is a file.
TEST(ToolCommandLines, ThreeDSInfoTakesMeshesAndEndsOptionsAtTwoDashes) {
    const TRun meshesAlone = RunTool(SKYVIEW_3DSINFO, {"--meshes"});
    EXPECT_EQ(meshesAlone.Status, 2);
    EXPECT_EQ(meshesAlone.Errors.substr(0, 26), "3dsinfo: missing operand\nu");
    const TRun dashed = RunTool(SKYVIEW_3DSINFO, {"--meshes", "--", "-missing.3ds"});
    EXPECT_EQ(dashed.Status, 1);
    EXPECT_EQ(dashed.Errors, "Exception: File not found: \"-missing.3ds\"\n");
}
