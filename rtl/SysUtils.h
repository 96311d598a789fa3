// Exceptions and small string helpers shared by every unit of both programs.
#pragma once

#include <exception>
#include <string>

// Base of every exception the system raises: a message and a help context.
class Exception : public std::exception {
public:
    explicit Exception(std::string message, int helpContext = 0);
    ~Exception() override;

    const std::string& Message() const noexcept { return FMessage; }
    int HelpContext() const noexcept { return FHelpContext; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
    int FHelpContext;
};

// A position outside a list, or an operation a list does not allow.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// A type-checked conversion met an object of another class.
class EInvalidCast : public Exception {
public:
    EInvalidCast() : Exception("Invalid class typecast") {}
};

// An abstract operation was called on a class that does not implement it.
class EAbstractError : public Exception {
public:
    EAbstractError() : Exception("Abstract Error") {}
};

// A registry read or write failed (value of the wrong type or size, refused write).
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// An operating-system call failed. The message is "System Error.  Code: %d.\r\n%s"
// or "A call to an OS function failed" when no error code was set.
class EOSError : public Exception {
public:
    EOSError(std::string message, unsigned long errorCode)
        : Exception(std::move(message)), ErrorCode(errorCode) {}
    unsigned long ErrorCode;
};

// Raises EOSError for GetLastError() (read first thing) or for the given code.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(unsigned long errorCode);

// The system's message text for an error code, without trailing line breaks
// and blanks; empty when the system has none.
std::string SysErrorMessage(unsigned long errorCode);

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string IntToStr(long long value);

// Lower-cases only the letters A to Z; every other byte stays as it is.
// Names of services and programs are matched this way, then byte for byte.
std::string LowerCaseAZ(std::string s);

// The file-name part of a path: the text after the last backslash or colon,
// the whole path when it has neither.
std::string ExtractFileName(const std::string& path);

// The full path of the running program's file, however long; empty when it
// cannot be read (the thread's last error then tells why).
std::string ProgramPath();

// Strips blanks and control characters (bytes up to 0x20) at both ends.
std::string Trim(const std::string& s);

// Conversions between the ANSI code page and UTF-16, as the system's own "A"
// functions make them. AnsiFromWide takes Count characters of Text.
std::string AnsiFromWide(const wchar_t* Text, int Count);
std::wstring WideFromAnsi(const std::string& Text);
