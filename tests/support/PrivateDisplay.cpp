#include "tests/support/PrivateDisplay.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int StartSeconds = 30;
constexpr int NotFound = 127;

// In the child, where only async-signal-safe calls may run: Xvfb picks a free display number
// and writes it to the descriptor named by `ready` once it accepts connections. It goes with
// the test program, however that ends, and not before.
[[noreturn]] void RunServer(const char* ready, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execlp("Xvfb", "Xvfb", "-displayfd", ready, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           "-noreset", static_cast<char*>(nullptr));
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

void TPrivateDisplay::SetUp() {
    int pipe[2];
    ASSERT_EQ(pipe2(pipe, O_CLOEXEC), 0) << std::strerror(errno);
    // The one descriptor the server keeps across its exec: a copy without close-on-exec.
    const int ready = dup(pipe[1]);
    const std::string readyName = std::to_string(ready);
    const pid_t parent = getpid();
    const pid_t server = fork();
    if (server == 0)
        RunServer(readyName.c_str(), parent);
    const int forkError = errno;
    close(ready);
    close(pipe[1]);
    const std::string number = server > 0 ? ReadDisplayNumber(pipe[0]) : "";
    close(pipe[0]);
    ASSERT_GT(server, 0) << "cannot start Xvfb: " << std::strerror(forkError);
    if (number.empty())
        FAIL() << Failure(server);
    setenv("DISPLAY", (":" + number).c_str(), 1);
}
