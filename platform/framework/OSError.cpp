#include "platform/framework/OSError.h"

#include "platform/win32/WinUser.h"

void RaiseLastOSError() {
    throw EOSError("OS Error : " + SysErrorMessage(GetLastError()));
}
