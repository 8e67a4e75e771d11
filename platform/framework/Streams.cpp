#include "platform/framework/Streams.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* SReadError = "Stream read error";
constexpr const char* SWriteError = "Stream write error";
constexpr const char* SSeekError = "Stream seek error";
constexpr int64_t CopyBlockSize = 64 * 1024;

std::string SystemErrorText(int error) {
    return std::strerror(error);
}

int64_t SeekBase(TSeekOrigin origin, int64_t position, int64_t size) {
    switch (origin) {
    case soFromBeginning:
        return 0;
    case soFromCurrent:
        return position;
    case soFromEnd:
        return size;
    }
    return 0;
}

// Reads until count bytes are in or the file ends; readSome(bytes, count, done) is one system
// call for the rest, retried when a signal interrupts it.
template <class TReadSome> int64_t ReadFully(void* buffer, int64_t count, TReadSome readSome) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = readSome(bytes + done, static_cast<size_t>(count - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EReadError(Format("%s: %s", SReadError, SystemErrorText(errno).c_str()));
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

constexpr size_t PipeBlockSize = 64 * 1024;

// Waits until the descriptor has something to read (or its writers have gone); false when
// nothing came within the time.
bool WaitForInput(int handle, double seconds) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + duration<double>(seconds);
    pollfd descriptor{handle, POLLIN, 0};
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        const int polled = ::poll(&descriptor, 1, static_cast<int>(std::max<int64_t>(left, 0)));
        if (polled > 0)
            return true;
        if (polled == 0)
            return false;
        if (errno != EINTR)
            throw EReadError(Format("%s: %s", SReadError, SystemErrorText(errno).c_str()));
    }
}

} // namespace

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError(SReadError);
}

void TStream::ReadBufferAt(int64_t position, void* buffer, int64_t count) {
    if (count != 0 && ReadAt(position, buffer, count) != count)
        throw EReadError(SReadError);
}

int64_t TStream::ReadAt(int64_t position, void* buffer, int64_t count) {
    const int64_t saved = Position();
    TFinally restore([&] { Seek(saved, soFromBeginning); });
    Seek(position, soFromBeginning);
    return Read(buffer, count);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError(SWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> block(static_cast<size_t>(std::min(count, CopyBlockSize)));
    for (int64_t left = count; left > 0;) {
        const int64_t n = std::min(left, CopyBlockSize);
        source.ReadBuffer(block.data(), n);
        WriteBuffer(block.data(), n);
        left -= n;
    }
    return count;
}

// TFileStream

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
    const bool create = mode == fmCreate;
    int flags = O_CLOEXEC;
    if (create)
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    else if ((mode & 0x3) == fmOpenWrite)
        flags |= O_WRONLY;
    else if ((mode & 0x3) == fmOpenReadWrite)
        flags |= O_RDWR;
    else
        flags |= O_RDONLY | O_NONBLOCK;
    do
        FHandle = ::open(fileName.c_str(), flags, 0666);
    while (FHandle < 0 && errno == EINTR);
    int error = FHandle < 0 ? errno : 0;
    // A directory opens for reading on Linux but reads fail later; refuse it here, as Windows does.
    struct stat status {};
    if (error == 0 && ::fstat(FHandle, &status) == 0 && S_ISDIR(status.st_mode)) {
        error = EISDIR;
        ::close(FHandle);
        FHandle = -1;
    }
    if (error == 0)
        return;
    if (create)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(),
                                   SystemErrorText(error).c_str()));
    throw EFOpenError(
        Format("Cannot open file \"%s\". %s", fileName.c_str(), SystemErrorText(error).c_str()));
}

TFileStream::~TFileStream() {
    if (FHandle >= 0)
        ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    return ReadFully(buffer, count, [this](uint8_t* bytes, size_t size, int64_t) {
        return ::read(FHandle, bytes, size);
    });
}

int64_t TFileStream::ReadAt(int64_t position, void* buffer, int64_t count) {
    if (position < 0)
        throw EStreamError(SSeekError);
    return ReadFully(buffer, count, [this, position](uint8_t* bytes, size_t size, int64_t done) {
        return ::pread(FHandle, bytes, size, static_cast<off_t>(position + done));
    });
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, bytes + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EWriteError(Format("%s: %s", SWriteError, SystemErrorText(errno).c_str()));
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == soFromBeginning ? SEEK_SET
                       : origin == soFromCurrent ? SEEK_CUR
                                                 : SEEK_END;
    const off_t position = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (position < 0)
        throw EStreamError(Format("%s: %s", SSeekError, SystemErrorText(errno).c_str()));
    return position;
}

