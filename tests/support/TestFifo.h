// A FIFO for tests of reading pipes. It holds a reading end itself, so that what Fill writes
// stays in the pipe after the writer has closed, for the next reader to read to its end.
#pragma once

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class TTestFifo {
public:
    explicit TTestFifo(std::string path) : FPath(std::move(path)) {
        ::mkfifo(FPath.c_str(), 0600);
        FReader = ::open(FPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~TTestFifo() {
        ::close(FReader);
        ::close(FWriter);
        ::unlink(FPath.c_str());
    }
    TTestFifo(const TTestFifo&) = delete;
    TTestFifo& operator=(const TTestFifo&) = delete;

    // Writes what fits in the pipe and closes the writer; or, without bytes, keeps a writer
    // connected that writes nothing.
    void Write(const std::string& bytes) {
        const int writer = ::open(FPath.c_str(), O_WRONLY | O_CLOEXEC);
        if (bytes.empty()) {
            FWriter = writer;
            return;
        }
        [[maybe_unused]] const ssize_t written = ::write(writer, bytes.data(), bytes.size());
        ::close(writer);
    }

private:
    std::string FPath;
    int FReader = -1;
    int FWriter = -1;
};
