#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/framework/Streams.h"

namespace {

// A fresh directory under the system's temporary directory, removed with its content.
class TTempDir {
public:
    TTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "skyview-XXXXXX").string();
        FPath = ::mkdtemp(pattern.data());
    }
    ~TTempDir() { std::filesystem::remove_all(FPath); }
    std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

template <typename E> std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const E& e) {
        return e.Message();
    }
    return "no exception";
}

} // namespace

TEST(Streams, MemoryStreamWritesGrowsAndReadsBack) {
    TMemoryStream stream;
    stream.WriteBuffer("abcdef", 6);
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Position(), 6);
    stream.SetPosition(2);
    char buffer[4] = {};
    stream.ReadBuffer(buffer, 3);
    EXPECT_EQ(std::string(buffer), "cde");
    EXPECT_EQ(stream.Read(buffer, 4), 1);
    EXPECT_EQ(stream.Read(buffer, 4), 0);
    EXPECT_EQ(stream.Seek(-2, soFromEnd), 4);
    EXPECT_EQ(stream.Seek(1, soFromCurrent), 5);
}

TEST(Streams, ShortReadRaisesStreamReadError) {
    TMemoryStream stream;
    stream.WriteBuffer("ab", 2);
    stream.SetPosition(0);
    char buffer[3];
    EXPECT_EQ(MessageOf<EReadError>([&] { stream.ReadBuffer(buffer, 3); }), "Stream read error");
}

TEST(Streams, SeekBeforeTheStartRaises) {
    TMemoryStream stream;
    EXPECT_THROW(stream.Seek(-1, soFromBeginning), EStreamError);
}

TEST(Streams, WritingPastTheEndFillsTheGapWithZeros) {
    TMemoryStream stream;
    stream.SetPosition(3);
    stream.WriteBuffer("x", 1);
    ASSERT_EQ(stream.Size(), 4);
    EXPECT_EQ(stream.Memory()[0], 0);
    EXPECT_EQ(stream.Memory()[3], 'x');
}

TEST(Streams, PointerStreamIsAReadOnlyView) {
    const char bytes[] = "hello";
    TPointerStream stream(bytes, 5);
    char buffer[6] = {};
    stream.ReadBuffer(buffer, 5);
    EXPECT_EQ(std::string(buffer), "hello");
    EXPECT_EQ(MessageOf<EWriteError>([&] { stream.WriteBuffer("x", 1); }), "Stream write error");
    EXPECT_THROW(stream.SetSize(1), EStreamError);
}

TEST(Streams, FileStreamCreatesWritesAndReadsBack) {
    TTempDir dir;
    const std::string name = dir.File("data.bin");
    {
        TFileStream out(name, fmCreate);
        out.WriteBuffer("0123456789", 10);
        EXPECT_EQ(out.Size(), 10);
    }
    TFileStream in(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(in.Size(), 10);
    in.Seek(-4, soFromEnd);
    char buffer[5] = {};
    in.ReadBuffer(buffer, 4);
    EXPECT_EQ(std::string(buffer), "6789");
    EXPECT_EQ(in.Position(), 10);
    EXPECT_THROW(in.ReadBuffer(buffer, 1), EReadError);
}

TEST(Streams, OpeningAMissingFileNamesTheFile) {
    TTempDir dir;
    const std::string name = dir.File("missing.3ds");
    const std::string message =
        MessageOf<EFOpenError>([&] { TFileStream(name, fmOpenRead | fmShareDenyNone); });
    EXPECT_EQ(message, "Cannot open file \"" + name + "\". No such file or directory");
}

TEST(Streams, ADirectoryIsNotOpenedAsAFile) {
    TTempDir dir;
    EXPECT_THROW(TFileStream(dir.File(""), fmOpenRead), EFOpenError);
}

TEST(Streams, CreatingInAMissingDirectoryRaisesCreateError) {
    TTempDir dir;
    EXPECT_THROW(TFileStream(dir.File("no/such/file"), fmCreate), EFCreateError);
}

TEST(Streams, MemoryStreamLoadsAndSavesFiles) {
    TTempDir dir;
    TMemoryStream original;
    original.WriteBuffer("payload", 7);
    original.SaveToFile(dir.File("p.bin"));
    TMemoryStream copy;
    copy.LoadFromFile(dir.File("p.bin"));
    ASSERT_EQ(copy.Size(), 7);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.Memory()), 7), "payload");
    EXPECT_EQ(copy.Position(), 0);
}

TEST(Streams, CopyFromCopiesTheWholeSourceForCountZero) {
    TMemoryStream source;
    source.WriteBuffer("abc", 3);
    TMemoryStream target;
    EXPECT_EQ(target.CopyFrom(source, 0), 3);
    EXPECT_EQ(target.Size(), 3);
}
