#pragma once
#include <string>
#include <string_view>

#include "query/unicode_lower.h"

namespace qm {

// Case-insensitive containment of a search text in file names: both sides go
// through the Unicode default lowercase mapping, then the lowered search text
// must occur in the lowered name as a contiguous substring.
class NameSearch {
 public:
  explicit NameSearch(std::string_view search);

  // True when there is nothing to search for (every name matches).
  bool empty() const { return needle_.empty(); }
  // Not const: it lowercases into scratch space.
  bool matches(std::string_view name);

 private:
  std::string needle_;
  Lowercaser lowercaser_;
};

}  // namespace qm
