// A value or the error string that explains why there is none. Every fallible step of
// image search reports its failure as the text the caller will eventually send back, so
// the error side is always a plain string.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quorvane::cv {

struct Error {
  std::string message;
};

inline Error error(std::string message) { return Error{std::move(message)}; }

template <typename T>
class Result {
public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error e) : state_(std::in_place_index<1>, std::move(e.message)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const std::string& error() const& { return std::get<1>(state_); }
  std::string&& error() && { return std::get<1>(std::move(state_)); }

private:
  std::variant<T, std::string> state_;
};

}  // namespace quorvane::cv
