// The parallel, batched scan against a plain sequential walk that applies the
// same rules one directory at a time: same ids, names, parents and totals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "index/scan_test_support.h"
#include "support/reference_listing.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::scan;
using test::scan_args;
using test::TempDir;

struct Row {
  std::string name;
  EntryId parent = kNoEntry;
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
  std::uint64_t inode = 0;
  std::uint64_t links = 0;
  bool directory = false;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << "{" << row.name << " parent " << row.parent << " size " << row.size << " allocated " << row.allocated
       << " inode " << row.inode << " links " << row.links << (row.directory ? " dir}" : " file}");
}

struct Walked {
  std::vector<Row> rows;
  std::uint64_t seen = 1;
  std::uint64_t skipped = 0;
  std::uint64_t errors = 0;
};

struct Rules {
  std::string mode;
  std::uint64_t minimum;
  bool include_hidden;
};

bool keeps_file(const Rules& rules, const test::ReferenceEntry& file) {
  if (rules.mode == "analysis") return true;
  if (rules.mode == "duplicates") {
    return file.metadata.size >= rules.minimum && file.metadata.links == 1 && file.name != ".DS_Store";
  }
  return file.metadata.size >= rules.minimum;
}

Walked reference_walk(const std::string& root, const Rules& rules) {
  Walked walked;
  auto top = stat_entry(root);
  EXPECT_TRUE(top.ok());
  walked.rows.push_back({lossy_utf8(entry_name_of(root)), kNoEntry, 0, 0, top->file.inode, top->links, true});
  const std::uint64_t device = top->file.device;
  std::set<std::pair<std::uint64_t, std::uint64_t>> visited{{device, top->file.inode}};
  std::set<std::pair<std::uint64_t, std::uint64_t>> linked;
  std::deque<std::pair<EntryId, std::string>> queue{{0, root}};
  while (!queue.empty()) {
    const auto [dir, path] = queue.front();
    queue.pop_front();
    const test::ReferenceListing listing = test::list_reference(path);
    walked.errors += listing.errors;
    walked.skipped += listing.skipped;
    for (const test::ReferenceEntry& entry : listing.entries) {
      const EntryMetadata& m = entry.metadata;
      ++walked.seen;
      if (m.file.device != device) {
        ++walked.skipped;
        continue;
      }
      std::uint64_t allocated = m.allocated;
      if (m.directory) {
        if ((!rules.include_hidden && entry.name[0] == '.') || !visited.insert({device, m.file.inode}).second) {
          ++walked.skipped;
          continue;
        }
      } else {
        if (m.links != 1 && !linked.insert({device, m.file.inode}).second) allocated = 0;
        if (!keeps_file(rules, entry)) {
          walked.rows[dir].size += m.size;
          walked.rows[dir].allocated += allocated;
          continue;
        }
      }
      walked.rows.push_back({entry.name, dir, m.size, allocated, m.file.inode, m.links, m.directory});
      if (m.directory) queue.emplace_back(static_cast<EntryId>(walked.rows.size() - 1), entry.path);
    }
  }
  for (std::size_t id = walked.rows.size(); id-- > 1;) {
    walked.rows[walked.rows[id].parent].size += walked.rows[id].size;
    walked.rows[walked.rows[id].parent].allocated += walked.rows[id].allocated;
  }
  return walked;
}

Walked rows_of(const Index& index) {
  Walked walked;
  walked.seen = index.counts().seen;
  walked.skipped = index.counts().skipped;
  walked.errors = index.counts().errors;
  for (EntryId id = 0; id < index.count(); ++id) {
    walked.rows.push_back({std::string(index.name(id)), index.parent(id), index.size(id), index.allocated(id),
                           index.file_id(id).inode, index.links(id), index.is_directory(id)});
  }
  return walked;
}

// Counters, then every row in id order; stops at the first row that differs.
void expect_same_walk(const Walked& actual, const Walked& expected) {
  EXPECT_EQ(actual.seen, expected.seen);
  EXPECT_EQ(actual.skipped, expected.skipped);
  EXPECT_EQ(actual.errors, expected.errors);
  ASSERT_EQ(actual.rows.size(), expected.rows.size());
  for (std::size_t id = 0; id < actual.rows.size(); ++id) {
    ASSERT_EQ(actual.rows[id], expected.rows[id]) << "id " << id << " " << expected.rows[id].name;
  }
}

