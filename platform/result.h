// Failures that a caller must handle travel as values: an Error carries a sentence
// for the user and, where the operating system refused, its own error code.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace velka {

struct Error {
    std::string message;  // a clear sentence, UTF-8 or Windows-1251 as the caller's layer uses
    int system_code = 0;  // errno or GetLastError() at the failure point, 0 if none
};

// Either a value or an error (an Error unless a layer has a richer one).
// Deliberately small: just enough for the core's needs.
template <typename T, typename E = Error>
class Result {
  public:
    Result(T value) : state_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    Result(E error) : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

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
    const E& error() const { return std::get<E>(state_); }

  private:
    std::variant<T, E> state_;
};

// The result of an operation that gives nothing back but can fail.
template <typename E>
class BasicStatus {
  public:
    BasicStatus() = default;
    BasicStatus(E error)
        : failed_(true), error_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // REQUIRES: !ok()
    const E& error() const { return error_; }

  private:
    bool failed_ = false;
    E error_;
};
using Status = BasicStatus<Error>;

}  // namespace velka
