#include "engine/meshes/ApplicationFileIO.h"

std::unique_ptr<TStream> OpenFileStream(const std::string& fileName, uint16_t mode) {
    // The stream-creation hook and the file-access component have no user in this
    // system and are left out; only the plain file path remains.
    if (mode != fmCreate && !FileExists(fileName))
        throw Exception("File not found: \"" + fileName + "\"");
    return std::make_unique<TFileStream>(fileName, mode);
}
