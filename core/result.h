#pragma once
// Errors are values here: a failure carries the sentence the user will read.
// (std::expected is C++23; this is the small subset we need.)

#include <QString>

#include <utility>
#include <variant>

namespace lumopet {

struct Failure {
    QString message;
};

template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<T>(state_); }
    T& value() & { return std::get<T>(state_); }
    // From a temporary the value is moved out, so that a loop over
    // f().value() walks a list of its own rather than one destroyed before
    // its first step.
    T value() && { return std::get<T>(std::move(state_)); }
    const QString& error() const { return std::get<Failure>(state_).message; }

private:
    std::variant<T, Failure> state_;
};

struct Done {};
using Status = Result<Done>;

inline Status success() { return Done{}; }

}  // namespace lumopet
