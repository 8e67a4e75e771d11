#include "tests/support/XServer.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int StartSeconds = 30;
constexpr int NotFound = 127;

// In the child, where only async-signal-safe calls may run: Xvfb writes its display number to
// the descriptor named in `argv` once it accepts connections. It goes with the process that
// started it, however that ends, and not before.
[[noreturn]] void RunServer(char* const* argv, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp("Xvfb", argv);
    _exit(NotFound);
}

// The display number, or "" when the server ended or did not answer in time.
std::string ReadDisplayNumber(int ready) {
    std::string number;
    pollfd descriptor{ready, POLLIN, 0};
    for (;;) {
        const int polled = poll(&descriptor, 1, StartSeconds * 1000);
        if (polled < 0 && errno == EINTR)
            continue;
        char c = 0;
        if (polled <= 0 || read(ready, &c, 1) != 1)
            return "";
        if (c == '\n')
            return number;
        number += c;
    }
}

std::string Failure(pid_t server) {
    int status = 0;
    if (waitpid(server, &status, WNOHANG) != server) {
        kill(server, SIGKILL);
        waitpid(server, &status, 0);
        return "Xvfb did not come up within " + std::to_string(StartSeconds) + " s";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == NotFound)
        return "Xvfb is not installed (scripts/setup installs it)";
    return "Xvfb ended at start-up (wait status " + std::to_string(status) + ")";
}

} // namespace

TXvfbStart StartXvfb(const std::vector<std::string>& options) {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0)
        return {-1, "", std::string("cannot start Xvfb: ") + std::strerror(errno)};
    // The one descriptor the server keeps across its exec: a copy without close-on-exec.
    const int ready = dup(pipe[1]);
    std::vector<std::string> arguments{"Xvfb", "-displayfd", std::to_string(ready)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"-nolisten", "tcp", "-noreset"});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t server = fork();
    if (server == 0)
        RunServer(argv.data(), parent);
    const int forkError = errno;
    close(ready);
    close(pipe[1]);
    const std::string number = server > 0 ? ReadDisplayNumber(pipe[0]) : "";
    close(pipe[0]);
    if (server < 0)
        return {-1, "", std::string("cannot start Xvfb: ") + std::strerror(forkError)};
    if (number.empty())
        return {-1, "", Failure(server)};
    return {server, ":" + number, ""};
}

TXvfb::TXvfb(const std::vector<std::string>& options) {
    TXvfbStart started = StartXvfb(options);
    if (started.Pid < 0)
        throw std::runtime_error(started.Failure);
    FPid = started.Pid;
    FDisplay = started.Display;
}

TXvfb::~TXvfb() {
    // Terminated, Xvfb removes its lock file and socket, which frees the display number.
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
}
