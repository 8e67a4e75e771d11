#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "engine/meshes/ApplicationFileIO.h"

namespace {

std::string TempName(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("skyview-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

} // namespace

TEST(ApplicationFileIO, MissingFileRaisesPlainFileNotFound) {
    const std::string name = TempName("Anime-Pause.3ds");
    try {
        OpenFileStream(name, fmOpenRead | fmShareDenyWrite);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.ClassName(), "Exception");
        EXPECT_EQ(e.Message(), "File not found: \"" + name + "\"");
    }
}

TEST(ApplicationFileIO, ADirectoryIsNotAFile) {
    const std::string name = std::filesystem::temp_directory_path().string();
    EXPECT_THROW(
        try { OpenFileStream(name, fmOpenRead | fmShareDenyNone); } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "File not found: \"" + name + "\"");
            throw;
        },
        Exception);
}

TEST(ApplicationFileIO, CreateModeCreatesAndReadModesOpen) {
    const std::string name = TempName("created.bin");
    {
        std::unique_ptr<TStream> out = OpenFileStream(name, fmCreate);
        out->WriteBuffer("3ds", 3);
    }
    for (const uint16_t mode :
         {uint16_t(fmOpenRead | fmShareDenyWrite), uint16_t(fmOpenRead | fmShareDenyNone)}) {
        std::unique_ptr<TStream> in = OpenFileStream(name, mode);
        EXPECT_EQ(in->Size(), 3);
        EXPECT_STREQ(in->ClassName(), "TFileStream");
    }
    std::filesystem::remove(name);
}
