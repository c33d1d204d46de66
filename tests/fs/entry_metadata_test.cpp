#include "fs/entry_metadata.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/os_error.h"
#include "common/utf8.h"
#include "fs/fs_test_support.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;
using test::test_name;

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// ---- admitted objects ----

// Values a case pins down; everything else is checked against lstat.
struct Pinned {
  std::optional<std::uint64_t> size;
  std::optional<std::uint64_t> allocated;
  std::optional<std::uint64_t> modified;
  std::optional<std::uint64_t> links;
};

Pinned pin(std::optional<std::uint64_t> size = {}, std::optional<std::uint64_t> allocated = {},
           std::optional<std::uint64_t> modified = {}, std::optional<std::uint64_t> links = {}) {
  return Pinned{size, allocated, modified, links};
}

struct AdmittedCase {
  std::string label;
  std::function<std::string(const TempDir&)> make;  // builds the object, returns the path to stat
  std::function<std::string(const std::string& path)> expected_name;
  bool directory;
  Pinned pinned;
};

void PrintTo(const AdmittedCase& c, std::ostream* out) { *out << c.label; }

std::function<std::string(const std::string&)> named(std::string name) {
  return [name](const std::string&) { return name; };
}
std::string whole_path(const std::string& path) { return path; }

std::string file_with_mtime(const TempDir& dir, long long seconds, long nanoseconds) {
  const std::string path = dir.write_file("timed", "x");
  test::set_mtime(path, seconds, nanoseconds);
  return path;
}

std::vector<AdmittedCase> admitted_cases() {
  return {
      {"a regular file carries its size, time and one link",
       [](const TempDir& d) {
         const auto p = d.write_file("file.txt", "hello");
         test::set_mtime(p, 1700000000, 123456789);
         return p;
       },
       named("file.txt"), false, pin(5, {}, 1700000000123456789ull, 1)},
      {"a directory has size and allocated 0 whatever st_size says",
       [](const TempDir& d) {
         d.make_dir("dir/sub");
         return d / "dir";
       },
       named("dir"), true, pin(0, 0, {}, 3)},
      {"an empty file holds no blocks", [](const TempDir& d) { return d.write_file("empty", ""); }, named("empty"),
       false, pin(0, 0)},
      {"a sparse file has its logical size but no allocated bytes",
       [](const TempDir& d) { return d.make_sparse_file("sparse", 1ull << 30); }, named("sparse"), false,
       pin(1ull << 30, 0)},
      {"a name that is not UTF-8 is admitted and named with U+FFFD",
       [](const TempDir& d) { return d.write_file("bad\xFF\xFEname", "abc"); },
       named(std::string("bad") + kReplacement + kReplacement + "name"), false, pin(3)},
      {"the root is named by its whole path", [](const TempDir&) { return std::string("/"); }, whole_path, true,
       pin(0, 0)},
      {"a path ending in dot dot is named by its whole path",
       [](const TempDir& d) {
         d.make_dir("dir/sub");
         return d / "dir/sub/..";
       },
       whole_path, true, pin(0, 0)},
      {"trailing and repeated separators are ignored in the name",
       [](const TempDir& d) {
         d.make_dir("dir/sub");
         return d / "dir//sub//";
       },
       named("sub"), true, pin()},
      {"trailing dot components are ignored in the name",
       [](const TempDir& d) {
         d.make_dir("dir/sub");
         return d / "dir/sub/./.";
       },
       named("sub"), true, pin()},
      {"a time before 1970 becomes 0", [](const TempDir& d) { return file_with_mtime(d, -100, 0); },
       named("timed"), false, pin(1, {}, 0)},
      {"half a second before 1970 becomes 0", [](const TempDir& d) { return file_with_mtime(d, -1, 500000000); },
       named("timed"), false, pin(1, {}, 0)},
      {"the first nanosecond after 1970 stays", [](const TempDir& d) { return file_with_mtime(d, 0, 1); },
       named("timed"), false, pin(1, {}, 1)},
  };
}

