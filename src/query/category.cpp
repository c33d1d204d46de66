#include "query/category.h"

namespace qm {

CategoryTable::CategoryTable(const std::vector<Category>& categories) {
  for (const Category& category : categories) {
    const std::size_t slot = names_.size();
    names_.push_back(category.name);
    for (const std::string& extension : category.extensions) by_extension_.try_emplace(extension, slot);
  }
  const auto other = find_slot(kOtherCategory);
  if (other) {
    other_slot_ = *other;
  } else {
    other_slot_ = names_.size();
    names_.emplace_back(kOtherCategory);
  }
}

std::size_t CategoryTable::slot_of(std::string_view name) {
  if (by_extension_.empty()) return other_slot_;
  const auto found = by_extension_.find(lowercaser_.lower(file_extension(name)));
  return found == by_extension_.end() ? other_slot_ : found->second;
}

std::optional<std::size_t> CategoryTable::find_slot(std::string_view category) const {
  for (std::size_t slot = 0; slot < names_.size(); ++slot) {
    if (names_[slot] == category) return slot;
  }
  return std::nullopt;
}

std::string_view file_extension(std::string_view name) {
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

}  // namespace qm
