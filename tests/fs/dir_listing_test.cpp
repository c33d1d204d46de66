#include "fs/directory_reader.h"

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
#include "fs/fs_test_support.h"
#include "support/hooked_reader.h"
#include "support/reference_listing.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

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

std::string identity(const FileId& file) { return std::to_string(file.device) + ":" + std::to_string(file.inode); }

Row row_of(std::string name, const EntryMetadata& m) {
  return {std::move(name), identity(m.file), m.size, m.allocated, m.modified, m.links, m.directory};
}

Listed from_reference(const test::ReferenceListing& listing) {
  Listed listed{{}, listing.errors, listing.skipped};
  for (const test::ReferenceEntry& e : listing.entries) listed.rows.push_back(row_of(e.name, e.metadata));
  return listed;
}

Listed from_compact(const CompactListing& listing) {
  Listed listed{{}, listing.errors, listing.skipped};
  for (const ListedEntry& e : listing.entries) listed.rows.push_back(row_of(std::string(listing.name(e)), e.metadata));
  return listed;
}

// Every way the engine can list a directory; all must agree with the reference listing.
struct Reader {
  std::string label;
  const DirectoryReader& reader;
  bool in_parts = false;  // each part decoded into a listing of its own
};

void PrintTo(const Reader& c, std::ostream* out) { *out << c.label; }

const std::vector<Reader>& all_readers() {
  static const std::vector<Reader> readers = {
      {"fast reader", fast_directory_reader()},
      {"portable reader", portable_directory_reader()},
      {"fast reader in parts", fast_directory_reader(), true},
      {"portable reader in parts", portable_directory_reader(), true},
  };
  return readers;
}

// Reads a directory part by part; each part is decoded into a listing of its own.
Listed list_in_parts(const DirectoryReader& reader, const std::string& path, std::size_t* part_count = nullptr) {
  Listed listed{{}, 0, 0};
  const auto directory = reader.open(AT_FDCWD, path);
  if (!directory) {
    listed.errors = 1;
    return listed;
  }
  RawPart raw;
  std::size_t parts = 0;
  for (;;) {
    if (!directory->read_part(raw)) {
      listed.errors = 1;
      break;
    }
    if (raw.filled == 0) break;
    ++parts;
    CompactListing part;
    directory->decode_part(raw, part);
    const Listed decoded = from_compact(part);
    listed.rows.insert(listed.rows.end(), decoded.rows.begin(), decoded.rows.end());
    listed.errors += decoded.errors;
    listed.skipped += decoded.skipped;
  }
  if (part_count) *part_count = parts;
  return listed;
}

Listed list_with(const Reader& reader, const std::string& path) {
  if (reader.in_parts) return list_in_parts(reader.reader, path);
  RawPart raw;
  return from_compact(list_directory(reader.reader, path, raw));
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
  bool opens;  // false: the directory cannot be opened
};

void PrintTo(const Fixture& c, std::ostream* out) { *out << c.label; }

std::vector<std::string> many_names() {
  // About 160 KiB of directory records: more than two 64 KiB getdents buffers
  // (long names keep the number of files to create small).
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) names.push_back("entry-" + std::to_string(i) + "-" + std::string(230, 'x'));
  return names;
}

// Names of every length a name can have, twice: over 64 KiB of records, so the
// second read lands on the first one's bytes and every record's padding holds
// whatever an earlier record left there.
std::vector<std::string> names_of_every_length() {
  std::vector<std::string> names;
  for (const char letter : {'a', 'b'}) {
    for (std::size_t length = 1; length <= NAME_MAX; ++length) names.push_back(std::string(length, letter));
  }
  return names;
}

