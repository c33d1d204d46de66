#include "fs/dir_listing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/utf8.h"
#include "fs/directory_parts.h"
#include "fs/fast_reader.h"
#include "fs/fs_test_support.h"
#include "fs/listing_hook.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::ScopedEnv;
using test::TempDir;
using test::kStandardReaddirVariable;

constexpr EntryId kParent = 7;

// One listed entry, in the one shape all readers can be compared in.
struct Row {
  std::string name;
  std::string identity;
  std::uint64_t size;
  std::uint64_t allocated;
  std::uint64_t modified;
  std::uint64_t links;
  bool directory;
  bool operator==(const Row&) const = default;
};

struct Listed {
  std::vector<Row> rows;
  std::uint64_t errors;
  std::uint64_t skipped;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& listed) {
  out << "errors=" << listed.errors << " skipped=" << listed.skipped << " [";
  for (const Row& row : listed.rows) {
    out << " " << row.name << (row.directory ? "/" : "") << " " << row.identity << " size=" << row.size
        << " alloc=" << row.allocated << " mtime=" << row.modified << " links=" << row.links << ";";
  }
  return out << " ]";
}

Listed from_full(const DirListing& listing) {
  Listed listed{{}, listing.errors, listing.skipped};
  for (const EntryMetadata& m : listing.entries) {
    listed.rows.push_back({m.name, m.identity, m.size, m.allocated, m.modified, m.links, m.directory});
  }
  return listed;
}

Listed from_compact(const CompactListing& listing) {
  Listed listed{{}, listing.errors, listing.skipped};
  for (const ListedEntry& e : listing.entries) {
    listed.rows.push_back({std::string(listing.name(e)), std::to_string(e.device) + ":" + std::to_string(e.inode),
                           e.size, e.allocated, e.modified, e.links, e.directory});
  }
  return listed;
}

// Every way the engine can list a directory; all must agree.
struct Reader {
  std::string label;
  std::optional<std::string> standard_readdir;  // value of the variable; nullopt leaves it unset
  bool compact;
  bool in_parts = false;  // read a buffer-full at a time, each part decoded on its own
};

void PrintTo(const Reader& c, std::ostream* out) { *out << c.label; }

const std::vector<Reader>& all_readers() {
  static const std::vector<Reader> readers = {
      {"fast reader", std::nullopt, false},
      {"portable reader", "", false},
      {"fast reader, compact", std::nullopt, true},
      {"portable reader, compact", "", true},
      {"reader in parts", std::nullopt, true, true},
  };
  return readers;
}

// Reads a directory part by part; each part is decoded into a listing of its own.
Listed list_in_parts(const std::string& path, std::size_t* part_count = nullptr) {
  Listed listed{{}, 0, 0};
  PartedDirectory directory(path);
  if (!directory.is_open()) {
    listed.errors = 1;
    return listed;
  }
  RawPart raw;
  std::size_t parts = 0;
  for (;;) {
    if (!directory.read_part(raw)) {
      listed.errors = 1;
      break;
    }
    if (raw.filled == 0) break;
    ++parts;
    CompactListing part;
    directory.decode_part(raw, part);
    const Listed decoded = from_compact(part);
    listed.rows.insert(listed.rows.end(), decoded.rows.begin(), decoded.rows.end());
    listed.errors += decoded.errors;
    listed.skipped += decoded.skipped;
  }
  if (part_count) *part_count = parts;
  return listed;
}

// Lists with one reader; full listings are also checked for path, parent and id.
Listed list_with(const Reader& reader, const std::string& path) {
  const ScopedEnv env(kStandardReaddirVariable, reader.standard_readdir);
  if (reader.in_parts) return list_in_parts(path);
  if (reader.compact) return from_compact(list_directory_compact(path));
  const DirListing listing = list_directory(path, kParent);
  for (const EntryMetadata& m : listing.entries) {
    EXPECT_EQ(m.path, lossy_utf8(path) + (path.back() == '/' ? "" : "/") + m.name) << reader.label;
    EXPECT_EQ(m.parent, std::optional<EntryId>(kParent)) << reader.label;
    EXPECT_EQ(m.id, 0u) << reader.label;
  }
  return from_full(listing);
}

// ---- fixtures listed by every reader ----

struct ExpectedEntry {
  std::string raw_name;  // as on disk
  bool directory;
};

struct Fixture {
  std::string label;
  std::function<std::string(const TempDir&)> make;  // builds the tree, returns the directory to list
  std::vector<ExpectedEntry> entries;               // in any order
  std::uint64_t skipped;
  std::uint64_t errors;
  bool fast_reader_reads_it;  // false: the fast reader declines and the portable one answers
};

