// Xvfb servers for tests: the private one of each OpenGL and end-to-end test program
// (PrivateDisplay) and those a test starts for itself, configured otherwise (no GLX, a 16-bit
// screen). Xvfb picks a free display number itself, so that servers of tests running side by
// side never clash.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct TXvfbStart {
    pid_t Pid = -1;      // the running server, or -1
    std::string Display; // ":N" once it accepts connections
    std::string Failure; // why it did not come up
};

// Starts Xvfb with these options (after -displayfd, before -nolisten tcp -noreset) and waits
// until it accepts connections. The server ends with the calling process at the latest.
TXvfbStart StartXvfb(const std::vector<std::string>& options);

// A server of one test's own, ended and waited for with the object.
class TXvfb {
public:
    // Throws std::runtime_error when the server does not come up.
    explicit TXvfb(const std::vector<std::string>& options);
    ~TXvfb();
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;

    const std::string& Display() const { return FDisplay; }

private:
    pid_t FPid;
    std::string FDisplay;
};
