#include "platform/framework/SysUtils.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <sys/mman.h>
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

std::string LowerCase(std::string text) {
    std::ranges::transform(text, text.begin(), LowerCaseChar);
    return text;
}

std::string UpperCase(std::string text) {
    std::ranges::transform(text, text.begin(), UpperCaseChar);
    return text;
}

std::string ExtensionOf(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = fileName.find_last_of('.');
    return dot == std::string::npos || dot < start ? std::string() : fileName.substr(dot + 1);
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

bool AddressSpaceAvailable(uint64_t bytes) {
    if (bytes == 0)
        return true;
    if (bytes > SIZE_MAX)
        return false;
    // An inaccessible mapping touches no memory but counts against the address-space limit.
    void* probe = mmap(nullptr, static_cast<size_t>(bytes), PROT_NONE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (probe == MAP_FAILED)
        return false;
    munmap(probe, static_cast<size_t>(bytes));
    return true;
}
