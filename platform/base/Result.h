// A value or a plain-sentence error: the way format code reports malformed input without throwing.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tessarin {

struct Error {
    std::string message;
};

// Dropping a Result drops the error it may hold, so the compiler refuses to let that pass silently.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<T>(state_); }
    const T& value() const& { return std::get<T>(state_); }
    T&& value() && { return std::get<T>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const std::string& error() const { return std::get<Error>(state_).message; }

private:
    std::variant<T, Error> state_;
};

// For operations that only succeed or fail.
struct Ok {};
using Status = Result<Ok>;

inline Error fail(std::string message) { return Error{std::move(message)}; }

}  // namespace tessarin
