// Failures that a caller must handle travel as values: an Error carries a sentence
// for the user and, where the operating system refused, its own error code.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace velka {

struct Error {
    std::string message;   // a clear sentence, UTF-8 or Windows-1251 as the caller's layer uses
    int system_code = 0;   // errno or GetLastError() at the failure point, 0 if none
};

// Either a value or an Error. Deliberately small: just enough for the core's needs.
template <typename T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    Result(Error error) : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }
    // REQUIRES: ok()
    T& value() { return std::get<T>(state_); }
    const T& value() const { return std::get<T>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    // REQUIRES: !ok()
    const Error& error() const { return std::get<Error>(state_); }

private:
    std::variant<T, Error> state_;
};

// The result of an operation that gives nothing back but can fail.
class Status {
public:
    Status() = default;
    Status(Error error) : failed_(true), error_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // REQUIRES: !ok()
    const Error& error() const { return error_; }

private:
    bool failed_ = false;
    Error error_;
};

}  // namespace velka
