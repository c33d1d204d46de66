#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "query/unicode_lower.h"

namespace qm {

inline constexpr const char* kOtherCategory = "other";

// One category of a request: its name and its lowercase extensions.
struct Category {
  std::string name;
  std::vector<std::string> extensions;
};

// A request's category table, prepared once so that each file costs one hash
// lookup. Categories are numbered slots: the given ones in their order (the
// request's keys in byte order), then "other" unless one has that name already
// (unmatched files share its slot). An extension listed twice belongs to the
// first category that lists it.
class CategoryTable {
 public:
  explicit CategoryTable(const std::vector<Category>& categories);

  // The slot of a file name's category. Not const: it lowercases into scratch space.
  std::size_t slot_of(std::string_view name);

  std::size_t slot_count() const { return names_.size(); }
  const std::string& slot_name(std::size_t slot) const { return names_[slot]; }
  // The slot named exactly category, if any.
  std::optional<std::size_t> find_slot(std::string_view category) const;

 private:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };

  std::vector<std::string> names_;
  std::size_t other_slot_ = 0;
  // Extension -> slot of the first category (in key order) that lists it.
  std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> by_extension_;
  Lowercaser lowercaser_;
};

// The extension of a file name: the text after its last ".", empty without one
// (not lowercased).
std::string_view file_extension(std::string_view name);

}  // namespace qm
