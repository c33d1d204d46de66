#include "index/entry_place.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "index/entry_lookup.h"
#include "index/indexed_tree.h"
#include "support/descriptors.h"

namespace qm {
namespace {

using test::IndexedTree;

std::string identity_of_descriptor(int fd) {
  struct stat st {};
  EXPECT_EQ(::fstat(fd, &st), 0);
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string identity_of_path(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

TEST(OpenedDirectories, AnEntryBelowAHeldDirectoryIsReachedFromItWithoutWalkingFromTheTop) {
  IndexedTree tree;
  tree.dir.write_file("a/b/c/one.bin", "1");
  tree.dir.write_file("a/b/c/two.bin", "2");
  tree.index();
  const std::string c_identity = identity_of_path(tree.dir / "a/b/c");
  OpenedDirectories opened;

  auto first = open_entry_parent(tree.table, tree.id_of("a/b/c/one.bin"), &opened);
  ASSERT_TRUE(first) << first.error();
  EXPECT_EQ(first->name, "one.bin");
  EXPECT_EQ(opened.size(), 4u);  // the root, a, a/b and a/b/c
  ASSERT_NE(opened.find(tree.id_of("a/b/c")), nullptr);

  // With the way from the top gone, only the held directory can still reach the file.
  ASSERT_EQ(::rename((tree.dir / "a").c_str(), (tree.dir / "elsewhere").c_str()), 0);
  auto second = open_entry_parent(tree.table, tree.id_of("a/b/c/two.bin"), &opened);
  ASSERT_TRUE(second) << second.error();
  EXPECT_EQ(second->name, "two.bin");
  EXPECT_EQ(identity_of_descriptor(second->directory_fd()), c_identity);
  auto unheld = open_entry_parent(tree.table, tree.id_of("a/b/c/two.bin"));
  ASSERT_FALSE(unheld);
  EXPECT_EQ(unheld.error(), "No such file or directory (os error 2)");
}

struct BelowHeldCase {
  const char* description;
  const char* entry;  // reached after a/held.bin has been
  void (*change)(const test::TempDir&);
  const char* expected_error;
};

class BelowAHeldDirectory : public ::testing::TestWithParam<BelowHeldCase> {};

// Holding a directory spares checks only of what was checked: every directory
// opened below a held one is checked as on a walk from the top.
TEST_P(BelowAHeldDirectory, DirectoriesNotYetHeldAreCheckedOnTheWayDown) {
  IndexedTree tree;
  tree.dir.write_file("a/held.bin", "h");
  tree.dir.write_file("a/sub/inner.bin", "i");
  tree.dir.write_file("x/other.bin", "o");
  tree.index();
  OpenedDirectories opened;
  ASSERT_TRUE(open_entry_parent(tree.table, tree.id_of("a/held.bin"), &opened));
  const EntryId entry = tree.id_of(GetParam().entry);

  GetParam().change(tree.dir);
  auto place = open_entry_parent(tree.table, entry, &opened);
  ASSERT_FALSE(place);
  EXPECT_EQ(place.error(), GetParam().expected_error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BelowAHeldDirectory,
    ::testing::Values(
        BelowHeldCase{"SubdirectoryReplacedByALink", "a/sub/inner.bin",
                      [](const test::TempDir& d) {
                        ASSERT_EQ(::rename((d / "a/sub").c_str(), (d / "moved-sub").c_str()), 0);
                        d.make_symlink("a/sub", d / "moved-sub");
                      },
                      "Path changed or became a link"},
        BelowHeldCase{"SubdirectoryReplacedByAnother", "a/sub/inner.bin",
                      [](const test::TempDir& d) {
                        ASSERT_EQ(::rename((d / "a/sub").c_str(), (d / "moved-sub").c_str()), 0);
                        d.write_file("a/sub/inner.bin", "i");
                      },
                      "Item changed since scan; scan again"},
        BelowHeldCase{"SiblingOfTheHeldDirectoryReplacedByALink", "x/other.bin",
                      [](const test::TempDir& d) {
                        ASSERT_EQ(::rename((d / "x").c_str(), (d / "moved-x").c_str()), 0);
                        d.make_symlink("x", d / "moved-x");
                      },
                      "Path changed or became a link"}),
    [](const auto& param_info) { return std::string(param_info.param.description); });

TEST(OpenedDirectories, HoldsAtMostItsCapacityAndLetsTheLeastRecentlyUsedGo) {
  IndexedTree tree;
  constexpr std::size_t kCapacity = 12;
  const std::size_t directories = kCapacity + 8;
  for (std::size_t i = 0; i < directories; ++i) tree.dir.write_file("d" + std::to_string(i) + "/f", "f");
  tree.index();
  const int descriptors_before = test::open_descriptor_count();
  {
    OpenedDirectories opened(kCapacity);
    for (std::size_t i = 0; i < directories; ++i) {
      auto place = open_entry_parent(tree.table, tree.id_of("d" + std::to_string(i) + "/f"), &opened);
      ASSERT_TRUE(place) << place.error();
    }
    EXPECT_EQ(opened.size(), kCapacity);
    EXPECT_EQ(test::open_descriptor_count(), descriptors_before + static_cast<int>(kCapacity));
    // The root was used for every directory: it stays; the first directories went.
    EXPECT_NE(opened.find(0), nullptr);
    EXPECT_EQ(opened.find(tree.id_of("d0")), nullptr);
    EXPECT_NE(opened.find(tree.id_of("d" + std::to_string(directories - 1))), nullptr);

    // A descriptor handed out stays open after the holder lets it go.
    auto place = open_entry_parent(tree.table, tree.id_of("d5/f"), &opened);
    ASSERT_TRUE(place);
    opened.clear();
    EXPECT_EQ(opened.size(), 0u);
    EXPECT_EQ(identity_of_descriptor(place->directory_fd()), identity_of_path(tree.dir / "d5"));
  }
  EXPECT_EQ(test::open_descriptor_count(), descriptors_before);
}

// Held directories count against the descriptor limit; when they use it up,
// the walk lets them go and still reaches every entry.
TEST(OpenedDirectories, AWalkThatRunsOutOfDescriptorsLetsTheHeldOnesGoAndSucceeds) {
  IndexedTree tree;
  constexpr int kDirectories = 40;
  for (int i = 0; i < kDirectories; ++i) tree.dir.write_file("d" + std::to_string(i) + "/f", "f");
  tree.index();
  std::vector<EntryId> files;
  for (int i = 0; i < kDirectories; ++i) files.push_back(tree.id_of("d" + std::to_string(i) + "/f"));

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Room for a few more descriptors than are open now: far fewer than the holder would keep.
    struct rlimit limit;
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(test::open_descriptor_count() + 6);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(2);
    OpenedDirectories opened(64);
    for (const EntryId file : files) {
      auto place = open_entry_parent(tree.table, file, &opened);
      if (!place || place->name != "f") ::_exit(3);
    }
    ::_exit(opened.size() < 64 ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: limit not set, 3: an entry not reached, 4: held more than the limit allows";
}

TEST(OpenedDirectories, HoldsAQuarterOfTheDescriptorLimitWithinBounds) {
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const struct { rlim_t soft; std::size_t capacity; } cases[] = {{1024, 256}, {256, 64}, {40, 16}, {100000, 256}};
  for (const auto& c : cases) {
    if (c.soft > saved.rlim_max) continue;  // cannot be raised here; the others still run
    struct rlimit limit = saved;
    limit.rlim_cur = c.soft;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_EQ(OpenedDirectories().capacity(), c.capacity) << "soft limit " << c.soft;
  }
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
}

}  // namespace
}  // namespace qm
