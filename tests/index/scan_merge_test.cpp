// The merge step fed with listings made here, for the rules that need a tree
// the tests cannot build: a scan of "/" under the macOS rules, devices whose
// numbers the two macOS readers give differently.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "index/platform_rules.h"
#include "index/scan_walk.h"

namespace qm {
namespace {

struct Listed {
  std::string name;
  bool directory;
  std::uint64_t device;
  std::uint64_t inode;
  std::uint64_t size = 0;
};

CompactListing listing_of(const std::vector<Listed>& entries) {
  CompactListing listing;
  for (const Listed& item : entries) {
    EntryMetadata m;
    m.directory = item.directory;
    m.file = {item.device, item.inode};
    m.size = item.size;
    m.allocated = item.size;
    m.links = 1;
    const std::size_t offset = listing.names.size();
    listing.names += item.name;
    listing.append_entry(offset, m);
  }
  return listing;
}

// An index holding only its root, as the scan leaves it before the walk.
void start_index(Index& index, const std::string& root, std::uint64_t device) {
  index.reset(root, "analysis");
  EntryMetadata top;
  top.directory = true;
  top.file = {device, 2};
  top.links = 1;
  index.add(kNoEntry, root, top);
}

// A walk as a scan with these rules and limits would run it; nothing it merges is listed.
struct Walk {
  Walk(Index& index, const ScanFilters& filters, const PlatformRules& rules, WalkLimits limits = {})
      : context{fast_directory_reader(), system_clock(), progress, rules, limits},
        walk(index, filters, context, system_clock().now()) {}
  NoProgress progress;
  ScanContext context;
  ScanWalk walk;
};

QueuedDirectory dir(EntryId id) { return {id, false}; }

std::set<std::string> paths_of(const Index& index) {
  std::set<std::string> paths;
  for (EntryId id = 1; id < index.count(); ++id) paths.insert(index.entry_path(id));
  return paths;
}

EntryId id_of(const Index& index, const std::string& path) {
  for (EntryId id = 0; id < index.count(); ++id) {
    if (index.entry_path(id) == path) return id;
  }
  return kNoEntry;
}

TEST(ScanMerge, UnderTheMacosRulesAScanOfTheRootLeavesOutVolumesAndEntersOnlyTheRootAndUsersDevices) {
  Index index;
  start_index(index, "/", 1);
  ScanFilters filters;
  filters.root_is_file_system_root = true;
  Walk scan(index, filters, macos_rules());
  ScanWalk& walk = scan.walk;
  walk.allow_device(1);
  walk.allow_device(5);  // the "/Users" volume
  ASSERT_TRUE(walk.merge_listing(dir(0), "/", listing_of({{"Volumes", true, 1, 10},
                                                     {"Users", true, 5, 11},
                                                     {"System", true, 1, 12},
                                                     {"mnt", true, 9, 13},  // another file system
                                                     {"swapfile", false, 1, 14, 100},
                                                     {"again", true, 1, 2}})));  // the root met again
  const EntryId system = id_of(index, "/System");
  const EntryId users = id_of(index, "/Users");
  ASSERT_NE(system, kNoEntry);
  ASSERT_NE(users, kNoEntry);
  ASSERT_TRUE(walk.merge_listing(dir(system), "/System", listing_of({{"Volumes", true, 1, 20}, {"Library", true, 1, 21}})));
  ASSERT_TRUE(walk.merge_listing(dir(users), "/Users", listing_of({{"Volumes", true, 5, 30}, {"Shared", true, 5, 31}})));
  EXPECT_EQ(paths_of(index), (std::set<std::string>{"/Users", "/System", "/swapfile", "/System/Library",
                                                    "/Users/Volumes", "/Users/Shared"}));
  EXPECT_EQ(index.counts().skipped, 4u);  // /Volumes, /mnt, the root again, /System/Volumes
  EXPECT_EQ(index.counts().seen, 1u + 6u + 2u + 2u);
}

TEST(ScanMerge, BelowAnyOtherRootAVolumesDirectoryIsOrdinary) {
  Index index;
  start_index(index, "/data", 1);
  ScanFilters filters;
  Walk scan(index, filters, macos_rules());
  ScanWalk& walk = scan.walk;
  walk.allow_device(1);
  ASSERT_TRUE(walk.merge_listing(dir(0), "/data", listing_of({{"Volumes", true, 1, 10}, {"System", true, 1, 11}})));
  const EntryId system = id_of(index, "/data/System");
  ASSERT_TRUE(walk.merge_listing(dir(system), "/data/System", listing_of({{"Volumes", true, 1, 20}})));
  EXPECT_EQ(paths_of(index), (std::set<std::string>{"/data/Volumes", "/data/System", "/data/System/Volumes"}));
  EXPECT_EQ(index.counts().skipped, 0u);
}

TEST(ScanMerge, UnderTheMacosRulesADeviceWidenedWithItsSignIsTheSameDeviceAsItsUnsignedForm) {
  // stat_entry widens a 32-bit device number with its sign; the bulk reader prints it unsigned.
  const std::uint64_t widened = 0xFFFFFFFF80000011ull;
  const std::uint64_t printed = 0x80000011ull;
  Index index;
  start_index(index, "/Volumes/Disk", widened);
  ScanFilters filters;
  Walk scan(index, filters, macos_rules());
  ScanWalk& walk = scan.walk;
  walk.allow_device(widened);
  ASSERT_TRUE(walk.merge_listing(dir(0), "/Volumes/Disk", listing_of({{"file", false, printed, 10, 7},
                                                                 {"loop", true, printed, 2},  // the root again
                                                                 {"elsewhere", false, 0x11, 11, 9}})));
  EXPECT_EQ(paths_of(index), (std::set<std::string>{"/Volumes/Disk/file"}));
  EXPECT_EQ(index.counts().skipped, 2u);
}

TEST(ScanMerge, UnderTheLinuxRulesAScanOfTheRootEntersOnlyTheRootDevice) {
  Index index;
  start_index(index, "/", 1);
  ScanFilters filters;
  filters.root_is_file_system_root = true;
  Walk scan(index, filters, linux_rules());
  scan.walk.allow_device(1);
  ASSERT_TRUE(scan.walk.merge_listing(dir(0), "/", listing_of({{"Volumes", true, 1, 10}, {"mnt", true, 9, 13}})));
  EXPECT_EQ(paths_of(index), (std::set<std::string>{"/Volumes"}));
  EXPECT_EQ(index.counts().skipped, 1u);  // /mnt
}

TEST(ScanMerge, StopsAtTheIdLimitWithTheEntriesBeforeIt) {
  Index index;
  start_index(index, "/r", 1);
  ScanFilters filters;
  WalkLimits limits;
  limits.max_entries = 3;
  Walk scan(index, filters, linux_rules(), limits);
  ScanWalk& walk = scan.walk;
  walk.allow_device(1);
  EXPECT_FALSE(walk.merge_listing(dir(0), "/r", listing_of({{"a", false, 1, 10}, {"b", false, 1, 11}, {"c", false, 1, 12}})));
  EXPECT_EQ(index.count(), 3u);
  EXPECT_EQ(index.counts().seen, 4u);  // the root and the three records, the last one included
}

}  // namespace
}  // namespace qm
