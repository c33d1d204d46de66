#include "query/category.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace qm {
namespace {

JsonValue strings(std::initializer_list<const char*> items) {
  JsonArray array;
  for (const char* item : items) array.emplace_back(item);
  return array;
}

struct CategoryCase {
  const char* description;
  JsonObject table;
  std::string name;
  std::string expected;
};

std::ostream& operator<<(std::ostream& out, const CategoryCase& c) { return out << c.description; }

class CategoryOf : public ::testing::TestWithParam<CategoryCase> {};

TEST_P(CategoryOf, PicksTheFirstCategoryListingTheLowercasedExtension) {
  EXPECT_EQ(category_of(GetParam().name, GetParam().table), GetParam().expected);
  // The prepared table answers the same for every name, also when reused.
  CategoryTable table(GetParam().table);
  table.slot_of("SOME ÜBERLONG NAME WITHOUT ANY EXTENSION AT ALL, ONLY TEXT.ÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄÄ");
  EXPECT_EQ(table.slot_name(table.slot_of(GetParam().name)), GetParam().expected);
}

const JsonObject kMedia{{"images", strings({"jpg", "png"})}, {"archives", strings({"gz", "zip"})}};

INSTANTIATE_TEST_SUITE_P(
    Cases, CategoryOf,
    ::testing::Values(
        CategoryCase{"lowercase extension", kMedia, "beach.jpg", "images"},
        CategoryCase{"uppercase extension", kMedia, "BEACH.JPG", "images"},
        CategoryCase{"mixed case extension", kMedia, "beach.Png", "images"},
        CategoryCase{"several dots use the last", kMedia, "backup.tar.gz", "archives"},
        CategoryCase{"unlisted extension", kMedia, "notes.txt", "other"},
        CategoryCase{"no dot", kMedia, "README", "other"},
        CategoryCase{"no table", JsonObject{}, "beach.jpg", "other"},
        CategoryCase{"no dot with the empty extension listed", JsonObject{{"plain", strings({""})}}, "README",
                     "plain"},
        CategoryCase{"trailing dot is the empty extension", JsonObject{{"plain", strings({""})}}, "draft.",
                     "plain"},
        CategoryCase{"leading dot only", JsonObject{{"hidden", strings({"profile"})}}, ".profile", "hidden"},
        CategoryCase{"uppercase table entries never match", JsonObject{{"images", strings({"JPG"})}}, "a.JPG",
                     "other"},
        CategoryCase{"entries with a leading dot never match", JsonObject{{"images", strings({".jpg"})}},
                     "a.jpg", "other"},
        CategoryCase{"two categories with one extension: first by byte order",
                     JsonObject{{"photos", strings({"jpg"})}, {"Pictures", strings({"jpg"})},
                                {"images", strings({"jpg"})}},
                     "a.jpg", "Pictures"},
        CategoryCase{"a category named other", JsonObject{{"other", strings({"txt"})}, {"images", strings({"jpg"})}},
                     "a.txt", "other"},
        CategoryCase{"non-array members are ignored",
                     JsonObject{{"alpha", JsonValue("jpg")}, {"beta", strings({"jpg"})}}, "a.jpg", "beta"},
        CategoryCase{"non-string elements are ignored",
                     JsonObject{{"alpha", JsonValue(JsonArray{JsonValue(1), JsonValue(), JsonValue(JsonArray{"jpg"})})},
                                {"beta", strings({"jpg"})}},
                     "a.jpg", "beta"},
        CategoryCase{"non-ASCII extension lowercased fully", JsonObject{{"summer", strings({"été"})}},
                     "vacances.ÉTÉ", "summer"},
        CategoryCase{"extension with a capital sharp s", JsonObject{{"street", strings({"straße"})}}, "map.STRAẞE",
                     "street"},
        CategoryCase{"dot inside a directory-like name is still the last dot", kMedia, "v1.2.zip", "archives"}),
    [](const ::testing::TestParamInfo<CategoryCase>& param_info) {
      std::string name = param_info.param.description;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(CategoryTable, NumbersArrayCategoriesInKeyOrderAndSharesTheOtherSlot) {
  CategoryTable with_other(JsonObject{{"video", strings({"mp4"})}, {"other", strings({"txt"})}, {"docs", JsonValue(1)}});
  ASSERT_EQ(with_other.slot_count(), 2u);  // "docs" is not an array, so it is no category
  EXPECT_EQ(with_other.slot_name(0), "other");
  EXPECT_EQ(with_other.slot_name(1), "video");
  EXPECT_EQ(with_other.slot_of("x.bin"), with_other.slot_of("x.txt"));
  EXPECT_EQ(with_other.find_slot("docs"), std::nullopt);
  EXPECT_EQ(with_other.find_slot("video"), std::optional<std::size_t>(1));

  CategoryTable without_other(JsonObject{{"video", strings({"mp4"})}});
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