int64_t TFileStream::Position() const {
    return ::lseek(FHandle, 0, SEEK_CUR);
}

int64_t TFileStream::Size() const {
    struct stat status {};
    if (::fstat(FHandle, &status) != 0)
        throw EStreamError(SystemErrorText(errno));
    return status.st_size;
}

void TFileStream::SetSize(int64_t newSize) {
    if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
        throw EStreamError(SystemErrorText(errno));
}

// TCustomMemoryStream

void TCustomMemoryStream::SetPointer(const uint8_t* memory, int64_t size) {
    FMemory = memory;
    FSize = size;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || FPosition >= FSize)
        return 0;
    const int64_t n = std::min(count, FSize - FPosition);
    std::memcpy(buffer, FMemory + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TCustomMemoryStream::ReadAt(int64_t position, void* buffer, int64_t count) {
    if (position < 0)
        throw EStreamError(SSeekError);
    if (count <= 0 || position >= FSize)
        return 0;
    const int64_t n = std::min(count, FSize - position);
    std::memcpy(buffer, FMemory + position, static_cast<size_t>(n));
    return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int64_t position = SeekBase(origin, FPosition, FSize) + offset;
    if (position < 0)
        throw EStreamError(SSeekError);
    FPosition = position;
    return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) const {
    stream.WriteBuffer(FMemory, FSize);
}

void TCustomMemoryStream::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

// TMemoryStream

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const int64_t end = FPosition + count;
    if (end > Size())
        Grow(end);
    std::memcpy(FBuffer.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

void TMemoryStream::SetSize(int64_t newSize) {
    if (newSize < 0)
        throw EStreamError(SSeekError);
    Grow(newSize);
    FPosition = std::min(FPosition, newSize);
}

void TMemoryStream::Grow(int64_t size) {
    FBuffer.resize(static_cast<size_t>(size));
    SetPointer(FBuffer.data(), size);
}

void TMemoryStream::Clear() {
    FBuffer.clear();
    SetPointer(nullptr, 0);
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    const int64_t size = stream.Size();
    SetSize(size);
    stream.ReadBuffer(FBuffer.data(), size);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

// TPointerStream

TPointerStream::TPointerStream(const void* memory, int64_t size) {
    SetPointer(static_cast<const uint8_t*>(memory), size);
}

int64_t TPointerStream::Write(const void*, int64_t) {
    return 0;
}

void TPointerStream::SetSize(int64_t) {
    throw EStreamError("Cannot change the size of a TPointerStream");
}

// ReadPipeToEnd

std::unique_ptr<TMemoryStream> ReadPipeToEnd(const TFileStream& pipe, int64_t maxSize,
                                             double idleSeconds) {
    const char* name = pipe.FileName().c_str();
    auto contents = std::make_unique<TMemoryStream>();
    std::vector<uint8_t> block(PipeBlockSize);
    // The pipe is open without waiting: a read finds its end at once when nobody has it open
    // for writing, and finds nothing yet while a writer has not written.
    bool writerSeen = false;
    for (;;) {
        const ssize_t n = ::read(pipe.Handle(), block.data(), block.size());
        if (n > 0) {
            writerSeen = true;
            if (contents->Size() + n > maxSize)
                throw EReadError(Format("Cannot read file \"%s\". More than %lld bytes came "
                                        "through the pipe.",
                                        name, static_cast<long long>(maxSize)));
            contents->WriteBuffer(block.data(), n);
        } else if (n == 0) {
            if (!writerSeen)
                throw EFOpenError(
                    Format("Cannot open file \"%s\". No process writes to the pipe.", name));
            break;
        } else if (errno == EAGAIN) {
            writerSeen = true;
            if (!WaitForInput(pipe.Handle(), idleSeconds))
                throw EReadError(Format("Cannot read file \"%s\". Nothing came through the pipe "
                                        "for %g seconds.",
                                        name, idleSeconds));
        } else if (errno != EINTR) {
            throw EReadError(Format("%s: %s", SReadError, SystemErrorText(errno).c_str()));
        }
    }
    contents->SetPosition(0);
    return contents;
}
