#include "index/forget_paths.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/path_components.h"
#include "common/saturating.h"

namespace qm {
namespace {

// The table as plain rows beside the index, for the straightforward way.
struct Row {
  EntryId parent = kNoEntry;
  bool directory = false;
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
  bool removed = false;
};

// The straightforward way: compare every entry's path with each given path,
// subtracting file by file in ascending id order.
void reference_forget(const Index& index, std::vector<Row>& rows, const std::vector<std::string>& paths) {
  if (rows.size() < 2) return;
  for (EntryId id = 1; id < rows.size(); ++id) {
    if (rows[id].removed) continue;
    const std::string path = index.entry_path(id);
    for (const std::string& given : paths) {
      if (!starts_with_path_components(path, given)) continue;
      rows[id].removed = true;
      if (!rows[id].directory) {
        for (EntryId at = rows[id].parent; at != kNoEntry; at = rows[at].parent) {
          rows[at].size = saturating_sub(rows[at].size, rows[id].size);
          rows[at].allocated = saturating_sub(rows[at].allocated, rows[id].allocated);
        }
      }
      break;
    }
  }
}

// A random table: few distinct names so siblings share names (as two names do
// that differed only in invalid bytes), sizes that sometimes saturate, and
// directories holding folded bytes of their own. Returns the same table as rows.
std::vector<Row> build_random_index(Index& index, const std::string& root, std::uint64_t seed, EntryId count) {
  static const char* const kNames[] = {"a", "ab", "b", "a b", "\xEF\xBF\xBD", ".h", "a\xEF\xBF\xBD"};
  std::mt19937_64 random(seed);
  index.reset(root, "analysis");
  EntryMetadata top;
  top.directory = true;
  index.add(kNoEntry, root, top);
  std::vector<Row> rows{{kNoEntry, true, 0, 0}};
  std::vector<EntryId> directories{0};
  for (EntryId id = 1; id < count; ++id) {
    const char* name = kNames[random() % std::size(kNames)];
    const EntryId parent = directories[random() % directories.size()];
    EntryMetadata entry;
    entry.directory = random() % 3 == 0;
    entry.file = {1, id};
    entry.links = 1;
    if (!entry.directory) {
      const bool huge = random() % 50 == 0;
      entry.size = huge ? UINT64_MAX - random() % 1000 : random() % 100000;
      entry.allocated = huge ? UINT64_MAX / 2 : (entry.size + 4095) / 4096 * 4096;
    } else if (random() % 4 == 0) {
      entry.size = random() % 5000;  // folded files below it
      entry.allocated = entry.size;
    }
    const EntryId added = index.add(parent, name, entry);
    rows.push_back({parent, entry.directory, entry.size, entry.allocated});
    if (entry.directory) directories.push_back(added);
  }
  index.add_subtree_totals();
  for (EntryId id = count; id-- > 1;) {
    rows[rows[id].parent].size = saturating_add(rows[rows[id].parent].size, rows[id].size);
    rows[rows[id].parent].allocated = saturating_add(rows[rows[id].parent].allocated, rows[id].allocated);
  }
  return rows;
}

// Paths as a front end might send them: indexed paths written in other ways,
// the root and what lies above it, partial names, relative and unknown paths.
std::vector<std::string> random_paths(const Index& index, std::mt19937_64& random) {
  std::vector<std::string> paths;
  const std::size_t count = 1 + random() % 3;
  for (std::size_t i = 0; i < count; ++i) {
    std::string path = index.entry_path(static_cast<EntryId>(random() % index.count()));
    switch (random() % 12) {
      case 0: path += "/"; break;
      case 1: path = "/" + path; break;
      case 2: path.insert(0, "/."); break;
      case 3: if (path.size() > 1) path.pop_back(); break;  // a shorter name than indexed
      case 4: path = path.substr(1); break;                  // relative
      case 5: path += "/missing"; break;
      case 6: path = "/"; break;
      case 7: path = index.root() + "/.."; break;
      case 8: path = index.root(); break;
      default: break;
    }
    paths.push_back(path);
  }
  return paths;
}

void expect_same_index(const Index& fast, const std::vector<Row>& reference) {
  ASSERT_EQ(fast.count(), reference.size());
  for (EntryId id = 0; id < fast.count(); ++id) {
    ASSERT_EQ(fast.is_removed(id), reference[id].removed) << "id " << id;
    ASSERT_EQ(fast.size(id), reference[id].size) << "size of id " << id;
    ASSERT_EQ(fast.allocated(id), reference[id].allocated) << "allocated of id " << id;
  }
}

class ForgetAgainstReference : public ::testing::TestWithParam<std::string> {};

TEST_P(ForgetAgainstReference, RemovesTheSameEntriesAndLeavesTheSameTotals) {
  const std::string root = GetParam();
  for (std::uint64_t seed = 1; seed <= 40; ++seed) {
    Index fast;
    const EntryId count = static_cast<EntryId>(50 + seed * 37);
    std::vector<Row> reference = build_random_index(fast, root, seed, count);
    std::mt19937_64 random(seed * 1000);
    for (int round = 0; round < 6; ++round) {
      const std::vector<std::string> paths = random_paths(fast, random);
      std::vector<std::string_view> views(paths.begin(), paths.end());
      forget_paths(fast, views);
      reference_forget(fast, reference, paths);
      SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) + " first path " +
                   paths.front());
      expect_same_index(fast, reference);
      if (HasFatalFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Roots, ForgetAgainstReference,
                         ::testing::Values("/", "/data/scan root", "/x/\xEF\xBF\xBD"));

TEST(ForgetPaths, NeverTouchesAnIndexWithFewerThanTwoEntries) {
  Index index;
  const std::vector<std::string_view> everything{"/"};
  forget_paths(index, everything);  // empty table
  EXPECT_FALSE(index.any_removed());
  build_random_index(index, "/r", 1, 1);
  forget_paths(index, everything);
  EXPECT_FALSE(index.any_removed());
}

TEST(ForgetPaths, NamesAreMatchedWholeNotByPrefix) {
  Index index;
  index.reset("/r", "analysis");
  EntryMetadata root;
  root.directory = true;
  index.add(kNoEntry, "r", root);
  for (const char* name : {"ab", "a", "abc"}) {
    EntryMetadata file;
    file.size = 10;
    file.allocated = 10;
    index.add(0, name, file);
  }
  index.add_subtree_totals();
  const std::vector<std::string_view> paths{"/r/a"};
  forget_paths(index, paths);
  EXPECT_FALSE(index.is_removed(1));
  EXPECT_TRUE(index.is_removed(2));
  EXPECT_FALSE(index.is_removed(3));
  EXPECT_EQ(index.size(0), 20u);
}

}  // namespace
}  // namespace qm