class StatEntryAdmits : public ::testing::TestWithParam<AdmittedCase> {};

TEST_P(StatEntryAdmits, DescribesTheObjectAsLstatSeesIt) {
  const AdmittedCase& c = GetParam();
  const TempDir dir;
  const std::string path = c.make(dir);
  const struct stat st = test::lstat_of(path);

  auto result = stat_entry(path);
  ASSERT_TRUE(result.ok()) << result.error();
  const EntryMetadata& m = *result;
  // The name a scan gives an object at its root.
  EXPECT_EQ(lossy_utf8(entry_name_of(path)), c.expected_name(path));
  EXPECT_EQ(m.file, (FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}));
  EXPECT_EQ(m.directory, c.directory);
  EXPECT_EQ(m.links, static_cast<std::uint64_t>(st.st_nlink));
  if (c.directory) {
    EXPECT_EQ(m.size, 0u);
    EXPECT_EQ(m.allocated, 0u);
  } else {
    EXPECT_EQ(m.size, static_cast<std::uint64_t>(st.st_size));
    EXPECT_EQ(m.allocated, static_cast<std::uint64_t>(st.st_blocks) * 512);
  }
  if (c.pinned.size) {
    EXPECT_EQ(m.size, *c.pinned.size);
  }
  if (c.pinned.allocated) {
    EXPECT_EQ(m.allocated, *c.pinned.allocated);
  }
  if (c.pinned.modified) {
    EXPECT_EQ(m.modified, *c.pinned.modified);
  }
  if (c.pinned.links) {
    EXPECT_EQ(m.links, *c.pinned.links);
  }
}

INSTANTIATE_TEST_SUITE_P(Objects, StatEntryAdmits, ::testing::ValuesIn(admitted_cases()),
                         [](const auto& param) { return test_name(param.param.label); });

TEST(StatEntry, AFileTakesWholeBlocksForItsFewBytes) {
  const TempDir dir;
  const std::string path = dir.write_file("ten", "0123456789");
  auto result = stat_entry(path);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result->size, 10u);
  EXPECT_GE(result->allocated, 512u);
  EXPECT_EQ(result->allocated % 512, 0u);
}

// ---- refusals ----

struct RefusedCase {
  std::string label;
  std::function<std::string(const TempDir&)> make;
  std::string error;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.label; }

std::vector<RefusedCase> refused_cases() {
  const std::string not_admitted = kNotAdmittedError;
  return {
      {"a symbolic link to a directory",
       [](const TempDir& d) {
         d.make_dir("target");
         return d.make_symlink("link", d / "target");
       },
       not_admitted},
      {"a dangling symbolic link", [](const TempDir& d) { return d.make_symlink("link", d / "nowhere"); },
       not_admitted},
      {"a FIFO",
       [](const TempDir& d) {
         test::make_fifo(d / "fifo");
         return d / "fifo";
       },
       not_admitted},
      {"a socket",
       [](const TempDir& d) {
         test::make_socket(d / "sock");
         return d / "sock";
       },
       not_admitted},
      {"a character device",
       [](const TempDir& d) {
         test::make_char_device(d / "null");
         return d / "null";
       },
       not_admitted},
      {"an empty path", [](const TempDir&) { return std::string(); }, "No such file or directory (os error 2)"},
      {"a missing path", [](const TempDir& d) { return d / "missing"; }, "No such file or directory (os error 2)"},
      {"a path through a file", [](const TempDir& d) { return d.write_file("file", "x") + "/inside"; },
       "Not a directory (os error 20)"},
      {"a NUL byte inside the path", [](const TempDir& d) { return d.write_file("f", "x") + std::string("\0x", 2); },
       kNulByteError},
  };
}

class StatEntryRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(StatEntryRefuses, WithTheExpectedText) {
  const RefusedCase& c = GetParam();
  const TempDir dir;
  auto result = stat_entry(c.make(dir));
  ASSERT_FALSE(result.ok()) << c.label;
  EXPECT_EQ(result.error(), c.error) << c.label;
}

