// Exceptions, assertions and small system utilities of the application framework.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

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

// Raises EAssertionFailed carrying exactly `message` when `condition` is false.
void Assert(bool condition, const char* message = "Assertion failed");

// printf-style formatting into a std::string (C locale).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Masks every floating-point exception (x87 control word and SSE MXCSR), so that divisions by
// zero and invalid operations give infinities and NaNs instead of traps.
void Set8087CW(uint16_t controlWord);
uint16_t Get8087CW();
