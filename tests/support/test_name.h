#pragma once
#include <string>

namespace qm::test {

// A case label as a test name: "a file, named" -> "a_file_named".
inline std::string test_name(const std::string& label) {
  std::string name;
  for (const char ch : label) {
    const bool alnum = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    if (alnum) {
      name.push_back(ch);
    } else if (!name.empty() && name.back() != '_') {
      name.push_back('_');
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name;
}

}  // namespace qm::test