// A random tree: nested directories, hidden ones, files of many sizes, hard
// links across directories, links to files and directories, ".DS_Store" files.
void make_random_tree(const TempDir& tree, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::string> dirs{""};
  std::vector<std::string> files;
  for (int i = 0; i < 60; ++i) {
    const std::string& parent = dirs[random() % dirs.size()];
    const std::string name = (random() % 8 == 0 ? ".d" : "d") + std::to_string(i);
    dirs.push_back(parent.empty() ? name : parent + "/" + name);
    tree.make_dir(dirs.back());
  }
  for (int i = 0; i < 500; ++i) {
    const std::string& dir = dirs[random() % dirs.size()];
    const std::string name = random() % 40 == 0 ? ".DS_Store" : "f" + std::to_string(i);
    const std::string relative = dir.empty() ? name : dir + "/" + name;
    tree.write_file(relative, std::string(random() % 3 == 0 ? 0 : random() % 6000, 'x'));
    files.push_back(relative);
  }
  for (int i = 0; i < 30; ++i) {
    const std::string& dir = dirs[random() % dirs.size()];
    const std::string relative = (dir.empty() ? "" : dir + "/") + "hard" + std::to_string(i);
    ::link((tree / files[random() % files.size()]).c_str(), (tree / relative).c_str());
    const std::string link = (dir.empty() ? "" : dir + "/") + "sym" + std::to_string(i);
    tree.make_symlink(link, random() % 2 ? tree / dirs[random() % dirs.size()] : tree / files[random() % files.size()]);
  }
}

TEST(ScanAgainstReference, GivesExactlyTheSequentialResultWhateverTheRulesAndListingWindow) {
  const std::vector<Rules> rule_sets{Rules{"analysis", 204800, false}, Rules{"analysis", 0, true},
                                     Rules{"duplicates", 100, true}, Rules{"sizes", 3000, false}};
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    TempDir tree;
    make_random_tree(tree, seed);
    for (const Rules& rules : rule_sets) {
      const Walked expected = reference_walk(tree.path(), rules);
      ASSERT_GT(expected.rows.size(), 10u);
      for (const std::size_t window : {std::size_t{1}, std::size_t{5}, std::size_t{128}}) {
        Index index;
        ScanRequest args = scan_args(tree.path(), rules.mode, rules.minimum);
        args.include_hidden = rules.include_hidden;
        WalkLimits limits;
        limits.window = window;
        ASSERT_TRUE(scan(index, args, limits).ok());
        const Walked actual = rows_of(index);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", mode " + rules.mode + ", window " + std::to_string(window));
        expect_same_walk(actual, expected);
      }
    }
  }
}

// Directories too big for one read are read in parts, decoded by several
// workers and merged part by part; subdirectories met in an early part are
// listed while later parts are still being read. None of that may show.
void make_tree_with_huge_directories(const TempDir& tree) {
  // Long names make few records per read, so each big directory spans several.
  const std::string padding(60, 'p');
  for (int i = 0; i < 2500; ++i) {
    tree.write_file("huge/file-" + std::to_string(i) + padding, std::string(i % 7, 'x'));
    if (i % 125 == 0) tree.write_file("huge/sub" + std::to_string(i) + padding + "/inner", "12345");
    if (i % 500 == 0) tree.make_dir("huge/.hidden" + std::to_string(i));
  }
  for (int i = 0; i < 1500; ++i) tree.write_file("other/deeper/f" + std::to_string(i) + padding, "ab");
  tree.write_file("small/one", "1");
  ::link((tree / ("huge/file-3" + padding)).c_str(), (tree / "small/link-to-huge").c_str());
  tree.make_symlink("huge/symlink", tree / "small");
}

TEST(ScanAgainstReference, HugeDirectoriesReadInPartsGiveTheSequentialResult) {
  TempDir tree;
  make_tree_with_huge_directories(tree);
  const Rules rules{"analysis", 204800, false};
  const Walked expected = reference_walk(tree.path(), rules);
  ASSERT_GT(expected.rows.size(), 4000u);
  struct Setting {
    std::size_t window;
    std::size_t parts_ahead;
    bool portable_reader;
  };
  std::vector<Setting> settings{{128, 8, true}, {1, 8, true}, {3, 1, true}};
  for (const std::size_t window : {std::size_t{1}, std::size_t{3}, std::size_t{128}}) {
    for (const std::size_t parts_ahead : {std::size_t{1}, std::size_t{2}, std::size_t{8}}) {
      settings.push_back({window, parts_ahead, false});
    }
  }
  for (const Setting& setting : settings) {
    Index index;
    WalkLimits limits;
    limits.window = setting.window;
    limits.parts_ahead = setting.parts_ahead;
    const DirectoryReader& reader = setting.portable_reader ? portable_directory_reader() : fast_directory_reader();
    ASSERT_TRUE(scan(index, scan_args(tree.path()), limits, reader).ok());
    const Walked actual = rows_of(index);
    SCOPED_TRACE("window " + std::to_string(setting.window) + ", parts ahead " +
                 std::to_string(setting.parts_ahead) + (setting.portable_reader ? ", portable reader" : ""));
    expect_same_walk(actual, expected);
  }
}

}  // namespace
}  // namespace qm
