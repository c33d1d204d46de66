#pragma once
#include <string>
#include <string_view>

namespace qm::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(std::string_view relative) const;

  // Helpers that create test trees below path(); relative paths, parents created as needed.
  std::string make_dir(std::string_view relative) const;
  std::string write_file(std::string_view relative, std::string_view content) const;
  std::string make_sparse_file(std::string_view relative, unsigned long long size) const;
  std::string make_symlink(std::string_view relative, std::string_view target) const;

 private:
  std::string path_;
};

// Sets a file's modification time (seconds and nanoseconds since the epoch).
void set_mtime(const std::string& path, long long seconds, long nanoseconds = 0);

// Removes a tree (no symlink following); ignores errors.
void remove_tree(const std::string& path);

}  // namespace qm::test
