// The portable reader: the directory stream (readdir) and one lstat per entry,
// of its name relative to the stream's descriptor, so the kernel resolves one
// name and no path length limit applies. A part is as many names as fit the
// part buffer.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/unique_fd.h"
#include "fs/descriptor_reader.h"
#include "fs/directory_cursor.h"
#include "fs/stat_record.h"

namespace qm {
namespace {

// Room a part keeps for one more name and its NUL.
constexpr std::size_t kNameRoom = sizeof(dirent::d_name) + 1;

class StreamDirectory final : public OpenDirectory {
 public:
  explicit StreamDirectory(UniqueFd fd) {
    dir_ = ::fdopendir(fd.get());
    if (dir_) {
      fd_ = fd.release();  // the stream's from here: closedir closes it
    }
  }
  ~StreamDirectory() override {
    if (dir_) ::closedir(dir_);
  }
  StreamDirectory(const StreamDirectory&) = delete;
  StreamDirectory& operator=(const StreamDirectory&) = delete;

  bool ok() const { return dir_ != nullptr; }

  bool is_object(const FileId& file, const RawPart&) const override { return descriptor_is(fd_, file); }

  int descriptor() const override { return fd_; }

  // A part holds names, each with its NUL, back to back.
  bool read_part(RawPart& raw) override {
    raw.filled = 0;
    if (failed_) return false;
    if (ended_) return true;
    char* out = reinterpret_cast<char*>(raw.bytes.get());
    std::size_t used = 0;
    while (RawPart::kCapacity - used >= kNameRoom) {
      errno = 0;
      const dirent* item = ::readdir(dir_);
      if (!item) {
        // A failed read ends the directory; the names read before it still count.
        if (errno != 0) {
          failed_ = true;
          if (used == 0) return false;
        }
        ended_ = true;
        break;
      }
      const char* name = item->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      const std::size_t length = std::strlen(name) + 1;
      std::memcpy(out + used, name, length);
      used += length;
    }
    raw.filled = static_cast<long>(used);
    return true;
  }

  void decode_part(RawPart& raw, CompactListing& out) const override {
    const char* names = reinterpret_cast<const char*>(raw.bytes.get());
    for (long at = 0; at < raw.filled;) {
      const std::string_view name(names + at);
      at += static_cast<long>(name.size()) + 1;
      struct stat st;
      if (::fstatat(fd_, name.data(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !stat_is_admitted(st)) {
        ++out.skipped;
        continue;
      }
      if (!add_listed_entry(out, name, st)) ++out.skipped;
    }
  }

 private:
  DIR* dir_ = nullptr;
  int fd_ = -1;  // the stream's descriptor, for the stats relative to it
  bool ended_ = false;
  bool failed_ = false;  // the stream reported a read error: the next read reports it
};

}  // namespace

const DirectoryReader& portable_directory_reader() {
  static const DescriptorReader<StreamDirectory> reader;
  return reader;
}

}  // namespace qm
