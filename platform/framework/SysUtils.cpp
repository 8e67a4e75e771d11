#include "platform/framework/SysUtils.h"

#include <cstdarg>
#include <cstdio>
#include <sys/stat.h>
#include <vector>
#include <xmmintrin.h>

void Assert(bool condition, const char* message) {
    if (!condition)
        throw EAssertionFailed(message);
}

bool FileExists(const std::string& fileName) {
    struct stat status {};
    return ::stat(fileName.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

TFileKind FileKind(const std::string& fileName) {
    struct stat status {};
    if (::stat(fileName.c_str(), &status) != 0)
        return fkNone;
    if (S_ISREG(status.st_mode))
        return fkRegular;
    if (S_ISDIR(status.st_mode))
        return fkDirectory;
    return S_ISFIFO(status.st_mode) ? fkPipe : fkOther;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        result.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return result;
}

void Set8087CW(uint16_t controlWord) {
    asm volatile("fldcw %0" : : "m"(controlWord));
    // The six x87 exception mask bits map one to one onto the MXCSR mask bits (7..12).
    const unsigned masks = (controlWord & 0x3Fu) << 7;
    _mm_setcsr((_mm_getcsr() & ~0x1F80u) | masks);
}