INSTANTIATE_TEST_SUITE_P(Objects, StatEntryRefuses, ::testing::ValuesIn(refused_cases()),
                         [](const auto& param) { return test_name(param.param.label); });

TEST(StatEntry, ReportsPermissionDeniedForAnUnsearchableParent) {
  const TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  dir.make_dir("locked");
  const std::string path = dir.write_file("locked/file", "x");
  ::chmod((dir / "locked").c_str(), 0700);
  const std::string text = test::run_unprivileged([&] {
    auto result = stat_entry(path);
    return result.ok() ? std::string("admitted") : result.error();
  });
  EXPECT_EQ(text, "Permission denied (os error 13)");
}

// ---- the pure rules ----

struct NameCase {
  std::string path;
  std::string name;
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << '"' << c.path << '"'; }

class EntryNameOf : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryNameOf, PicksTheLastOrdinaryComponent) {
  EXPECT_EQ(entry_name_of(GetParam().path), GetParam().name) << "path: " << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Paths, EntryNameOf,
                         ::testing::Values(NameCase{"/", "/"}, NameCase{"//", "//"}, NameCase{"/a", "a"},
                                           NameCase{"a", "a"}, NameCase{"a/b", "b"}, NameCase{"a/b/", "b"},
                                           NameCase{"a//b//", "b"}, NameCase{"a/b/.", "b"},
                                           NameCase{"a/b/./", "b"}, NameCase{"a/./b", "b"},
                                           NameCase{"./a", "a"}, NameCase{".", "."}, NameCase{"./", "./"},
                                           NameCase{"./.", "./."}, NameCase{"/.", "/."}, NameCase{"..", ".."},
                                           NameCase{"a/..", "a/.."}, NameCase{"a/../", "a/../"},
                                           NameCase{"a/../b", "b"}, NameCase{".hidden", ".hidden"},
                                           NameCase{"a/...", "..."}, NameCase{"a/b.", "b."}));

struct TimeCase {
  std::int64_t seconds;
  std::int64_t nanoseconds;
  std::uint64_t modified;
};

void PrintTo(const TimeCase& c, std::ostream* out) { *out << c.seconds << " s " << c.nanoseconds << " ns"; }

class ModifiedNanoseconds : public ::testing::TestWithParam<TimeCase> {};

TEST_P(ModifiedNanoseconds, FollowsTheTimeRule) {
  const TimeCase& c = GetParam();
  EXPECT_EQ(modified_nanoseconds(c.seconds, c.nanoseconds), c.modified) << c.seconds << "s " << c.nanoseconds << "ns";
}

INSTANTIATE_TEST_SUITE_P(
    Times, ModifiedNanoseconds,
    ::testing::Values(TimeCase{0, 0, 0}, TimeCase{0, 1, 1}, TimeCase{1, 999999999, 1999999999},
                      TimeCase{1700000000, 5, 1700000000000000005ull},
                      // A negative fraction borrows a second: -1 s - 0.5 s... lies before 1970.
                      TimeCase{0, -500000000, 0}, TimeCase{-1, 500000000, 0}, TimeCase{-100, 0, 0},
                      // Out-of-range nanoseconds cannot be a time.
                      TimeCase{5, 1000000000, 0}, TimeCase{5, -1, 0}, TimeCase{0, -1000000000, 0},
                      TimeCase{INT64_MIN, -1, 0},
                      // The last representable nanosecond, 2^64 - 1 (in 2554).
                      TimeCase{18446744073, 709551615, UINT64_MAX},
                      // Past 2^64 ns a time is not representable: 0, never the wrapped low bits.
                      TimeCase{18446744073, 709551616, 0}, TimeCase{18446744074, 0, 0},
                      TimeCase{INT64_MAX, 7, 0}));

}  // namespace
}  // namespace qm
