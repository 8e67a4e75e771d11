// The sizes a process's status file reports, and a scope that limits this process's address
// space, for tests of what happens when memory runs short.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

// A size in a process's status file ("VmSize", "VmPeak", "VmData", ...) in bytes; 0 if the
// process or the field is gone.
inline uint64_t StatusBytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::stoull(line.substr(field.size() + 1)) * 1024; // in kB
    return 0;
}

// This process's address space may grow by `room` more while the scope lasts.
class TAddressSpaceLimit {
public:
    explicit TAddressSpaceLimit(uint64_t room) {
        getrlimit(RLIMIT_AS, &FSaved);
        const rlimit lowered{static_cast<rlim_t>(StatusBytes(getpid(), "VmSize") + room),
                             FSaved.rlim_max};
        FSet = setrlimit(RLIMIT_AS, &lowered) == 0;
    }
    ~TAddressSpaceLimit() { setrlimit(RLIMIT_AS, &FSaved); }
    TAddressSpaceLimit(const TAddressSpaceLimit&) = delete;
    TAddressSpaceLimit& operator=(const TAddressSpaceLimit&) = delete;

    // Whether the limit could be set.
    bool Set() const { return FSet; }

private:
    rlimit FSaved{};
    bool FSet = false;
};
