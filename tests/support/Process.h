// Starting the program under test as a child process, waiting for it with a limit, and reading
// the CPU time it used.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class TProcess {
public:
    TProcess(const std::string& program, const std::vector<std::string>& arguments,
             const std::string& workingDirectory);
    ~TProcess(); // kills the process if it is still running
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    pid_t Pid() const { return FPid; }
    bool Running();
    // The exit status, or none if the process did not end in time (or ended by a signal: -signal).
    std::optional<int> Wait(double seconds);
    // User plus system CPU time in clock ticks.
    long CpuTicks() const;

private:
    pid_t FPid = -1;
    std::optional<int> FStatus;
};

// The skyview program built with the tests.
std::string SkyviewProgram();
