#include "fs/directory_cursor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/descriptors.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

FileId identity_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

FileId identity_of(int fd) {
  struct stat st {};
  EXPECT_EQ(::fstat(fd, &st), 0);
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The steps from the top of dir down to the relative path `names`, keyed by depth
// plus `key_base` (one key per directory of the walk).
struct Way {
  std::vector<std::string> names;
  std::vector<DirectoryStep> steps;
};

Way way_to(const TempDir& dir, const std::vector<std::string>& names, std::uint64_t key_base) {
  Way way{names, {}};
  std::string path = dir.path();
  for (std::size_t i = 0; i < way.names.size(); ++i) {
    path += "/" + way.names[i];
    way.steps.push_back({key_base + i, way.names[i], identity_of(path)});
  }
  return way;
}

class CursorTree : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"x/y/one/f", "x/y/two/f", "x/y/three/f"}) dir.write_file(file, "1");
    top = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(top, 0);
  }
  void TearDown() override { ::close(top); }

  TempDir dir;
  int top = -1;
};

TEST_F(CursorTree, ADirectoryReachedThroughItsCheckedAncestorsIsTheOneListed) {
  const int before = test::open_descriptor_count();
  {
    DirectoryCursor cursor(top, 8);
    const Way way = way_to(dir, {"x", "y", "one"}, 1);
    const UniqueFd fd = cursor.open(way.steps);
    ASSERT_GE(fd.get(), 0) << std::strerror(errno);
    EXPECT_EQ(identity_of(fd.get()), identity_of(dir / "x/y/one"));
  }
  EXPECT_EQ(test::open_descriptor_count(), before);
}

TEST_F(CursorTree, AParentAnotherCursorOfTheWalkHoldsIsUsedAndTheTargetStillChecked) {
  const int before = test::open_descriptor_count();
  {
    HeldDirectories shared(16);
    DirectoryCursor first(top, 8, &shared);
    DirectoryCursor second(top, 8, &shared);
    const Way one = way_to(dir, {"x", "y", "one"}, 1);
    const Way two = way_to(dir, {"x", "y", "two"}, 1);
    Way three = way_to(dir, {"x", "y", "three"}, 1);
    ASSERT_GE(first.open(one.steps).get(), 0);

    // The way from the top by name is gone: only the held parent leads on.
    ASSERT_EQ(::rename((dir / "x").c_str(), (dir / "x-moved").c_str()), 0);
    const UniqueFd fd = second.open(two.steps);
    ASSERT_GE(fd.get(), 0) << std::strerror(errno);
    EXPECT_EQ(identity_of(fd.get()), identity_of(dir / "x-moved/y/two"));

    // A target that is another directory now is refused, parent held or not.
    three.steps.back().file = identity_of(dir / "x-moved/y/one");
    errno = 0;
    EXPECT_LT(second.open(three.steps).get(), 0);
    EXPECT_EQ(errno, ESTALE);

    // Without the shared holder the moved way cannot be walked.
    DirectoryCursor alone(top, 8);
    EXPECT_LT(alone.open(two.steps).get(), 0);
  }
  EXPECT_EQ(test::open_descriptor_count(), before);
}

}  // namespace
}  // namespace qm
