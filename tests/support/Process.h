// Starting the program under test as a child process, waiting for it with a limit, and reading
// the CPU time it used and what it wrote to standard error.
#pragma once

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
};

class TProcess {
public:
    TProcess(const std::string& program, const std::vector<std::string>& arguments,
             const std::string& workingDirectory, const TProcessOptions& options = {});
    ~TProcess(); // kills the process if it is still running
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    pid_t Pid() const { return FPid; }
    bool Running();
    // The exit status, or none if the process did not end in time (or ended by a signal: -signal).
    std::optional<int> Wait(double seconds);
    // User plus system CPU time in clock ticks.
    long CpuTicks() const;
    // What the child has written to standard error so far (empty unless captured).
    std::string StandardError() const;

private:
    pid_t FPid = -1;
    std::optional<int> FStatus;
    int FErrorFile = -1;
};

// The skyview program built with the tests.
std::string SkyviewProgram();
