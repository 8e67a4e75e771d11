#include "engine/meshes/ApplicationFileIO.h"

namespace {

// A pipe is read to its end when it is opened; these keep a writer that never stops, or never
// writes, from holding the program or its memory.
constexpr int64_t PipeMaxSize = int64_t{256} << 20;
constexpr double PipeIdleSeconds = 10;

std::string ExtractFileName(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

} // namespace

std::unique_ptr<TStream> OpenFileStream(const std::string& fileName, uint16_t mode) {
    // The stream-creation hook and the file-access component have no user in this
    // system and are left out; only the plain file path remains.
    if (mode == fmCreate)
        return std::make_unique<TFileStream>(fileName, mode);
    switch (FileKind(fileName)) {
    case fkNone:
    case fkDirectory:
        throw Exception("File not found: \"" + fileName + "\"");
    case fkPipe:
        if ((mode & 0x3) == fmOpenRead)
            return ReadPipeToEnd(TFileStream(fileName, mode), PipeMaxSize, PipeIdleSeconds);
        break;
    case fkOther:
        // A device or a socket: its reads may never end, or wait for a terminal's input.
        throw EFOpenError("Cannot open file \"" + fileName +
                          "\". It is not a regular file or a pipe.");
    case fkRegular:
        break;
    }
    return std::make_unique<TFileStream>(fileName, mode);
}

// TDataFile

void TDataFile::ReadFile(const std::string& fileName) {
    FResourceName = ExtractFileName(fileName);
    const std::unique_ptr<TStream> stream = OpenFileStream(fileName, fmOpenRead | fmShareDenyNone);
    ReadStream(*stream);
}

void TDataFile::WriteFile(const std::string& fileName) {
    if (!(Capabilities() & dfcWrite))
        RaiseExportNotAvailable("TFileStream");
    FResourceName = ExtractFileName(fileName);
    const std::unique_ptr<TStream> stream = OpenFileStream(fileName, fmCreate);
    WriteStream(*stream);
}

void TDataFile::WriteStream(TStream& stream) {
    RaiseExportNotAvailable(stream.ClassName());
}

void TDataFile::RaiseExportNotAvailable(const char* streamClassName) const {
    throw EAssertionFailed(std::string("Export for ") + ClassName() + " to " + streamClassName +
                           " not available.");
}
