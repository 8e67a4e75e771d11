// Exceptions, assertions and small system utilities of the application framework.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

// Base of every error the program raises; Message() is the exact text shown to the user.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }
    virtual const char* ClassName() const { return "Exception"; }

private:
    std::string FMessage;
};

// Declares an exception class that only differs from its base by its class name.
#define SKYVIEW_EXCEPTION(Name, Base)                                                              \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
        const char* ClassName() const override { return #Name; }                                   \
    };

SKYVIEW_EXCEPTION(EAssertionFailed, Exception)
SKYVIEW_EXCEPTION(EOSError, Exception)
SKYVIEW_EXCEPTION(EConvertError, Exception)
SKYVIEW_EXCEPTION(EInvalidOperation, Exception)
SKYVIEW_EXCEPTION(EStreamError, Exception)
SKYVIEW_EXCEPTION(EReadError, EStreamError)
SKYVIEW_EXCEPTION(EFOpenError, EStreamError)
SKYVIEW_EXCEPTION(EFCreateError, EStreamError)
// What the standard error report makes of std::bad_alloc.
SKYVIEW_EXCEPTION(EOutOfMemory, Exception)

constexpr const char* SOutOfMemory = "Not enough memory to complete operation.";

// Raises EAssertionFailed carrying exactly `message` when `condition` is false.
void Assert(bool condition, const char* message = "Assertion failed");

// Runs an action when the scope ends, normally or by an exception. When an exception is already
// leaving the scope, one thrown by the action is dropped: the first is what the caller sees.
template <typename F> class TFinally {
public:
    explicit TFinally(F action) : FAction(std::move(action)) {}
    ~TFinally() noexcept(false) {
        if (std::uncaught_exceptions() > FExceptions) {
            try {
                FAction();
            } catch (...) {
            }
        } else {
            FAction();
        }
    }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FAction;
    int FExceptions = std::uncaught_exceptions();
};

// Runs an action when the scope ends by an exception, and only then: the undoing of a step that
// failed half way. An exception thrown by the action is dropped, as by TFinally.
template <typename F> class TOnFailure {
public:
    explicit TOnFailure(F action) : FAction(std::move(action)) {}
    ~TOnFailure() {
        if (std::uncaught_exceptions() <= FExceptions)
            return;
        try {
            FAction();
        } catch (...) {
        }
    }
    TOnFailure(const TOnFailure&) = delete;
    TOnFailure& operator=(const TOnFailure&) = delete;

private:
    F FAction;
    int FExceptions = std::uncaught_exceptions();
};

// Sets a flag for the scope's life, also when it ends by an exception.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

// True for an existing file system entry that is not a directory.
bool FileExists(const std::string& fileName);

// What a file name leads to, links followed.
enum TFileKind : uint8_t { fkNone, fkRegular, fkDirectory, fkPipe, fkOther };
TFileKind FileKind(const std::string& fileName);

// The ASCII letters A to Z in lower case, or a to z in upper case; every other byte, UTF-8
// included, stays as it is.
constexpr char LowerCaseChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char UpperCaseChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string LowerCase(std::string text);
std::string UpperCase(std::string text);

// The characters after the last dot of the last path element, in their case; empty when that
// element has no dot.
std::string ExtensionOf(const std::string& fileName);

// Whether `bytes` more of address space can be mapped now: false when the process's
// address-space limit (or the machine) leaves less. Nothing stays mapped.
bool AddressSpaceAvailable(uint64_t bytes);

// printf-style formatting into a std::string (C locale).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Masks every floating-point exception (x87 control word and SSE MXCSR), so that divisions by
// zero and invalid operations give infinities and NaNs instead of traps.
void Set8087CW(uint16_t controlWord);
