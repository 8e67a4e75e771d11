// Data-file input and output of the engine: for now the opening of file streams
// that every file load and save goes through.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/framework/Streams.h"

// Opens fileName as a file stream with the given mode (fmOpenRead | fmShareDenyWrite for mesh
// loads, fmOpenRead | fmShareDenyNone for data files, fmCreate for writing). Outside the create
// mode a missing file raises a plain Exception "File not found: \"<fileName>\""; errors of the
// open itself propagate as EFOpenError / EFCreateError.
std::unique_ptr<TStream> OpenFileStream(const std::string& fileName, uint16_t mode);