std::vector<Fixture> fixtures() {
  std::vector<ExpectedEntry> many;
  for (const auto& name : many_names()) many.push_back({name, false});
  many.push_back({"subdir", true});
  std::vector<ExpectedEntry> every_length;
  for (const auto& name : names_of_every_length()) every_length.push_back({name, false});
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
      {"names of every length from 1 to NAME_MAX bytes",
       [](const TempDir& d) {
         d.make_dir("lengths");
         for (const auto& name : names_of_every_length()) d.write_file("lengths/" + name, "");
         return d / "lengths";
       },
       every_length, 0, 0, true},
      {"a directory path with a trailing separator",
       [](const TempDir& d) {
         d.write_file("dir/file", "x");
         return d / "dir/";
       },
       {{"file", false}}, 0, 0, true},
      {"a symlink to a directory is not followed: it cannot be opened",
       [](const TempDir& d) {
         d.write_file("real/file", "x");
         return d.make_symlink("alias", d / "real");
       },
       {}, 0, 1, false},
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
  const Listed reference = from_reference(test::list_reference(path));
  for (const Reader& reader : all_readers()) {
    EXPECT_EQ(list_with(reader, path), reference) << reader.label << " differs from the reference listing";
  }
  EXPECT_EQ(test::open_descriptor_count(), descriptors_before) << "a reader left a descriptor open";

  const Listed& listed = reference;
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

  for (const Reader& reader : all_readers()) {
    EXPECT_EQ(reader.reader.open(AT_FDCWD, path) != nullptr, fixture.opens) << reader.label;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EveryReader, ::testing::ValuesIn(fixtures()),
                         [](const auto& param) { return test::test_name(param.param.label); });

// ---- directories the unprivileged user may not read ----

struct PermissionCase {
  std::string label;
  mode_t mode;
  std::string expected;  // per reader and for the reference: "entries skipped errors"
  bool opens;
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
    std::vector<Listed> listings{from_reference(test::list_reference(path))};
    for (const Reader& reader : all_readers()) {
      listings.push_back(list_with(reader, path));
      out << reader.label << (reader.reader.open(AT_FDCWD, path) ? " opens\n" : " cannot open\n");
    }
    for (const Listed& listed : listings) {
      out << listed.rows.size() << " " << listed.skipped << " " << listed.errors << "\n";
    }
    if (test::open_descriptor_count() != descriptors_before) out << "a descriptor was left open\n";
    return out.str();
  });
  std::string expected;
  for (const Reader& reader : all_readers()) expected += reader.label + (c.opens ? " opens\n" : " cannot open\n");
  for (std::size_t i = 0; i <= all_readers().size(); ++i) expected += c.expected;
  EXPECT_EQ(text, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, UnreadableDirectory,
    ::testing::Values(PermissionCase{"no permission at all gives one error", 0000, "0 0 1\n", false},
                      PermissionCase{"search without read gives one error", 0111, "0 0 1\n", false},
                      PermissionCase{"read without search skips every entry", 0444, "0 2 0\n", true}),
    [](const auto& param) { return test::test_name(param.param.label); });

// ---- entries that change between listing and stat ----

// Removes "b", turns "c" into a symlink and "d" into a directory.
void change_entries(const std::string& directory) {
  const std::string base = directory + "/";
  ::unlink((base + "b").c_str());
  ::unlink((base + "c").c_str());
  ::symlink("a", (base + "c").c_str());
  ::unlink((base + "d").c_str());
  ::mkdir((base + "d").c_str(), 0755);
}

class ChangingDirectory : public ::testing::TestWithParam<Reader> {};

TEST_P(ChangingDirectory, CountsVanishedAndReplacedEntriesAsTheirStatShowsThem) {
  const TempDir dir;
  for (const char* name : {"a", "b", "c", "d"}) dir.write_file(std::string("dir/") + name, "x");
  const std::string path = dir / "dir";
  int changes = 0;
  const test::HookedReader hooked(GetParam().reader, [&](std::string_view) {
    if (changes++ == 0) change_entries(path);
  });
  const Reader reader{GetParam().label, hooked, GetParam().in_parts};

  const int descriptors_before = test::open_descriptor_count();
  const Listed listed = list_with(reader, path);
  ASSERT_EQ(changes, 1);
  EXPECT_EQ(test::open_descriptor_count(), descriptors_before);
  // "b" vanished and "c" is now a link: both seen, neither admitted. A reader
  // that started over would not see "b" at all and count one skip.
  EXPECT_EQ(listed.skipped, 2u) << listed;
  EXPECT_EQ(listed.errors, 0u);
  std::vector<std::pair<std::string, bool>> actual;
  for (const auto& row : listed.rows) actual.emplace_back(row.name, row.directory);
  std::sort(actual.begin(), actual.end());
  EXPECT_EQ(actual, (std::vector<std::pair<std::string, bool>>{{"a", false}, {"d", true}}));
  for (const auto& row : listed.rows) EXPECT_EQ(row.identity, test::lstat_identity(path + "/" + row.name));
}

INSTANTIATE_TEST_SUITE_P(Readers, ChangingDirectory, ::testing::ValuesIn(all_readers()),
                         [](const auto& param) { return test::test_name(param.param.label); });

// ---- whether an open directory is the one listed ----

class DirectoryIdentity : public ::testing::TestWithParam<Reader> {};

