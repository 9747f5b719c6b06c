#pragma once
// The one exception base of the code base: a UTF-16 message, with what() giving UTF-8.

#include <exception>
#include <string>

// Base of every error raised by our own code; the message is the fixed text a caller may show.
class Exception : public std::exception {
public:
    explicit Exception(std::u16string message);
    // The message as given.
    const std::u16string& Message() const noexcept { return FMessage; }
    // The message in UTF-8.
    const char* what() const noexcept override { return FWhat.c_str(); }

private:
    std::u16string FMessage;
    std::string FWhat;
};

// An operation that is not allowed in the object's present state or on this thread.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// An argument outside what the operation accepts.
class EArgumentError : public Exception {
public:
    using Exception::Exception;
};

// Adding an item where it may not go: a second registration, an identifier already taken.
class EInvalidInsert : public Exception {
public:
    using Exception::Exception;
};

// A reference-counted object destroyed while still referenced, and similar misuse.
class EInvalidPointer : public Exception {
public:
    using Exception::Exception;
};

// A stream that cannot be opened, read or written.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// The message of any exception: ours as given, others from what() in UTF-8.
std::u16string ExceptionMessage(const std::exception& e);
