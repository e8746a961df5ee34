#pragma once

// The one result type for operations that can fail: a value (or, for
// Expected<void, E>, nothing) or the error E that says why. Error types
// describe themselves in Dutch for the user (`description()`); code compares
// their kind. C++23's std::expected in the small:
//
//     Expected<std::unique_ptr<Sink>, InputError> opened = XTestInputSink::open();
//     if (!opened)
//         log(opened.error().description());
//     use(std::move(*opened));
//
//     Expected<void, CaptureError> started = source.start(display);
//     return unexpected(CaptureError{...});

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace velmarin {

template <class E> struct Unexpected {
    E error;
};

template <class E> Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return {std::forward<E>(error)};
}

template <class T, class E> class [[nodiscard]] Expected {
public:
    template <class U = T>
        requires std::is_constructible_v<T, U&&>
    Expected(U&& value)
        : m_state(std::in_place_index<0>, std::forward<U>(value)) {}
    template <class G>
    Expected(Unexpected<G> failure)
        : m_state(std::in_place_index<1>, std::move(failure.error)) {}

    bool hasValue() const { return m_state.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

template <class E> class [[nodiscard]] Expected<void, E> {
public:
    Expected() = default;
    template <class G>
    Expected(Unexpected<G> failure)
        : m_error(std::move(failure.error)) {}

    bool hasValue() const { return !m_error; }
    explicit operator bool() const { return hasValue(); }
    const E& error() const { return *m_error; }

private:
    std::optional<E> m_error;
};

} // namespace velmarin
