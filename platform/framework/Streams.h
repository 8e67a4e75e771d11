// Streams of the application framework: the abstract byte stream, file streams and memory
// streams that every file load and save of the engine goes through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/framework/SysUtils.h"

SKYVIEW_EXCEPTION(EWriteError, EStreamError)

enum TSeekOrigin : uint8_t { soFromBeginning, soFromCurrent, soFromEnd };

// File open modes: one access mode or'ed with one share mode, or fmCreate alone.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFF00;

// Abstract stream of bytes with a position. Read and Write transfer what they can and return
// the count; ReadBuffer and WriteBuffer transfer all or raise.
class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Reads what it can of count bytes at position, as SetPosition then Read would, but leaves
    // the position where it was. A position before the start raises EStreamError.
    virtual int64_t ReadAt(int64_t position, void* buffer, int64_t count);
    // Returns the new position. A position before the start raises EStreamError.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Position() const = 0;
    virtual int64_t Size() const = 0;
    virtual void SetSize(int64_t newSize) = 0;
    virtual const char* ClassName() const = 0;

    void SetPosition(int64_t position) { Seek(position, soFromBeginning); }
    // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short transfer.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // ReadAt of all count bytes, or EReadError "Stream read error".
    void ReadBufferAt(int64_t position, void* buffer, int64_t count);
    // Copies count bytes from source's position (the whole source when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over an open file, closed by the destructor. Share modes are accepted and not
// enforced: Linux has no mandatory share locks, and nothing here relies on them.
class TFileStream : public TStream {
public:
    // Raises EFOpenError (or EFCreateError for fmCreate) naming the file and the system's reason.
    // Opened for reading, it never waits: a pipe without a writer opens at once, and a read that
    // would wait for a pipe or a device fails instead (ReadPipeToEnd waits for a pipe's writer).
    TFileStream(const std::string& fileName, uint16_t mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    // One positional read of the system, which leaves the file offset alone.
    int64_t ReadAt(int64_t position, void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Position() const override;
    int64_t Size() const override;
    void SetSize(int64_t newSize) override;
    const char* ClassName() const override { return "TFileStream"; }

    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
};

// Reading and seeking over a block of memory; the descendants decide who owns the block.
class TCustomMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t ReadAt(int64_t position, void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Position() const override { return FPosition; }
    int64_t Size() const override { return FSize; }

    const uint8_t* Memory() const { return FMemory; }
    void SaveToStream(TStream& stream) const;
    void SaveToFile(const std::string& fileName) const;

protected:
    void SetPointer(const uint8_t* memory, int64_t size);
    int64_t FPosition = 0;

private:
    const uint8_t* FMemory = nullptr;
    int64_t FSize = 0;
};

// A growable stream in memory that owns its bytes.
class TMemoryStream : public TCustomMemoryStream {
public:
    int64_t Write(const void* buffer, int64_t count) override;
    void SetSize(int64_t newSize) override;
    const char* ClassName() const override { return "TMemoryStream"; }

    void Clear();
    void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);

private:
    void Grow(int64_t size);
    std::vector<uint8_t> FBuffer;
};

// A read-only view over bytes owned by someone else, who keeps them alive as long as the view.
class TPointerStream : public TCustomMemoryStream {
public:
    TPointerStream(const void* memory, int64_t size);

    // Writes nothing, so WriteBuffer raises EWriteError.
    int64_t Write(const void* buffer, int64_t count) override;
    // Raises EStreamError: the view cannot change the size of memory it does not own.
    void SetSize(int64_t newSize) override;
    const char* ClassName() const override { return "TPointerStream"; }
};

// Everything a pipe opened for reading brings until its writers close it, in memory, so that it
// can be read like a file. It waits at most `idleSeconds` for each part, and takes at most
// `maxSize` bytes. Raises EFOpenError when no process writes to the pipe, EReadError when nothing
// comes in time, more comes than allowed, or the system fails the read.
std::unique_ptr<TMemoryStream> ReadPipeToEnd(const TFileStream& pipe, int64_t maxSize,
                                             double idleSeconds);
