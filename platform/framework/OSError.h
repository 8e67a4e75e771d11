// The operating system's last error as an exception. Kept apart from SysUtils so that code
// without windows (the 3DS reader and its fuzzer) does not pull the window manager in.
#pragma once

#include "platform/framework/SysUtils.h"

// Raises EOSError "OS Error : " followed by the system's text for the last error.
[[noreturn]] void RaiseLastOSError();
