#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "index/entry_lookup.h"
#include "index/indexed_tree.h"
#include "query/large_items.h"

namespace qm {
namespace {

using test::IndexedTree;

// Categories as a request gives them: in byte order of their names.
std::vector<Category> in_key_order(std::vector<Category> categories) {
  std::sort(categories.begin(), categories.end(),
            [](const Category& a, const Category& b) { return a.name < b.name; });
  return categories;
}

struct File {
  std::string path;
  unsigned long long size;
};

struct LargeCase {
  const char* description;
  std::vector<File> files;
  LargeQuery args;
  std::vector<std::string> forget;  // relative paths put into the removed set
  std::uint64_t count;
  std::map<std::string, std::uint64_t> categories;
  std::vector<std::string> items;  // names, in reply order
};

std::ostream& operator<<(std::ostream& out, const LargeCase& c) { return out << c.description; }

LargeQuery args_with(std::uint64_t minimum, std::string search = "", std::vector<Category> categories = {},
                    std::string category = "all") {
  LargeQuery args;
  args.minimum = minimum;
  args.search = std::move(search);
  args.categories = std::move(categories);
  args.category = std::move(category);
  return args;
}

const std::vector<Category> kMedia = in_key_order({{"images", {"jpg", "png"}}, {"archives", {"gz", "zip"}}});

class LargeItemsCase : public ::testing::TestWithParam<LargeCase> {};

TEST_P(LargeItemsCase, FiltersCountsAndListsFiles) {
  const LargeCase& c = GetParam();
  IndexedTree tree;
  for (const File& file : c.files) tree.dir.make_sparse_file(file.path, file.size);
  tree.index();
  for (const std::string& path : c.forget) tree.table.take_out(tree.id_of(path));

  const LargeItems large = list_large_items(tree.table, c.args);
  EXPECT_EQ(large.count, c.count);
  std::map<std::string, std::uint64_t> categories;
  for (const auto& [name, count] : large.category_counts) {
    EXPECT_TRUE(categories.emplace(name, count).second) << name << " counted twice";
  }
  EXPECT_EQ(categories, c.categories);
  std::vector<std::string> names;
  for (const Item& item : large.items) {
    const auto indexed = lookup_entry(tree.table, item.id);
    ASSERT_TRUE(indexed);
    EXPECT_EQ(item.path, indexed->path);
    EXPECT_EQ(item.metadata.size, indexed->metadata.size);
    names.push_back(item.name);
  }
  EXPECT_EQ(names, c.items);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LargeItemsCase,
    ::testing::Values(
        LargeCase{"default minimum is inclusive",
                  {{"below.bin", 104857599}, {"exact.bin", 104857600}, {"above.bin", 104857601}},
                  LargeQuery{},
                  {},
                  2,
                  {{"other", 2}},
                  {"above.bin", "exact.bin"}},
        LargeCase{"capital search finds lowercase names",
                  {{"holiday photo.jpg", 30}, {"notes.txt", 40}, {"Photography.doc", 20}},
                  args_with(0, "PHOTO"),
                  {},
                  2,
                  {{"other", 2}},
                  {"holiday photo.jpg", "Photography.doc"}},
        LargeCase{"lowercase search finds capitals",
                  {{"ANNUAL REPORT.PDF", 30}, {"notes.txt", 40}},
                  args_with(0, "report"),
                  {},
                  1,
                  {{"other", 1}},
                  {"ANNUAL REPORT.PDF"}},
        LargeCase{"non-ASCII search ignores case",
                  {{"ÉTÉ 2023.mov", 30}, {"été-bis.mov", 20}, {"ete.mov", 40}},
                  args_with(0, "Été"),
                  {},
                  2,
                  {{"other", 2}},
                  {"ÉTÉ 2023.mov", "été-bis.mov"}},
        LargeCase{"capital sharp s matches sharp s",
                  {{"STRAẞENKARTE.pdf", 30}, {"strasse.pdf", 40}},
                  args_with(0, "straße"),
                  {},
                  1,
                  {{"other", 1}},
                  {"STRAẞENKARTE.pdf"}},
        LargeCase{"search in a directory name only does not match",
                  {{"photos/a.txt", 30}, {"photos/photo-b.txt", 20}},
                  args_with(0, "photo"),
                  {},
                  1,
                  {{"other", 1}},
                  {"photo-b.txt"}},
        LargeCase{"uppercase extension falls into its category",
                  {{"a.JPG", 30}, {"b.png", 20}, {"c.txt", 10}},
                  args_with(0, "", kMedia),
                  {},
                  3,
                  {{"images", 2}, {"other", 1}},
                  {"a.JPG", "b.png", "c.txt"}},
        LargeCase{"archive with several dots uses the last extension",
                  {{"backup.tar.gz", 30}},
                  args_with(0, "", in_key_order({{"archives", {"gz"}}, {"tarballs", {"tar"}}})),
                  {},
                  1,
                  {{"archives", 1}},
                  {"backup.tar.gz"}},
        LargeCase{"empty extension covers no dot and a trailing dot",
                  {{"README", 30}, {"draft.", 20}, {"x.txt", 10}},
                  args_with(0, "", in_key_order({{"plain", {""}}})),
                  {},
                  3,
                  {{"plain", 2}, {"other", 1}},
                  {"README", "draft.", "x.txt"}},
        LargeCase{"a name without a dot is other when nobody lists the empty extension",
                  {{"README", 30}},
                  args_with(0, "", kMedia),
                  {},
                  1,
                  {{"other", 1}},
                  {"README"}},
        LargeCase{"a category named other shares its name with unmatched files",
                  {{"a.txt", 30}, {"b.bin", 20}, {"c.jpg", 10}},
                  args_with(0, "", in_key_order({{"other", {"txt"}}, {"images", {"jpg"}}}), "other"),
                  {},
                  2,
                  {{"other", 2}, {"images", 1}},
                  {"a.txt", "b.bin"}},
        LargeCase{"two categories with one extension: the first by name wins",
                  {{"a.jpg", 30}},
                  args_with(0, "", in_key_order({{"pictures", {"jpg"}}, {"images", {"jpg"}}})),
                  {},
                  1,
                  {{"images", 1}},
                  {"a.jpg"}},
        LargeCase{"a selected category lists its files and every category is still counted",
                  {{"a.jpg", 30}, {"b.zip", 50}, {"c.png", 20}, {"d.txt", 40}},
                  args_with(0, "", kMedia, "images"),
                  {},
                  2,
                  {{"images", 2}, {"archives", 1}, {"other", 1}},
                  {"a.jpg", "c.png"}},
        LargeCase{"a selected category with no file lists nothing",
                  {{"a.jpg", 30}},
                  args_with(0, "", in_key_order({{"video", {"mp4"}}, {"images", {"jpg"}}}), "video"),
                  {},
                  0,
                  {{"images", 1}},
                  {}},
        LargeCase{"a selected category compares case-sensitively",
                  {{"a.jpg", 30}},
                  args_with(0, "", kMedia, "Images"),
                  {},
                  0,
                  {{"images", 1}},
                  {}},
        LargeCase{"counts cover only files passing minimum and search",
                  {{"big.jpg", 300}, {"small.jpg", 10}, {"big.zip", 200}},
                  args_with(100, "big", kMedia),
                  {},
                  2,
                  {{"images", 1}, {"archives", 1}},
                  {"big.jpg", "big.zip"}},
        LargeCase{"forgotten files are neither listed nor counted",
                  {{"keep.jpg", 30}, {"gone.jpg", 50}, {"gone.txt", 60}},
                  args_with(0, "", kMedia),
                  {"gone.jpg", "gone.txt"},
                  1,
                  {{"images", 1}},
                  {"keep.jpg"}},
        LargeCase{"directories are never listed whatever their totals",
                  {{"folder/a.bin", 70}, {"folder/b.bin", 80}},
                  args_with(100),
                  {},
                  0,
                  {},
                  {}},
        LargeCase{"minimum zero lists empty files too",
                  {{"empty", 0}},
                  args_with(0),
                  {},
                  1,
                  {{"other", 1}},
                  {"empty"}}),
    [](const ::testing::TestParamInfo<LargeCase>& param_info) {
      std::string name = param_info.param.description;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

std::vector<EntryId> listed_ids(const LargeItems& large) {
  std::vector<EntryId> ids;
  for (const Item& item : large.items) ids.push_back(item.id);
  return ids;
}

TEST(LargeItems, PagesOf100KeepEqualSizesInAscendingIdOrder) {
  IndexedTree tree;
  // 230 files: one larger file first, then equal sizes in between and one smaller last.
  tree.dir.make_sparse_file("largest", 9000);
  for (int i = 0; i < 228; ++i) tree.dir.make_sparse_file("same-" + std::to_string(i), 5000);
  tree.dir.make_sparse_file("smallest", 1000);
  tree.index();
  const Index& index = tree.table;
  std::vector<EntryId> expected{tree.id_of("largest")};
  for (EntryId id = 0; id < index.count(); ++id) {
    if (!index.is_directory(id) && index.size(id) == 5000) expected.push_back(id);
  }
  expected.push_back(tree.id_of("smallest"));
  ASSERT_EQ(expected.size(), 230u);

  std::vector<EntryId> all;
  for (std::uint64_t offset : {0u, 100u, 200u}) {
    LargeQuery args = args_with(0);
    args.offset = offset;
    const LargeItems large = list_large_items(tree.table, args);
    EXPECT_EQ(large.count, 230u);
    const auto page = listed_ids(large);
    EXPECT_EQ(page.size(), offset < 200 ? 100u : 30u);
    all.insert(all.end(), page.begin(), page.end());
  }
  EXPECT_EQ(all, expected);

  for (std::uint64_t offset : {230ull, 231ull, 18446744073709551615ull}) {
    LargeQuery args = args_with(0);
    args.offset = offset;
    const LargeItems large = list_large_items(tree.table, args);
    EXPECT_EQ(large.count, 230u);
    EXPECT_TRUE(listed_ids(large).empty()) << offset;
  }
}

}  // namespace
}  // namespace qm
