#include "index/entry_lookup.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "index/indexed_tree.h"

namespace qm {
namespace {

using test::IndexedTree;

// A test name made from a case's description.
template <class Case>
std::string description_name(const ::testing::TestParamInfo<Case>& param_info) {
  std::string name = param_info.param.description;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

struct stat lstat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

std::string identity_of(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string identity_of(const FileId& file) { return std::to_string(file.device) + ":" + std::to_string(file.inode); }

TEST(LookupEntry, DescribesAFileWithItsIndexedValuesPathAndIdentity) {
  IndexedTree tree;
  tree.dir.write_file("docs/notes.txt", "hello");
  test::set_mtime(tree.dir / "docs/notes.txt", 1700000000, 123456789);
  tree.index();
  const EntryId docs = tree.id_of("docs");
  const EntryId notes = tree.id_of("docs/notes.txt");
  const struct stat st = lstat_of(tree.dir / "docs/notes.txt");

  auto found = lookup_entry(tree.table, notes);
  ASSERT_TRUE(found) << found.error();
  EXPECT_EQ(found->id, notes);
  EXPECT_EQ(found->parent, docs);
  EXPECT_EQ(found->name, "notes.txt");
  EXPECT_EQ(found->path, tree.dir / "docs/notes.txt");
  EXPECT_EQ(identity_of(found->metadata.file), identity_of(st));
  EXPECT_EQ(found->metadata.size, 5u);
  EXPECT_EQ(found->metadata.allocated, static_cast<std::uint64_t>(st.st_blocks) * 512);
  EXPECT_EQ(found->metadata.modified, 1700000000123456789u);
  EXPECT_EQ(found->metadata.links, 1u);
  EXPECT_FALSE(found->metadata.directory);
}

TEST(LookupEntry, DescribesTheRootWithoutParentAndWithTheRootPathAndSubtreeTotals) {
  IndexedTree tree;
  tree.dir.write_file("a.bin", std::string(300, 'a'));
  tree.dir.write_file("sub/b.bin", std::string(200, 'b'));
  tree.index();

  auto root = lookup_entry(tree.table, 0);
  ASSERT_TRUE(root) << root.error();
  EXPECT_EQ(root->parent, kNoEntry);
  EXPECT_EQ(root->path, tree.dir.path());
  EXPECT_TRUE(root->metadata.directory);
  EXPECT_EQ(root->metadata.size, 500u);
  EXPECT_EQ(identity_of(root->metadata.file), identity_of(lstat_of(tree.dir.path())));
}

TEST(LookupEntry, GivesTheStoredFileIdAndLinksWhateverTheirSize) {
  Index index;
  index.reset("/data", "analysis");
  EntryMetadata root;
  root.file = {UINT64_MAX, UINT64_MAX - 1};
  root.links = std::uint64_t{1} << 40;  // beyond the table's 32-bit field
  root.directory = true;
  index.add(kNoEntry, "data", root);
  auto found = lookup_entry(index, 0);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->metadata.file, (FileId{UINT64_MAX, UINT64_MAX - 1}));
  EXPECT_EQ(found->metadata.links, std::uint64_t{1} << 40);
  EXPECT_EQ(found->name, "data");
  EXPECT_EQ(found->path, "/data");
}

struct LookupFailureCase {
  const char* description;
  std::uint64_t id;  // kRemovedFile stands for the id of the removed file
  const char* expected;
};

std::ostream& operator<<(std::ostream& out, const LookupFailureCase& c) { return out << c.description; }

constexpr std::uint64_t kRemovedFile = std::numeric_limits<std::uint64_t>::max();

class LookupFailure : public ::testing::TestWithParam<LookupFailureCase> {};

TEST_P(LookupFailure, ReportsTheReason) {
  IndexedTree tree;
  tree.dir.write_file("gone.txt", "x");
  tree.dir.write_file("kept.txt", "y");
  tree.index();
  const EntryId gone = tree.id_of("gone.txt");
  tree.table.take_out(gone);
  const std::uint64_t id = GetParam().id == kRemovedFile ? gone : GetParam().id;

  auto found = lookup_entry(tree.table, id);
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LookupFailure,
    ::testing::Values(LookupFailureCase{"removed", kRemovedFile, "Item was removed"},
                      LookupFailureCase{"one past the end", 3, "Unknown index entry"},
                      LookupFailureCase{"the none marker", 0xFFFFFFFFu, "Unknown index entry"},
                      LookupFailureCase{"beyond 32 bits", std::uint64_t{1} << 32, "Unknown index entry"},
                      LookupFailureCase{"largest id", std::numeric_limits<std::uint64_t>::max() - 1,
                                        "Unknown index entry"}),
    description_name<LookupFailureCase>);

std::vector<std::string> names_of(const std::vector<Item>& page) {
  std::vector<std::string> names;
  for (const auto& m : page) names.push_back(m.name);
  return names;
}

struct PageCase {
  std::uint64_t offset;
  std::size_t limit;
  std::vector<std::string> expected;
};

std::ostream& operator<<(std::ostream& out, const PageCase& c) {
  return out << "offset " << c.offset << ", limit " << c.limit;
}

class CollectEntryPage : public ::testing::TestWithParam<PageCase> {};

// ids: a, b, removed, c, unknown, d
TEST_P(CollectEntryPage, SkipsOffsetIdsAndCountsFailedLookupsTowardsTheLimit) {
  IndexedTree tree;
  for (const char* name : {"a", "b", "removed", "c", "d"}) tree.dir.write_file(name, name);
  tree.index();
  tree.table.take_out(tree.id_of("removed"));
  const std::vector<EntryId> ids{tree.id_of("a"), tree.id_of("b"), tree.id_of("removed"),
                                 tree.id_of("c"), 999,            tree.id_of("d")};
  const auto page = collect_entry_page(tree.table, ids, GetParam().offset, GetParam().limit);
  EXPECT_EQ(names_of(page), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CollectEntryPage,
    ::testing::Values(PageCase{0, 2, {"a", "b"}}, PageCase{1, 2, {"b"}}, PageCase{2, 3, {"c"}},
                      PageCase{0, 100, {"a", "b", "c", "d"}}, PageCase{5, 100, {"d"}}, PageCase{6, 100, {}},
                      PageCase{1000, 100, {}}, PageCase{std::numeric_limits<std::uint64_t>::max(), 100, {}},
                      PageCase{4, std::numeric_limits<std::size_t>::max(), {"d"}}, PageCase{0, 0, {}}));

// --- revalidation against the disk ---

struct RevalidationCase {
  const char* description;
  const char* item;  // relative path of the looked-up item
  std::function<void(const test::TempDir&)> change;
  const char* expected_error;  // nullptr: revalidation passes
};

std::ostream& operator<<(std::ostream& out, const RevalidationCase& c) { return out << c.description; }

class RevalidateEntry : public ::testing::TestWithParam<RevalidationCase> {};

TEST_P(RevalidateEntry, ChecksTheItemAndEveryDirectoryAboveIt) {
  IndexedTree tree;
  tree.dir.write_file("photos/2024/beach.jpg", "sand and sea");
  tree.dir.write_file("photos/2024/dunes.jpg", "more sand");
  test::set_mtime(tree.dir / "photos/2024/beach.jpg", 1600000000, 5);
  tree.index();
  const EntryId id = tree.id_of(GetParam().item);
  ASSERT_NE(id, kNoEntry);
  const auto indexed = lookup_entry(tree.table, id);
  ASSERT_TRUE(indexed);

  GetParam().change(tree.dir);
  auto result = revalidate_entry(tree.table, id);
  if (GetParam().expected_error == nullptr) {
    ASSERT_TRUE(result) << result.error();
    // The indexed values come back, not the fresh ones.
    EXPECT_EQ(result->path, indexed->path);
    EXPECT_EQ(result->metadata.file, indexed->metadata.file);
    EXPECT_EQ(result->metadata.size, indexed->metadata.size);
  } else {
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), GetParam().expected_error);
  }
}

void replace_with_new_file(const test::TempDir& dir, const std::string& relative, const std::string& content) {
  // Written beside it and renamed over it, so the new file cannot reuse the old inode.
  dir.write_file(relative + ".new", content);
  ASSERT_EQ(::rename((dir / relative + ".new").c_str(), (dir / relative).c_str()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RevalidateEntry,
    ::testing::Values(
        RevalidationCase{"unchanged file", "photos/2024/beach.jpg", [](const test::TempDir&) {}, nullptr},
        RevalidationCase{"unchanged root", "", [](const test::TempDir&) {}, nullptr},
        RevalidationCase{"directory that gained files", "photos",
                         [](const test::TempDir& d) { d.write_file("photos/new.jpg", std::string(5000, 'n')); },
                         nullptr},
        RevalidationCase{"file with a new modification time", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) { test::set_mtime(d / "photos/2024/beach.jpg", 1600000000, 6); },
                         "Item changed since scan; scan again"},
        RevalidationCase{"file with a new size and the old time", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) {
                           d.write_file("photos/2024/beach.jpg", "sand and sea and shells");
                           test::set_mtime(d / "photos/2024/beach.jpg", 1600000000, 5);
                         },
                         "Item changed since scan; scan again"},
        RevalidationCase{"file replaced by another with the same size and time", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) {
                           replace_with_new_file(d, "photos/2024/beach.jpg", "SAND AND SEA");
                           test::set_mtime(d / "photos/2024/beach.jpg", 1600000000, 5);
                         },
                         "Item changed since scan; scan again"},
        RevalidationCase{"directory replaced by a file", "photos/2024",
                         [](const test::TempDir& d) {
                           test::remove_tree(d / "photos/2024");
                           d.write_file("photos/2024", "");
                         },
                         "Item changed since scan; scan again"},
        RevalidationCase{"deleted file", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) { ::unlink((d / "photos/2024/beach.jpg").c_str()); },
                         "No such file or directory (os error 2)"},
        RevalidationCase{"deleted parent directory", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) { test::remove_tree(d / "photos/2024"); },
                         "No such file or directory (os error 2)"},
        RevalidationCase{"file replaced by a symbolic link to a copy", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) {
                           ::rename((d / "photos/2024/beach.jpg").c_str(), (d / "beach-copy.jpg").c_str());
                           d.make_symlink("photos/2024/beach.jpg", d / "beach-copy.jpg");
                         },
                         "Path changed or became a link"},
        RevalidationCase{"parent directory replaced by a symbolic link", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) {
                           // The item is still reachable through the link, and still the same file.
                           ::rename((d / "photos/2024").c_str(), (d / "moved-2024").c_str());
                           d.make_symlink("photos/2024", d / "moved-2024");
                         },
                         "Path changed or became a link"},
        RevalidationCase{"grandparent directory replaced by a symbolic link", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) {
                           ::rename((d / "photos").c_str(), (d / "moved-photos").c_str());
                           d.make_symlink("photos", d / "moved-photos");
                         },
                         "Path changed or became a link"},
        RevalidationCase{"file replaced by a FIFO", "photos/2024/beach.jpg",
                         [](const test::TempDir& d) {
                           ::unlink((d / "photos/2024/beach.jpg").c_str());
                           ASSERT_EQ(::mkfifo((d / "photos/2024/beach.jpg").c_str(), 0644), 0);
                         },
                         "link, placeholder or special file"}),
    description_name<RevalidationCase>);

