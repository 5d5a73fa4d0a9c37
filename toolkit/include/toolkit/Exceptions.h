#pragma once
// The runtime's exceptions. Every failure of the toolkit layer is one of these, so a
// caller (or the last-resort handler) can report its kind and message uniformly.
#include <stdexcept>
#include <string>

namespace tk {

class RuntimeException : public std::runtime_error {
public:
    RuntimeException(std::string kind, const std::string& message)
        : std::runtime_error(message), kind_(std::move(kind)) {}
    explicit RuntimeException(const std::string& message)
        : RuntimeException("RuntimeException", message) {}
    // The exception's class name as the report shows it, e.g. "NilObjectException".
    const std::string& Kind() const noexcept { return kind_; }

private:
    std::string kind_;
};

// Use of a nil object reference.
class NilObjectException : public RuntimeException {
public:
    explicit NilObjectException(const std::string& message = "A nil object was used.")
        : RuntimeException("NilObjectException", message) {}
};

// A list index outside 0..UBound.
class OutOfBoundsException : public RuntimeException {
public:
    explicit OutOfBoundsException(const std::string& message)
        : RuntimeException("OutOfBoundsException", message) {}
};

// Data that does not have the expected form (a bad layout property list, a bad pattern).
class UnsupportedFormatException : public RuntimeException {
public:
    explicit UnsupportedFormatException(const std::string& message)
        : RuntimeException("UnsupportedFormatException", message) {}
};

// A failed file operation (a file that cannot be created or committed).
class IOException : public RuntimeException {
public:
    explicit IOException(const std::string& message)
        : RuntimeException("IOException", message) {}
};

// A cast of an object to a class it does not belong to.
class IllegalCastException : public RuntimeException {
public:
    explicit IllegalCastException(const std::string& message)
        : RuntimeException("IllegalCastException", message) {}
};

}  // namespace tk
