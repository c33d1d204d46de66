#include "fs/directory_cursor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "support/descriptors.h"
#include "support/file_ids.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

// The steps from the top of dir down to the relative path `names` (the steps'
// names point into them). A step's key is its depth: the ways of these tests
// share their ancestors, and only ancestors are held.
struct Way {
  std::vector<std::string> names;
  std::vector<DirectoryStep> steps;
};

Way way_to(const TempDir& dir, const std::vector<std::string>& names) {
  Way way{names, {}};
  std::string path = dir.path();
  for (std::size_t i = 0; i < way.names.size(); ++i) {
    path += "/" + way.names[i];
    way.steps.push_back({i, way.names[i], test::lstat_file_id(path)});
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
    const Way way = way_to(dir, {"x", "y", "one"});
    const UniqueFd fd = cursor.open(way.steps);
    ASSERT_GE(fd.get(), 0) << std::strerror(errno);
    EXPECT_EQ(test::fstat_file_id(fd.get()), test::lstat_file_id(dir / "x/y/one"));
  }
  EXPECT_EQ(test::open_descriptor_count(), before);
}

TEST_F(CursorTree, AParentAnotherCursorOfTheWalkHoldsIsUsedAndTheTargetStillChecked) {
  const int before = test::open_descriptor_count();
  {
    HeldDirectories shared(16);
    DirectoryCursor first(top, 8, &shared);
    DirectoryCursor second(top, 8, &shared);
    const Way one = way_to(dir, {"x", "y", "one"});
    const Way two = way_to(dir, {"x", "y", "two"});
    Way three = way_to(dir, {"x", "y", "three"});
    ASSERT_GE(first.open(one.steps).get(), 0);

    // The way from the top by name is gone: only the held parent leads on.
    ASSERT_EQ(::rename((dir / "x").c_str(), (dir / "x-moved").c_str()), 0);
    const UniqueFd fd = second.open(two.steps);
    ASSERT_GE(fd.get(), 0) << std::strerror(errno);
    EXPECT_EQ(test::fstat_file_id(fd.get()), test::lstat_file_id(dir / "x-moved/y/two"));

    // A target that is another directory now is refused, parent held or not.
    three.steps.back().file = test::lstat_file_id(dir / "x-moved/y/one");
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