// With its own first part (the fast reader finds the directory's own entry
// there) and with a part that lacks it or belongs to another directory (the
// system is asked), an open directory is its own object and no other one.
TEST_P(DirectoryIdentity, IsTheObjectItWasOpenedOnWhateverItsFirstPartHolds) {
  const TempDir dir;
  dir.write_file("mine/a", "x");
  dir.write_file("other/b", "y");
  const FileId mine = test::lstat_file_id(dir / "mine");
  const FileId other = test::lstat_file_id(dir / "other");
  const auto directory = GetParam().reader.open(AT_FDCWD, dir / "mine");
  ASSERT_TRUE(directory);
  RawPart own;
  ASSERT_TRUE(directory->read_part(own));
  ASSERT_GT(own.filled, 0);
  RawPart none;  // read nothing
  const auto elsewhere = GetParam().reader.open(AT_FDCWD, dir / "other");
  ASSERT_TRUE(elsewhere);
  RawPart others;
  ASSERT_TRUE(elsewhere->read_part(others));

  for (const RawPart* first : {&own, &none, &others}) {
    EXPECT_TRUE(directory->is_object(mine, *first));
  }
  for (const RawPart* first : {&own, &none}) EXPECT_FALSE(directory->is_object(other, *first));
  // Asked, the system tells the device as well.
  EXPECT_FALSE(directory->is_object(FileId{mine.device + 1, mine.inode}, none));
}

INSTANTIATE_TEST_SUITE_P(Readers, DirectoryIdentity, ::testing::ValuesIn(all_readers()),
                         [](const auto& param) { return test::test_name(param.param.label); });

// ---- choosing the reader ----

struct ChoiceCase {
  std::string label;
  bool standard_readdir;
  bool portable;
};

void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.label; }

class ReaderChoice : public ::testing::TestWithParam<ChoiceCase> {};

// The switch picks the portable reader; both readers stat names relative to
// the open directory, so a file whose full path exceeds PATH_MAX is listed
// alike by either.
TEST_P(ReaderChoice, TheSwitchSelectsThePortableReader) {
  const ChoiceCase& c = GetParam();
  const DirectoryReader& chosen = directory_reader_for(c.standard_readdir);
  EXPECT_EQ(&chosen == &portable_directory_reader(), c.portable);
  EXPECT_EQ(&chosen == &fast_directory_reader(), !c.portable);

  const TempDir dir;
  const test::LongPathTree tree(dir);
  ASSERT_GT(tree.directory().size() + 1 + tree.name().size(), std::size_t{PATH_MAX});
  RawPart raw;
  const Listed listed = from_compact(list_directory(chosen, tree.directory(), raw));
  EXPECT_EQ(listed.errors, 0u);
  EXPECT_EQ(listed.skipped, 0u);
  ASSERT_EQ(listed.rows.size(), 1u);
  EXPECT_EQ(listed.rows[0].name, tree.name());
  EXPECT_FALSE(listed.rows[0].directory);
}

INSTANTIATE_TEST_SUITE_P(Switch, ReaderChoice,
                         ::testing::Values(ChoiceCase{"off uses the fast reader", false, false},
                                           ChoiceCase{"on uses the portable reader", true, true}),
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
    if (reader.in_parts) continue;
    RawPart raw;
    const CompactListing listing = list_directory(reader.reader, path, raw);
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
  const auto parted = fast_directory_reader().open(AT_FDCWD, path);
  ASSERT_TRUE(parted);
  RawPart raw;
  ASSERT_TRUE(parted->read_part(raw));
  CompactListing part;
  parted->decode_part(raw, part);
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
  const Listed in_parts = list_in_parts(fast_directory_reader(), path, &parts);
  EXPECT_GT(parts, 2u);
  EXPECT_EQ(in_parts, from_reference(test::list_reference(path)));
  EXPECT_EQ(in_parts.rows.size(), 2001u);
  EXPECT_EQ(in_parts.skipped, 1u);

  // Parts read in turn but decoded by two threads at once agree too.
  std::vector<RawPart> raw_parts(parts);
  std::vector<CompactListing> decoded(parts);
  {
    const auto directory = fast_directory_reader().open(AT_FDCWD, path);
    ASSERT_TRUE(directory);
    for (RawPart& raw : raw_parts) ASSERT_TRUE(directory->read_part(raw) && raw.filled > 0);
    RawPart end;
    ASSERT_TRUE(directory->read_part(end));
    EXPECT_EQ(end.filled, 0);
    std::thread odd([&] {
      for (std::size_t i = 1; i < parts; i += 2) directory->decode_part(raw_parts[i], decoded[i]);
    });
    for (std::size_t i = 0; i < parts; i += 2) directory->decode_part(raw_parts[i], decoded[i]);
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
