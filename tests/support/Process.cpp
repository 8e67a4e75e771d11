#include "tests/support/Process.h"
#include "tests/support/AddressSpace.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> ChildEnvironment(const TProcessOptions& options) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
        variables.emplace_back(*entry);
    for (const auto& [name, value] : options.Environment) {
        const std::string prefix = name + "=";
        std::erase_if(variables,
                      [&](const std::string& variable) { return variable.starts_with(prefix); });
        if (value)
            variables.push_back(prefix + *value);
    }
    return variables;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& text : strings)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// An unnamed file, not a pipe: a child that writes a long report never blocks on it.
int AnonymousFile() {
    std::string path = (std::filesystem::temp_directory_path() / "skyview-stderr-XXXXXX").string();
    const int file = mkstemp(path.data());
    if (file < 0)
        throw std::runtime_error("cannot create a file for a child's standard error");
    unlink(path.c_str());
    return file;
}

} // namespace

TProcess::TProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& workingDirectory, const TProcessOptions& options) {
    std::vector<std::string> argumentList{program};
    argumentList.insert(argumentList.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> environment = ChildEnvironment(options);
    std::vector<char*> argv = Pointers(argumentList);
    std::vector<char*> envp = Pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    if (options.CaptureStandardError) {
        FErrorFile = AnonymousFile();
        posix_spawn_file_actions_adddup2(&actions, FErrorFile, STDERR_FILENO);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    // The child inherits the limits this process has when it starts: a data limit is set for
    // the spawn and put back after it.
    rlimit saved{};
    getrlimit(RLIMIT_DATA, &saved);
    if (options.DataLimit) {
        const rlimit lowered{static_cast<rlim_t>(*options.DataLimit), saved.rlim_max};
        setrlimit(RLIMIT_DATA, &lowered);
    }
    const int failed =
        posix_spawn(&FPid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    setrlimit(RLIMIT_DATA, &saved);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
        if (FErrorFile >= 0)
            close(FErrorFile);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(failed));
    }
}

TProcess::~TProcess() {
    // The whole group, while the child has not been waited for: its id is still its own.
    if (!FStatus) {
        kill(-FPid, SIGKILL);
        Wait(5);
    }
    if (FErrorFile >= 0)
        close(FErrorFile);
}

std::string TProcess::StandardError() const {
    std::string text;
    if (FErrorFile < 0)
        return text;
    char buffer[4096];
    off_t at = 0;
    for (ssize_t n; (n = pread(FErrorFile, buffer, sizeof buffer, at)) > 0; at += n)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

bool TProcess::Running() {
    if (FStatus)
        return false;
    int status = 0;
    const pid_t done = waitpid(FPid, &status, WNOHANG);
    if (done == FPid) {
        FStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return false;
    }
    return done == 0;
}

std::optional<int> TProcess::Wait(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return FStatus;
}

long TProcess::CpuTicks() const {
    std::ifstream stat("/proc/" + std::to_string(FPid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the parenthesised command name; utime and stime are the 14th and 15th.
    const size_t close = content.rfind(')');
    std::istringstream fields(content.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stol(field);
        if (index == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

uint64_t TProcess::DataSize() const {
    return StatusBytes(FPid, "VmData");
}

uint64_t TProcess::AddressSpacePeak() const {
    return StatusBytes(FPid, "VmPeak");
}

void TProcess::LiftDataLimit() const {
    rlimit own{};
    getrlimit(RLIMIT_DATA, &own);
    prlimit(FPid, RLIMIT_DATA, &own, nullptr);
}

bool TProcess::GroupAlive() const {
    return kill(-FPid, 0) == 0;
}

std::string SkyviewProgram() {
    return SKYVIEW_PROGRAM;
}
