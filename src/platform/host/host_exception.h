// The host runtime's exception classes. Every exception that the framework
// raises derives from Exception, and so does the component's own class.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "host_strings.h"

namespace tarn::host {

// The general exception class: a message text and nothing else.
class Exception : public std::exception {
public:
    explicit Exception(UnicodeString message);
    // For messages written in the source, which are ASCII or UTF-8.
    explicit Exception(const char* messageUtf8);

    const UnicodeString& Message() const noexcept { return message_; }
    // A UTF-8 copy of the message, for logs and test output.
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    UnicodeString message_;
    std::string utf8_;
};

// A text could not be converted, or a format string did not match its
// arguments.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A class conversion failed.
class EInvalidCast : public Exception {
public:
    using Exception::Exception;
};

// A registry value could not be read as asked.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// A component stream could not be read: malformed text, an unknown class or
// property, or a value that the property does not accept.
class EReadError : public Exception {
public:
    using Exception::Exception;
};

// A thread operation was used in a way the thread class does not allow.
class EThreadError : public Exception {
public:
    using Exception::Exception;
};

// A component could not be named or registered as asked.
class EComponentError : public Exception {
public:
    using Exception::Exception;
};

// A string list was indexed out of range or changed against its sorting.
class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// The system's text for an error code, converted from the ANSI code page,
// without a trailing line break. Safe on any thread.
UnicodeString SysErrorMessage(std::uint32_t code);

}  // namespace tarn::host
