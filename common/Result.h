// A value or an error, for every operation that can fail on untrusted input or on
// the file system. The result must be looked at: it is [[nodiscard]], and reading the
// value of a failed result is a programming error caught by an assertion.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace harvix {

// Why an operation failed. Kept coarse: callers decide by the kind, the message is
// for people.
enum class ErrorKind {
    NotFound,    // no such file, resource, key or value
    NotLoadable, // the input is not of the expected format
    Truncated,   // a read ran past the end of the input
    Malformed,   // a field holds a value that cannot be right
    TooLarge,    // a count or size beyond what is accepted
    Io,          // the operating system refused (errno in `code`)
    DiskFull,    // the disk, or the user's share of it, is full (errno in `code`)
    Unsupported, // valid, but not something this program handles
};

struct Error {
    ErrorKind kind = ErrorKind::Malformed;
    std::string message;
    int code = 0; // errno for Io errors, otherwise 0
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    [[nodiscard]] bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(m_state);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(m_state);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Error& error() const {
        assert(!ok());
        return std::get<1>(m_state);
    }

    T valueOr(T fallback) const& { return ok() ? std::get<0>(m_state) : std::move(fallback); }

private:
    std::variant<T, Error> m_state;
};

// For operations that give nothing back but may fail.
struct Unit {};
using Status = Result<Unit>;
inline Status success() { return Unit{}; }

inline Error makeError(ErrorKind kind, std::string message, int code = 0) {
    return Error{kind, std::move(message), code};
}

} // namespace harvix
