// A value or the reason there is none: the one "value or error" type of the host.
//
// Every fallible step reports its failure either as the text the caller will eventually
// see (E = std::string, the default) or, at the Win32 edge, as a small failure record that
// becomes text later (files::Failure). A handler's outcome is Result<json>.
//
//   Result<int> parse(...) { if (bad) return fail("why"); return 42; }
//   Result<void> check(...) { if (bad) return fail("why"); return {}; }
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvane {

// The error side on its way into a Result; made by fail().
template <typename E>
struct Failed {
  E error;
};

inline Failed<std::string> fail(std::string message) { return {std::move(message)}; }

template <typename E>
requires(!std::is_convertible_v<E, std::string>) Failed<E> fail(E error) { return {std::move(error)}; }

template <typename T, typename E = std::string>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  template <typename F>
  requires std::is_constructible_v<E, F&&> Result(Failed<F> failed)
      : state_(std::in_place_index<1>, std::move(failed.error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }

  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

  // The same failure, as the error side of a Result of another value type.
  Failed<E> failure() const& { return {error()}; }
  Failed<E> failure() && { return {std::move(*this).error()}; }

 private:
  std::variant<T, E> state_;
};

// Success carries nothing; only the failure says something.
template <typename E>
class Result<void, E> {
 public:
  Result() = default;
  template <typename F>
  requires std::is_constructible_v<E, F&&> Result(Failed<F> failed) : failed_(true), error_(std::move(failed.error)) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }

  const E& error() const& { return error_; }
  E&& error() && { return std::move(error_); }

  Failed<E> failure() const& { return {error_}; }
  Failed<E> failure() && { return {std::move(error_)}; }

 private:
  bool failed_ = false;
  E error_{};
};

}  // namespace quorvane
