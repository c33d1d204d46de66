#pragma once
// A directory reader that runs a callback in the window between reading a
// directory's first names and looking at any of them, so a test can change
// the directory exactly there.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "fs/directory_reader.h"

namespace qm::test {

class HookedReader final : public DirectoryReader {
 public:
  // Called once per opened directory, with its path (as the walk names it), after its first part was read.
  using Hook = std::function<void(std::string_view directory)>;

  HookedReader(const DirectoryReader& inner, Hook hook) : inner_(inner), hook_(std::move(hook)) {}

  std::unique_ptr<OpenDirectory> adopt(UniqueFd fd, std::string_view path) const override {
    auto opened = inner_.adopt(std::move(fd), path);
    if (!opened) return nullptr;
    return std::make_unique<Hooked>(std::move(opened), std::string(path), hook_);
  }

 private:
  class Hooked final : public OpenDirectory {
   public:
    Hooked(std::unique_ptr<OpenDirectory> inner, std::string path, const Hook& hook)
        : inner_(std::move(inner)), path_(std::move(path)), hook_(hook) {}
    bool read_part(RawPart& raw) override {
      const bool read = inner_->read_part(raw);
      if (read && raw.filled > 0 && first_) {
        first_ = false;
        hook_(path_);
      }
      return read;
    }
    void decode_part(RawPart& raw, CompactListing& out) const override { inner_->decode_part(raw, out); }
    bool is_object(const FileId& file, const RawPart& first) const override { return inner_->is_object(file, first); }
    int descriptor() const override { return inner_->descriptor(); }

   private:
    std::unique_ptr<OpenDirectory> inner_;
    std::string path_;
    const Hook& hook_;
    bool first_ = true;
  };

  const DirectoryReader& inner_;
  Hook hook_;
};

}  // namespace qm::test
