// Starting the program under test as a child process, waiting for it with a limit, and reading
// the CPU time and memory it used and what it wrote to standard error. The child leads a process
// group of its own, so that whatever it starts can be found and ended with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct TProcessOptions {
    // Variables to set in the child's copy of this process's environment; none removes one.
    std::vector<std::pair<std::string, std::optional<std::string>>> Environment;
    // Keeps the child's standard error for StandardError() instead of sharing the test's.
    bool CaptureStandardError = false;
    // The child's limit of data memory in bytes (RLIMIT_DATA), as `prlimit --data` sets it.
    std::optional<uint64_t> DataLimit;
};

class TProcess {
public:
    TProcess(const std::string& program, const std::vector<std::string>& arguments,
             const std::string& workingDirectory, const TProcessOptions& options = {});
    ~TProcess(); // kills the process and its group unless it has been waited for
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    pid_t Pid() const { return FPid; }
    bool Running();
    // The exit status, or none if the process did not end in time (or ended by a signal: -signal).
    std::optional<int> Wait(double seconds);
    // User plus system CPU time in clock ticks.
    long CpuTicks() const;
    // The process's data memory in bytes (VmData), what RLIMIT_DATA limits.
    uint64_t DataSize() const;
    // The most address space the process has had mapped, in bytes (VmPeak), what RLIMIT_AS
    // limits.
    uint64_t AddressSpacePeak() const;
    // Gives the process the data limit this one has, lifting the one it was started with.
    void LiftDataLimit() const;
    // Whether any process of the child's group is still there (once the child has been waited
    // for: anything it started and left running).
    bool GroupAlive() const;
    // What the child has written to standard error so far (empty unless captured).
    std::string StandardError() const;

private:
    pid_t FPid = -1;
    std::optional<int> FStatus;
    int FErrorFile = -1;
};

// The skyview program built with the tests.
std::string SkyviewProgram();