void PrintTo(const Fixture& c, std::ostream* out) { *out << c.label; }

std::vector<std::string> many_names() {
  // About 160 KiB of directory records: more than two 64 KiB getdents buffers
  // (long names keep the number of files to create small).
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) names.push_back("entry-" + std::to_string(i) + "-" + std::string(230, 'x'));
  return names;
}

std::vector<Fixture> fixtures() {
  std::vector<ExpectedEntry> many;
  for (const auto& name : many_names()) many.push_back({name, false});
  many.push_back({"subdir", true});
  return {
      {"an empty directory", [](const TempDir& d) { return d.make_dir("empty"); }, {}, 0, 0, true},
      {"a file, a subdirectory and a symlink give two records and one skip",
       [](const TempDir& d) {
         d.write_file("dir/file", "hello");
         d.make_dir("dir/sub");
         d.make_symlink("dir/link", "file");
         return d / "dir";
       },
       {{"file", false}, {"sub", true}}, 1, 0, true},
      {"FIFOs, sockets, devices and links of every kind are skipped",
       [](const TempDir& d) {
         d.write_file("dir/file", "x");
         d.make_dir("dir/target");
         test::make_fifo(d / "dir/fifo");
         test::make_socket(d / "dir/sock");
         test::make_char_device(d / "dir/null");
         d.make_symlink("dir/to-dir", d / "dir/target");
         d.make_symlink("dir/dangling", d / "nowhere");
         return d / "dir";
       },
       {{"file", false}, {"target", true}}, 5, 0, true},
      {"names that are not UTF-8 are listed with U+FFFD",
       [](const TempDir& d) {
         d.write_file("dir/bad\xFF", "abc");
         d.write_file("dir/good", "abcd");
         d.make_dir("dir/sub\xC3");
         return d / "dir";
       },
       {{"bad\xFF", false}, {"good", false}, {"sub\xC3", true}}, 0, 0, true},
      {"sizes, blocks, hard links and times come through",
       [](const TempDir& d) {
         d.write_file("dir/empty", "");
         d.make_sparse_file("dir/sparse", 5'000'000'000ull);
         const auto file = d.write_file("dir/data", std::string(10000, 'd'));
         ::link(file.c_str(), (d / "dir/hardlink").c_str());
         test::set_mtime(file, 1600000000, 42);
         test::set_mtime(d / "dir/empty", -5, 0);
         return d / "dir";
       },
       {{"empty", false}, {"sparse", false}, {"data", false}, {"hardlink", false}}, 0, 0, true},
      {"a directory larger than one read buffer",
       [](const TempDir& d) {
         d.make_dir("big/subdir");
         for (const auto& name : many_names()) d.write_file("big/" + name, "");
         return d / "big";
       },
       many, 0, 0, true},
      {"a directory path with a trailing separator",
       [](const TempDir& d) {
         d.write_file("dir/file", "x");
         return d / "dir/";
       },
       {{"file", false}}, 0, 0, true},
      {"a directory reached through a symlink",
       [](const TempDir& d) {
         d.write_file("real/file", "x");
         return d.make_symlink("alias", d / "real");
       },
       {{"file", false}}, 0, 0, true},
      {"a removed directory cannot be opened",
       [](const TempDir& d) {
         const auto path = d.make_dir("gone");
         ::rmdir(path.c_str());
         return path;
       },
       {}, 0, 1, false},
      {"a file is not a directory", [](const TempDir& d) { return d.write_file("file", "x"); }, {}, 0, 1, false},
      {"a path longer than PATH_MAX cannot be opened",
       [](const TempDir& d) {
         std::string path = d.path();
         while (path.size() <= PATH_MAX) path += "/" + std::string(200, 'p');
         return path;
       },
       {}, 0, 1, false},
      {"a path with a NUL byte cannot be opened",
       [](const TempDir& d) { return d.make_dir("dir") + std::string("\0x", 2); }, {}, 0, 1, false},
  };
}

class EveryReader : public ::testing::TestWithParam<Fixture> {};

TEST_P(EveryReader, ListsTheSameEntriesInTheSameOrderWithTheSameCounts) {
  const Fixture& fixture = GetParam();
  const TempDir dir;
  const std::string path = fixture.make(dir);

  const int descriptors_before = test::open_descriptor_count();
  std::vector<Listed> results;
  for (const Reader& reader : all_readers()) results.push_back(list_with(reader, path));
  EXPECT_EQ(test::open_descriptor_count(), descriptors_before) << "a reader left a descriptor open";
  for (std::size_t i = 1; i < results.size(); ++i) {
    EXPECT_EQ(results[i], results[0]) << all_readers()[i].label << " differs from " << all_readers()[0].label;
  }

  const Listed& listed = results[0];
  EXPECT_EQ(listed.errors, fixture.errors);
  EXPECT_EQ(listed.skipped, fixture.skipped);
  std::vector<std::pair<std::string, bool>> expected, actual;
  for (const auto& e : fixture.entries) expected.emplace_back(lossy_utf8(e.raw_name), e.directory);
  for (const auto& row : listed.rows) actual.emplace_back(row.name, row.directory);
  std::sort(expected.begin(), expected.end());
  std::sort(actual.begin(), actual.end());
  EXPECT_EQ(actual, expected);

  // Each record as lstat sees the object.
  const std::string prefix = path.back() == '/' ? path : path + "/";
  for (const auto& e : fixture.entries) {
    const std::string name = lossy_utf8(e.raw_name);
    const auto row = std::find_if(listed.rows.begin(), listed.rows.end(), [&](const Row& r) { return r.name == name; });
    if (row == listed.rows.end()) continue;  // already reported above
    const struct stat st = test::lstat_of(prefix + e.raw_name);
    EXPECT_EQ(row->identity, test::lstat_identity(prefix + e.raw_name)) << name;
    EXPECT_EQ(row->links, static_cast<std::uint64_t>(st.st_nlink)) << name;
    EXPECT_EQ(row->size, e.directory ? 0 : static_cast<std::uint64_t>(st.st_size)) << name;
    EXPECT_EQ(row->allocated, e.directory ? 0 : static_cast<std::uint64_t>(st.st_blocks) * 512) << name;
    const std::uint64_t mtime = st.st_mtim.tv_sec < 0 ? 0
                                                      : static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                                                            static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
    EXPECT_EQ(row->modified, mtime) << name;
  }

  // The fast reader really reads what it can, and declines the rest.
  EXPECT_EQ(read_directory_fast(path, kParent).ok(), fixture.fast_reader_reads_it);
  EXPECT_EQ(read_directory_fast_compact(path).ok(), fixture.fast_reader_reads_it);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EveryReader, ::testing::ValuesIn(fixtures()),
                         [](const auto& param) { return test::test_name(param.param.label); });

// ---- directories the unprivileged user may not read ----

struct PermissionCase {
  std::string label;
  mode_t mode;
  std::string expected;  // per reader: "entries skipped errors"
};

void PrintTo(const PermissionCase& c, std::ostream* out) { *out << c.label; }

class UnreadableDirectory : public ::testing::TestWithParam<PermissionCase> {};

TEST_P(UnreadableDirectory, GivesTheSameCountsWithEveryReader) {
  const PermissionCase& c = GetParam();
  const TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  dir.write_file("locked/one", "1");
  dir.write_file("locked/two", "22");
  const std::string path = dir / "locked";
  ::chmod(path.c_str(), c.mode);

  const std::string text = test::run_unprivileged([&] {
    std::ostringstream out;
    const int descriptors_before = test::open_descriptor_count();
    for (const Reader& reader : all_readers()) {
      const Listed listed = list_with(reader, path);
      out << listed.rows.size() << " " << listed.skipped << " " << listed.errors << "\n";
    }
    out << "fast reader " << (read_directory_fast_compact(path).ok() ? "reads" : "declines") << "\n";
    if (test::open_descriptor_count() != descriptors_before) out << "a descriptor was left open\n";
    return out.str();
  });
  std::string expected;
  for (std::size_t i = 0; i < all_readers().size(); ++i) expected += c.expected;
  EXPECT_EQ(text, expected + "fast reader declines\n");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, UnreadableDirectory,
    ::testing::Values(PermissionCase{"no permission at all gives one error", 0000, "0 0 1\n"},
                      PermissionCase{"search without read gives one error", 0111, "0 0 1\n"},
                      PermissionCase{"read without search skips every entry", 0444, "0 2 0\n"}),
    [](const auto& param) { return test::test_name(param.param.label); });

// ---- entries that change between listing and stat ----

std::string g_changing_directory;
bool g_changed = false;

// Removes "b", turns "c" into a symlink and "d" into a directory, once.
void change_entries(std::string_view directory) {
  if (g_changed || directory != g_changing_directory) return;
  g_changed = true;
  const std::string base = g_changing_directory + "/";
  ::unlink((base + "b").c_str());
  ::unlink((base + "c").c_str());
  ::symlink("a", (base + "c").c_str());
  ::unlink((base + "d").c_str());
  ::mkdir((base + "d").c_str(), 0755);
}

class ListingHookScope {
 public:
  explicit ListingHookScope(ListingHook hook) { set_listing_hook(hook); }
  ~ListingHookScope() { set_listing_hook(nullptr); }
  ListingHookScope(const ListingHookScope&) = delete;
  ListingHookScope& operator=(const ListingHookScope&) = delete;
};

class ChangingDirectory : public ::testing::TestWithParam<Reader> {};

TEST_P(ChangingDirectory, CountsVanishedAndReplacedEntriesAsTheirStatShowsThem) {
  const TempDir dir;
  for (const char* name : {"a", "b", "c", "d"}) dir.write_file(std::string("dir/") + name, "x");
  g_changing_directory = dir / "dir";
  g_changed = false;
  const ListingHookScope hook(change_entries);

  const int descriptors_before = test::open_descriptor_count();
  const Listed listed = list_with(GetParam(), g_changing_directory);
  ASSERT_TRUE(g_changed);
  EXPECT_EQ(test::open_descriptor_count(), descriptors_before);
  // "b" vanished and "c" is now a link: both seen, neither admitted. A reader
  // that started over would not see "b" at all and count one skip.
  EXPECT_EQ(listed.skipped, 2u) << listed;
  EXPECT_EQ(listed.errors, 0u);
  std::vector<std::pair<std::string, bool>> actual;
  for (const auto& row : listed.rows) actual.emplace_back(row.name, row.directory);
  std::sort(actual.begin(), actual.end());
  EXPECT_EQ(actual, (std::vector<std::pair<std::string, bool>>{{"a", false}, {"d", true}}));
  for (const auto& row : listed.rows) EXPECT_EQ(row.identity, test::lstat_identity(g_changing_directory + "/" + row.name));
}

INSTANTIATE_TEST_SUITE_P(Readers, ChangingDirectory, ::testing::ValuesIn(all_readers()),
                         [](const auto& param) { return test::test_name(param.param.label); });

// ---- choosing the reader ----

// A file whose full path exceeds PATH_MAX while its directory's does not: the
// fast reader stats it relative to the open directory and admits it, the
// portable reader's lstat of the full path fails and skips it. That difference
// shows which reader ran.
class LongPathTree {
 public:
  explicit LongPathTree(const TempDir& dir) : directory_(dir.path()) {
    while (directory_.size() + 201 <= PATH_MAX - 50) {
      directory_ += "/" + std::string(200, 'd');
      ::mkdir(directory_.c_str(), 0755);
    }
    const int dir_fd = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int fd = ::openat(dir_fd, name_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
    ::close(dir_fd);
  }
  ~LongPathTree() {
    // Too long for the temp dir's own clean-up.
    const int dir_fd = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::unlinkat(dir_fd, name_.c_str(), 0);
    ::close(dir_fd);
  }
  LongPathTree(const LongPathTree&) = delete;
  LongPathTree& operator=(const LongPathTree&) = delete;
  const std::string& directory() const { return directory_; }
  const std::string& name() const { return name_; }

 private:
  std::string directory_;
  std::string name_ = std::string(250, 'f');
};

struct ChoiceCase {
  std::string label;
  std::optional<std::string> value;
  bool portable;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.label; }

class ReaderChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ReaderChoice, FollowsTheEnvironmentOnEveryCall) {
  const ChoiceCase& c = GetParam();
  const TempDir dir;
  const LongPathTree tree(dir);
  ASSERT_GT(tree.directory().size() + 1 + tree.name().size(), std::size_t{PATH_MAX});

  const ScopedEnv env(kStandardReaddirVariable, c.value);
  const DirListing full = list_directory(tree.directory(), kParent);
  const CompactListing compact = list_directory_compact(tree.directory());
  for (const Listed& listed : {from_full(full), from_compact(compact)}) {
    EXPECT_EQ(listed.errors, 0u);
    EXPECT_EQ(listed.skipped, c.portable ? 1u : 0u);
    ASSERT_EQ(listed.rows.size(), c.portable ? 0u : 1u);
    if (!c.portable) {
      EXPECT_EQ(listed.rows[0].name, tree.name());
      EXPECT_FALSE(listed.rows[0].directory);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Environment, ReaderChoice,
                         ::testing::Values(ChoiceCase{"unset uses the fast reader", std::nullopt, false},
                                           ChoiceCase{"empty forces the portable reader", "", true},
                                           ChoiceCase{"any value forces the portable reader", "0", true}),
                         [](const auto& param) { return test::test_name(param.param.label); });

// The text form of a name that is not UTF-8 cannot be opened; compact
// listings keep the bytes themselves for the paths the engine opens.
TEST(CompactListing, KeepsTheBytesOfNamesThatAreNotText) {
  const TempDir dir;
  dir.write_file("dir/bad\xFF", "abc");
  dir.write_file("dir/good", "abcd");
  dir.make_dir("dir/sub\xC3");
  const std::string path = dir / "dir";
  for (const Reader& reader : all_readers()) {
    if (!reader.compact || reader.in_parts) continue;
    const ScopedEnv env(kStandardReaddirVariable, reader.standard_readdir);
    const CompactListing listing = list_directory_compact(path);
    ASSERT_EQ(listing.entries.size(), 3u) << reader.label;
    std::vector<std::pair<std::string, std::string>> names;  // text, bytes
    for (std::size_t i = 0; i < listing.entries.size(); ++i) {
      names.emplace_back(listing.name(listing.entries[i]), listing.os_name(i));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::pair<std::string, std::string>>{
                         {"bad\xEF\xBF\xBD", "bad\xFF"}, {"good", "good"}, {"sub\xEF\xBF\xBD", "sub\xC3"}}))
        << reader.label;
    EXPECT_EQ(listing.raw_names.size(), 2u) << reader.label;
  }
  // And so does a directory read in parts.
  PartedDirectory parted(path);
  RawPart raw;
  ASSERT_TRUE(parted.read_part(raw));
  CompactListing part;
  parted.decode_part(raw, part);
  ASSERT_EQ(part.raw_names.size(), 2u);
  for (const RawName& name : part.raw_names) {
    EXPECT_TRUE(name.bytes == "bad\xFF" || name.bytes == "sub\xC3") << name.bytes;
    EXPECT_EQ(part.os_name(name.entry), name.bytes);
  }
}

TEST(DirectoryInParts, AHugeDirectorySpansSeveralPartsThatTogetherGiveTheWholeListing) {
  const TempDir dir;
  const std::string padding(120, 'n');
  for (int i = 0; i < 2000; ++i) dir.write_file("big/" + std::to_string(i) + padding, std::string(i % 5, 'x'));
  dir.make_dir("big/sub");
  dir.make_symlink("big/link", dir / "big/sub");
  const std::string path = dir / "big";

  const int descriptors_before = test::open_descriptor_count();
  std::size_t parts = 0;
  const Listed in_parts = list_in_parts(path, &parts);
  EXPECT_GT(parts, 2u);
  EXPECT_EQ(in_parts, from_compact(list_directory_compact(path)));
  EXPECT_EQ(in_parts.rows.size(), 2001u);
  EXPECT_EQ(in_parts.skipped, 1u);

  // Parts read in turn but decoded by two threads at once agree too.
  std::vector<RawPart> raw_parts(parts);
  std::vector<CompactListing> decoded(parts);
  {
    PartedDirectory directory(path);
    for (RawPart& raw : raw_parts) ASSERT_TRUE(directory.read_part(raw) && raw.filled > 0);
    RawPart end;
    ASSERT_TRUE(directory.read_part(end));
    EXPECT_EQ(end.filled, 0);
    std::thread odd([&] {
      for (std::size_t i = 1; i < parts; i += 2) directory.decode_part(raw_parts[i], decoded[i]);
    });
    for (std::size_t i = 0; i < parts; i += 2) directory.decode_part(raw_parts[i], decoded[i]);
    odd.join();
  }
  Listed together{{}, 0, 0};
  for (const CompactListing& part : decoded) {
    const Listed listed = from_compact(part);
    together.rows.insert(together.rows.end(), listed.rows.begin(), listed.rows.end());
    together.skipped += listed.skipped;
  }
  EXPECT_EQ(together, in_parts);
  EXPECT_EQ(test::open_descriptor_count(), descriptors_before);
}

TEST(JoinPath, AddsOneSeparatorUnlessThePathEndsInOne) {
  EXPECT_EQ(join_path("/a", "b"), "/a/b");
  EXPECT_EQ(join_path("/a/", "b"), "/a/b");
  EXPECT_EQ(join_path("/", "b"), "/b");
  EXPECT_EQ(join_path("a//", "b"), "a//b");
}

}  // namespace
}  // namespace qm
