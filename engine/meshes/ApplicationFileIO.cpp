#include "engine/meshes/ApplicationFileIO.h"

namespace {

std::string ExtractFileName(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

} // namespace

std::unique_ptr<TStream> OpenFileStream(const std::string& fileName, uint16_t mode) {
    // The stream-creation hook and the file-access component have no user in this
    // system and are left out; only the plain file path remains.
    if (mode != fmCreate && !FileExists(fileName))
        throw Exception("File not found: \"" + fileName + "\"");
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
