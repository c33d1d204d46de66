#include "query/category.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace qm {
namespace {

struct CategoryCase {
  const char* description;
  std::vector<Category> table;  // in the request's key order
  std::string name;
  std::string expected;
};

std::ostream& operator<<(std::ostream& out, const CategoryCase& c) { return out << c.description; }

class CategoryOf : public ::testing::TestWithParam<CategoryCase> {};

TEST_P(CategoryOf, PicksTheFirstCategoryListingTheLowercasedExtension) {
  CategoryTable table(GetParam().table);
  EXPECT_EQ(table.slot_name(table.slot_of(GetParam().name)), GetParam().expected);
  // The prepared table answers the same when reused after another name.
  table.slot_of("SOME ÜBERLONG NAME WITHOUT ANY EXTENSION AT ALL, ONLY TEXT.ÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄ");
  EXPECT_EQ(table.slot_name(table.slot_of(GetParam().name)), GetParam().expected);
}

const std::vector<Category> kMedia{{"archives", {"gz", "zip"}}, {"images", {"jpg", "png"}}};

INSTANTIATE_TEST_SUITE_P(
    Cases, CategoryOf,
    ::testing::Values(
        CategoryCase{"lowercase extension", kMedia, "beach.jpg", "images"},
        CategoryCase{"uppercase extension", kMedia, "BEACH.JPG", "images"},
        CategoryCase{"mixed case extension", kMedia, "beach.Png", "images"},
        CategoryCase{"several dots use the last", kMedia, "backup.tar.gz", "archives"},
        CategoryCase{"unlisted extension", kMedia, "notes.txt", "other"},
        CategoryCase{"no dot", kMedia, "README", "other"},
        CategoryCase{"no table", std::vector<Category>{}, "beach.jpg", "other"},
        CategoryCase{"no dot with the empty extension listed", std::vector<Category>{{"plain", {""}}}, "README",
                     "plain"},
        CategoryCase{"trailing dot is the empty extension", std::vector<Category>{{"plain", {""}}}, "draft.",
                     "plain"},
        CategoryCase{"leading dot only", std::vector<Category>{{"hidden", {"profile"}}}, ".profile", "hidden"},
        CategoryCase{"uppercase table entries never match", std::vector<Category>{{"images", {"JPG"}}}, "a.JPG",
                     "other"},
        CategoryCase{"entries with a leading dot never match", std::vector<Category>{{"images", {".jpg"}}},
                     "a.jpg", "other"},
        CategoryCase{"two categories with one extension: the first given",
                     {{"Pictures", {"jpg"}}, {"images", {"jpg"}}, {"photos", {"jpg"}}}, "a.jpg", "Pictures"},
        CategoryCase{"a category named other", {{"images", {"jpg"}}, {"other", {"txt"}}}, "a.txt", "other"},
        CategoryCase{"a category without extensions takes no file", {{"alpha", {}}, {"beta", {"jpg"}}}, "a.jpg",
                     "beta"},
        CategoryCase{"non-ASCII extension lowercased fully", std::vector<Category>{{"summer", {"été"}}},
                     "vacances.ÉTÉ", "summer"},
        CategoryCase{"extension with a capital sharp s", std::vector<Category>{{"street", {"straße"}}}, "map.STRAẞE",
                     "street"},
        CategoryCase{"dot inside a directory-like name is still the last dot", kMedia, "v1.2.zip", "archives"}),
    [](const ::testing::TestParamInfo<CategoryCase>& param_info) {
      std::string name = param_info.param.description;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(CategoryTable, NumbersCategoriesInTheirOrderAndSharesTheOtherSlot) {
  CategoryTable with_other({{"other", {"txt"}}, {"video", {"mp4"}}});
  ASSERT_EQ(with_other.slot_count(), 2u);
  EXPECT_EQ(with_other.slot_name(0), "other");
  EXPECT_EQ(with_other.slot_name(1), "video");
  EXPECT_EQ(with_other.slot_of("x.bin"), with_other.slot_of("x.txt"));
  EXPECT_EQ(with_other.find_slot("docs"), std::nullopt);
  EXPECT_EQ(with_other.find_slot("video"), std::optional<std::size_t>(1));

  CategoryTable without_other(std::vector<Category>{{"video", {"mp4"}}});
  ASSERT_EQ(without_other.slot_count(), 2u);
  EXPECT_EQ(without_other.slot_name(without_other.slot_of("x.bin")), "other");
  EXPECT_EQ(without_other.find_slot("Video"), std::nullopt);  // names compare case-sensitively
}

TEST(FileExtension, IsTheTextAfterTheLastDot) {
  EXPECT_EQ(file_extension("a.tar.gz"), "gz");
  EXPECT_EQ(file_extension("README"), "");
  EXPECT_EQ(file_extension("draft."), "");
  EXPECT_EQ(file_extension(".bashrc"), "bashrc");
  EXPECT_EQ(file_extension("Été.MOV"), "MOV");
}

}  // namespace
}  // namespace qm
