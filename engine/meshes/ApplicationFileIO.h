// Data-file input and output of the engine: the opening of file streams that every file load and
// save goes through, and the base class of the objects that read and write one kind of file.
//
// The module needs nothing but streams and the persistent base beside them, so that the 3DS
// reader built on it stays free of the framework.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/framework/Persistent.h"
#include "platform/framework/Streams.h"

// Opens fileName as a file stream with the given mode (fmOpenRead | fmShareDenyWrite for mesh
// loads, fmOpenRead | fmShareDenyNone for data files, fmCreate for writing). Outside the create
// mode a missing file raises a plain Exception "File not found: \"<fileName>\""; errors of the
// open itself propagate as EFOpenError / EFCreateError. Opening never waits: a pipe (a FIFO)
// opened for reading is read to its end into a memory stream (ReadPipeToEnd, at most 256 MiB,
// giving up after 10 seconds without data), and a device or a socket raises EFOpenError.
std::unique_ptr<TStream> OpenFileStream(const std::string& fileName, uint16_t mode);

// What a data-file class can do, as bits.
enum TDataFileCapability : uint8_t { dfcRead = 1, dfcWrite = 2 };
using TDataFileCapabilities = uint8_t;

// Reads (and possibly writes) one kind of file for its owner. An object lives for one load or
// save. Data-file classes are persistent so that the class registry can hold them by name.
class TDataFile : public TPersistent {
public:
    explicit TDataFile(TPersistent* owner) : FOwner(owner) {}
    TDataFile(const TDataFile&) = delete;
    TDataFile& operator=(const TDataFile&) = delete;
    const char* ClassName() const override { return "TDataFile"; }

    // Read only, unless a class says more.
    virtual TDataFileCapabilities Capabilities() const { return dfcRead; }
    // A new object of the same class with `owner`.
    virtual std::unique_ptr<TDataFile> CreateCopy(TPersistent* owner) const = 0;

    TPersistent* Owner() const { return FOwner; }
    const std::string& ResourceName() const { return FResourceName; }
    void SetResourceName(const std::string& value) { FResourceName = value; }

    // The resource name becomes the file name without its directory; the file is opened with
    // OpenFileStream (read, deny-none) and closed on every path.
    virtual void ReadFile(const std::string& fileName);
    // The same with the create mode. A class that cannot write fails before the file is
    // created, so that an existing file is left as it was.
    virtual void WriteFile(const std::string& fileName);
    virtual void ReadStream(TStream& stream) = 0;
    // Fails with the assertion "Export for <class> to <stream class> not available.".
    virtual void WriteStream(TStream& stream);

protected:
    [[noreturn]] void RaiseExportNotAvailable(const char* streamClassName) const;

private:
    TPersistent* FOwner;
    std::string FResourceName;
};