TEST(RevalidateEntry, ReportsLookupFailuresBeforeTouchingTheDisk) {
  IndexedTree tree;
  tree.dir.write_file("a.txt", "a");
  tree.index();
  const EntryId a = tree.id_of("a.txt");
  tree.table.take_out(a);
  // Even with the file gone from disk the lookup error wins.
  ::unlink((tree.dir / "a.txt").c_str());
  auto removed = revalidate_entry(tree.table, a);
  ASSERT_FALSE(removed);
  EXPECT_EQ(removed.error(), "Item was removed");
  auto unknown = revalidate_entry(tree.table, 77);
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error(), "Unknown index entry");
}

// Runs fn in a child process that has dropped to the unprivileged uid/gid 65534
// and returns the text it wrote.
std::string run_unprivileged(const std::function<std::string()>& fn) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string text = "could not drop privileges";
    if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
        ::setresuid(65534, 65534, 65534) == 0) {
      text = fn();
    }
    const ssize_t written = ::write(fds[1], text.data(), text.size());
    ::_exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  ::close(fds[1]);
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return text;
}

TEST(RevalidateEntry, ReportsTheOsErrorWhenAnAncestorCannotBeSearched) {
  IndexedTree tree;
  tree.dir.write_file("private/inner/secret.txt", "s");
  tree.index();
  const EntryId secret = tree.id_of("private/inner/secret.txt");
  const EntryId open_file_dir = tree.id_of("private");
  ASSERT_EQ(::chmod(tree.dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod((tree.dir / "private").c_str(), 0700), 0);

  const std::string text = run_unprivileged([&] {
    auto locked = revalidate_entry(tree.table, secret);
    auto visible = revalidate_entry(tree.table, open_file_dir);
    return (locked ? std::string("passed") : locked.error()) + "|" + (visible ? "passed" : visible.error());
  });
  // The directory itself can still be examined; what lies inside it cannot.
  EXPECT_EQ(text, "Permission denied (os error 13)|passed");
}

}  // namespace
}  // namespace qm
