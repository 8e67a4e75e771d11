#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <unistd.h>

#include "engine/meshes/ApplicationFileIO.h"
#include "tests/support/TestFifo.h"

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

namespace {

// Reads a whole file as text; writes nothing.
class TTextFile : public TDataFile {
public:
    using TDataFile::TDataFile;
    const char* ClassName() const override { return "TTextFile"; }
    std::unique_ptr<TDataFile> CreateCopy(TPersistent* owner) const override {
        return std::make_unique<TTextFile>(owner);
    }
    void ReadStream(TStream& stream) override {
        Text.resize(static_cast<size_t>(stream.Size()));
        stream.ReadBuffer(Text.data(), stream.Size());
    }
    std::string Text;
};

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "none";
}

} // namespace

TEST(ApplicationFileIO, DataFilesReadFilesAndWriteOnlyWhenTheyCan) {
    const std::string name = TempName("data.txt");
    OpenFileStream(name, fmCreate)->WriteBuffer("text", 4);
    TTextFile file(nullptr);
    EXPECT_EQ(file.Capabilities(), dfcRead);
    file.ReadFile(name);
    EXPECT_EQ(file.Text, "text");
    EXPECT_EQ(file.ResourceName(), std::filesystem::path(name).filename().string());
    EXPECT_STREQ(file.CreateCopy(nullptr)->ClassName(), "TTextFile");

    const std::string missing = TempName("missing.txt");
    EXPECT_EQ(MessageOf([&] { file.ReadFile(missing); }),
              "Exception: File not found: \"" + missing + "\"");
    // A file that cannot be written is not created, nor an existing one emptied.
    EXPECT_EQ(MessageOf([&] { file.WriteFile(missing); }),
              "EAssertionFailed: Export for TTextFile to TFileStream not available.");
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_THROW(file.WriteFile(name), EAssertionFailed);
    EXPECT_EQ(std::filesystem::file_size(name), 4u);
    TMemoryStream memory;
    EXPECT_EQ(MessageOf([&] { file.WriteStream(memory); }),
              "EAssertionFailed: Export for TTextFile to TMemoryStream not available.");
    std::filesystem::remove(name);
}

// A FIFO is read to its end at the open, so the model reads as from a file; one that nobody
// writes to and a device fail at once with a message that names the file.
TEST(ApplicationFileIO, APipeIsReadAtTheOpenAndADeviceIsRefused) {
    const std::string name = TempName("fifo.3ds");
    TTestFifo fifo(name);
    fifo.Write("3ds model");
    std::unique_ptr<TStream> stream = OpenFileStream(name, fmOpenRead | fmShareDenyWrite);
    std::string text(static_cast<size_t>(stream->Size()), '\0');
    stream->ReadBuffer(text.data(), stream->Size());
    EXPECT_EQ(text, "3ds model");
    EXPECT_EQ(MessageOf([&] { OpenFileStream(name, fmOpenRead | fmShareDenyWrite); }),
              "EFOpenError: Cannot open file \"" + name + "\". No process writes to the pipe.");
    EXPECT_EQ(MessageOf([&] { OpenFileStream("/dev/zero", fmOpenRead | fmShareDenyWrite); }),
              "EFOpenError: Cannot open file \"/dev/zero\". It is not a regular file or a pipe.");
}
