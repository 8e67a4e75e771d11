#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

#include "platform/framework/Streams.h"
#include "tests/support/TestFifo.h"

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

// A pipe is read to its end, without waiting longer than allowed on a writer that does not
// write, nor taking more than allowed.
TEST(Streams, APipeIsReadToItsEndWithinItsLimits) {
    TTempDir dir;
    const std::string name = dir.File("model.3ds");
    const std::string prefix = "Cannot read file \"" + name + "\". ";
    struct TCase {
        std::string Written;
        int64_t MaxSize;
        std::string Read;
    };
    const TCase cases[] = {
        {"0123456789", 10, "0123456789"},
        {"0123456789", 9, prefix + "More than 9 bytes came through the pipe."},
        {"", 10, prefix + "Nothing came through the pipe for 0.05 seconds."},
    };
    // What the read gives, or the message it fails with.
    auto outcome = [&](int64_t maxSize) -> std::string {
        try {
            const auto contents = ReadPipeToEnd(TFileStream(name, fmOpenRead), maxSize, 0.05);
            return {reinterpret_cast<const char*>(contents->Memory()),
                    static_cast<size_t>(contents->Size())};
        } catch (const EReadError& error) {
            return error.Message();
        }
    };
    for (const TCase& c : cases) {
        TTestFifo fifo(name);
        fifo.Write(c.Written);
        EXPECT_EQ(outcome(c.MaxSize), c.Read);
    }
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

namespace {

// A stream with nothing but the abstract operations, over a memory stream: ReadAt is TStream's.
class TPlainStream : public TStream {
public:
    explicit TPlainStream(const std::string& text) { FInner.WriteBuffer(text.data(), text.size()); }
    int64_t Read(void* buffer, int64_t count) override {
        if (FailReads)
            throw EReadError("failed");
        return FInner.Read(buffer, count);
    }
    int64_t Write(const void* buffer, int64_t count) override {
        return FInner.Write(buffer, count);
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        return FInner.Seek(offset, origin);
    }
    int64_t Position() const override { return FInner.Position(); }
    int64_t Size() const override { return FInner.Size(); }
    void SetSize(int64_t newSize) override { FInner.SetSize(newSize); }
    const char* ClassName() const override { return "TPlainStream"; }

    bool FailReads = false;

private:
    TMemoryStream FInner;
};

// Reads at 2, 6 (one byte left) and 20 (past the end), then where the position was left.
void CheckReadAt(TStream& stream) {
    stream.SetPosition(1);
    char buffer[5] = {};
    EXPECT_EQ(stream.ReadAt(2, buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "2345");
    EXPECT_EQ(stream.ReadAt(6, buffer, 4), 1);
    EXPECT_EQ(buffer[0], '6');
    EXPECT_EQ(stream.ReadAt(20, buffer, 4), 0);
    EXPECT_EQ(stream.Position(), 1);
    EXPECT_EQ(MessageOf<EReadError>([&] { stream.ReadBufferAt(5, buffer, 3); }),
              "Stream read error");
    EXPECT_THROW(stream.ReadAt(-1, buffer, 1), EStreamError);
    EXPECT_EQ(stream.Position(), 1);
    stream.ReadBuffer(buffer, 1);
    EXPECT_EQ(buffer[0], '1');
}

} // namespace

TEST(Streams, ReadAtReadsAtAPositionAndLeavesThePositionAlone) {
    TTempDir dir;
    {
        TFileStream out(dir.File("digits"), fmCreate);
        out.WriteBuffer("0123456", 7);
    }
    TFileStream file(dir.File("digits"), fmOpenRead);
    CheckReadAt(file);
    TMemoryStream memory;
    memory.WriteBuffer("0123456", 7);
    CheckReadAt(memory);
    TPlainStream plain("0123456");
    CheckReadAt(plain);
}

TEST(Streams, TheDefaultReadAtRestoresThePositionWhenTheReadFails) {
    TPlainStream plain("0123456");
    plain.SetPosition(3);
    plain.FailReads = true;
    char buffer[2];
    EXPECT_THROW(plain.ReadAt(0, buffer, 2), EReadError);
    EXPECT_EQ(plain.Position(), 3);
}
