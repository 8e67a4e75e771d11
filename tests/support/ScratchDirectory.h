// An empty directory of a test's own under the system's temporary directory, removed with
// everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

class TScratchDirectory {
public:
    TScratchDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "skyview-e2e-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a scratch directory");
        FPath = pattern;
    }
    ~TScratchDirectory() { std::filesystem::remove_all(FPath); }
    TScratchDirectory(const TScratchDirectory&) = delete;
    TScratchDirectory& operator=(const TScratchDirectory&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};
