#pragma once
#include <string>
#include <utility>
#include <variant>

namespace qm {

// The text a command (or a step of one) fails with; it reaches the front end word for word.
struct CommandError {
  std::string text;
};

// A value or the CommandError that took its place.
template <class T>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(CommandError error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const std::string& error() const { return std::get<1>(state_).text; }
  CommandError take_error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, CommandError> state_;
};

}  // namespace qm
