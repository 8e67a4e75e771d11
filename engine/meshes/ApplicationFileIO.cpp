#include "engine/meshes/ApplicationFileIO.h"

#include <sys/stat.h>

namespace {

// As the framework's FileExists: true for an existing entry that is not a directory.
bool FileExists(const std::string& fileName) {
    struct stat status {};
    return ::stat(fileName.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

} // namespace

std::unique_ptr<TStream> OpenFileStream(const std::string& fileName, uint16_t mode) {
    // The stream-creation hook and the file-access component have no user in this
    // system and are left out; only the plain file path remains.
    if (mode != fmCreate && !FileExists(fileName))
        throw Exception("File not found: \"" + fileName + "\"");
    return std::make_unique<TFileStream>(fileName, mode);
}
