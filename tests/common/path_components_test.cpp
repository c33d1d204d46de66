#include "common/path_components.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

struct ComponentCase {
  std::string path;
  std::string prefix;
  bool starts_with;
  bool same;
};

class PathComponentComparison : public ::testing::TestWithParam<ComponentCase> {};

TEST_P(PathComponentComparison, ComparesWholeComponentsIgnoringEmptyAndDotParts) {
  const ComponentCase& c = GetParam();
  EXPECT_EQ(starts_with_path_components(c.path, c.prefix), c.starts_with) << c.path << " vs " << c.prefix;
  EXPECT_EQ(same_path_components(c.path, c.prefix), c.same) << c.path << " vs " << c.prefix;
  EXPECT_EQ(same_path_components(c.prefix, c.path), c.same) << "symmetry: " << c.prefix << " vs " << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PathComponentComparison,
    ::testing::Values(ComponentCase{"/a/b", "/a/b", true, true},            //
                      ComponentCase{"/a/b/c", "/a/b", true, false},         //
                      ComponentCase{"/a/bc", "/a/b", false, false},         // partial name is no match
                      ComponentCase{"/a/b", "/a/bc", false, false},         //
                      ComponentCase{"/a/b", "/a/b/", true, true},           // trailing separator
                      ComponentCase{"/a//b", "/a/b", true, true},           // repeated separator
                      ComponentCase{"/a/b", "//a///b//", true, true},       //
                      ComponentCase{"/a/b", "/a/./b", true, true},          // "." carries no meaning
                      ComponentCase{"/a/b", "/./a/b/.", true, true},        //
                      ComponentCase{"/a/b", "/a/../a/b", false, false},     // ".." is a real component
                      ComponentCase{"/a/b", "/", true, false},              // "/" starts every absolute path
                      ComponentCase{"/", "/", true, true},                  //
                      ComponentCase{"/", "//./", true, true},               //
                      ComponentCase{"/a/b", "a/b", false, false},           // relative never matches absolute
                      ComponentCase{"a/b", "/a/b", false, false},           //
                      ComponentCase{"a/b/c", "a/b", true, false},           //
                      ComponentCase{"/a/b", "", false, false},              // empty is relative
                      ComponentCase{"/a/b", "/a/b/c", false, false},        // longer prefix
                      ComponentCase{"/a/\xEF\xBF\xBD", "/a/\xEF\xBF\xBD", true, true},  // bytes compared as they are
                      ComponentCase{"/A/b", "/a/b", false, false}));        // case-sensitive

TEST(PathComponentSplit, SplitsIntoMeaningfulComponentsAndRemembersAbsoluteness) {
  const PathComponents absolute = split_path_components("//usr/./local//bin/");
  EXPECT_TRUE(absolute.absolute);
  EXPECT_EQ(absolute.parts, (std::vector<std::string_view>{"usr", "local", "bin"}));
  const PathComponents relative = split_path_components("./x/..");
  EXPECT_FALSE(relative.absolute);
  EXPECT_EQ(relative.parts, (std::vector<std::string_view>{"x", ".."}));
  EXPECT_TRUE(split_path_components("/").parts.empty());
}

TEST(PathComponentSplit, RecognisesTheFileSystemRootInAnySpelling) {
  for (const char* root : {"/", "//", "/./", "/.//."}) EXPECT_TRUE(is_file_system_root(root)) << root;
  for (const char* other : {"", ".", "/a", "a", "/.."}) EXPECT_FALSE(is_file_system_root(other)) << other;
}

}  // namespace
}  // namespace qm
