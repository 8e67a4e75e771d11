#include "tests/support/PrivateDisplay.h"

#include "tests/support/XServer.h"

#include <cstdlib>

void TPrivateDisplay::SetUp() {
    const TXvfbStart started = StartXvfb({"-screen", "0", "1280x1024x24"});
    if (started.Pid < 0)
        FAIL() << started.Failure;
    setenv("DISPLAY", started.Display.c_str(), 1);
}
