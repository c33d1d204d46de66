#include "query/name_search.h"

namespace qm {

NameSearch::NameSearch(std::string_view search) : needle_(unicode_lower(search)) {}

bool NameSearch::matches(std::string_view name) {
  if (needle_.empty()) return true;
  return lowercaser_.lower(name).find(needle_) != std::string_view::npos;
}

}  // namespace qm
