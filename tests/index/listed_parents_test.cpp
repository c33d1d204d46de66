#include "index/listed_parents.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "support/descriptors.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

std::unique_ptr<OpenDirectory> open_listed(const TempDir& dir, const std::string& name) {
  auto directory = fast_directory_reader().open(AT_FDCWD, dir.make_dir(name));
  EXPECT_NE(directory, nullptr) << name;
  return directory;
}

// The inode of the directory a descriptor names.
ino_t inode_of(int fd) {
  struct stat st = {};
  EXPECT_EQ(::fstat(fd, &st), 0);
  return st.st_ino;
}

TEST(ListedParents, FindsWhatItHoldsAndClosesEveryParentBeforeTheOneAskedFor) {
  const TempDir dir;
  const int before = test::open_descriptor_count();
  {
    ListedParents parents(8);
    for (const int key : {3, 5, 9}) ASSERT_TRUE(parents.hold(key, open_listed(dir, "d" + std::to_string(key))));
    EXPECT_EQ(test::open_descriptor_count(), before + 3);
    EXPECT_FALSE(parents.hold(5, open_listed(dir, "again"))) << "a key held twice";
    EXPECT_EQ(test::open_descriptor_count(), before + 3);

    const auto five = parents.find(5);
    ASSERT_NE(five, nullptr);
    struct stat st = {};
    ASSERT_EQ(::stat((dir / "d5").c_str(), &st), 0);
    EXPECT_EQ(inode_of(five->descriptor()), st.st_ino);
    EXPECT_EQ(parents.find(4), nullptr);
    EXPECT_EQ(parents.find(10), nullptr);

    parents.release_before(9);
    EXPECT_EQ(parents.size(), 1u);
    EXPECT_EQ(parents.find(3), nullptr);
    EXPECT_EQ(parents.find(5), nullptr);
    EXPECT_NE(parents.find(9), nullptr);
    // d3 is closed; d5 stays open while the finder keeps it.
    EXPECT_EQ(test::open_descriptor_count(), before + 2);
  }
  EXPECT_EQ(test::open_descriptor_count(), before);
}

TEST(ListedParents, ADirectoryOverCapacityIsClosedNotHeld) {
  const TempDir dir;
  const int before = test::open_descriptor_count();
  ListedParents parents(2);
  EXPECT_TRUE(parents.hold(1, open_listed(dir, "one")));
  EXPECT_TRUE(parents.hold(2, open_listed(dir, "two")));
  EXPECT_FALSE(parents.hold(3, open_listed(dir, "three")));
  EXPECT_EQ(parents.find(3), nullptr);
  EXPECT_EQ(test::open_descriptor_count(), before + 2);
  parents.release_before(3);
  EXPECT_EQ(parents.size(), 0u);
  EXPECT_TRUE(parents.hold(3, open_listed(dir, "three-again")));
  EXPECT_EQ(test::open_descriptor_count(), before + 1);

  ListedParents none(0);
  EXPECT_FALSE(none.hold(1, open_listed(dir, "four")));
  EXPECT_EQ(test::open_descriptor_count(), before + 1);
}

// Half of what the walk's other descriptors leave of the limit, or what was
// asked for when that is less; none when the others take it all.
TEST(ListedParents, TheCapacityLeavesRoomForEveryOtherDescriptor) {
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct rlimit lowered = saved;
  lowered.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const std::size_t halved = listed_parents_capacity(16384, 324);
  const std::size_t asked = listed_parents_capacity(40, 324);
  const std::size_t all_taken = listed_parents_capacity(16384, 1024);
  const std::size_t more_than_all = listed_parents_capacity(16384, 5000);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(halved, 350u);
  EXPECT_EQ(asked, 40u);
  EXPECT_EQ(all_taken, 0u);
  EXPECT_EQ(more_than_all, 0u);
}

}  // namespace
}  // namespace qm
