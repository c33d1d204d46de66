#include "system/volumes.h"

#include <gtest/gtest.h>

#include <functional>

#include "system/disks_text.h"
#include "system/file_system_kinds.h"

namespace qm {
namespace {

VolumeProperties disk_properties(std::uint64_t total, std::uint64_t available) {
  VolumeProperties properties;
  properties.name = "Disk";
  properties.browsable = true;
  properties.local = true;
  properties.total_capacity = total;
  properties.available_capacity = available;
  properties.important_available_capacity = available;
  return properties;
}

MountedVolume mount(std::string point, std::optional<VolumeProperties> properties) {
  return MountedVolume{std::move(point), std::move(properties)};
}

VolumeProperties changed(const VolumeProperties& base, const std::function<void(VolumeProperties&)>& change) {
  VolumeProperties properties = base;
  change(properties);
  return properties;
}

struct SelectionCase {
  const char* description;
  std::vector<MountedVolume> mounts;
  std::string expected;  // the selection as disks_text writes it
};

TEST(VolumeSelection, FollowsTheSkipAndMergeRules) {
  const auto plain = disk_properties(1000, 400);
  const std::vector<SelectionCase> cases = {
      {"a local browsable named volume is listed", {mount("/", plain)}, R"([{"free":400,"mount":"/","total":1000}])"},
      {"unreadable properties are skipped", {mount("/", std::nullopt)}, "[]"},
      {"not browsable is skipped even when local",
       {mount("/hidden", changed(plain, [](VolumeProperties& p) { p.browsable = false; }))}, "[]"},
      {"unknown browsability counts as not browsable",
       {mount("/hidden", changed(plain, [](VolumeProperties& p) { p.browsable.reset(); }))}, "[]"},
      {"a browsable network share is skipped",
       {mount("/net", changed(plain, [](VolumeProperties& p) { p.local = false; }))}, "[]"},
      {"unknown locality counts as local",
       {mount("/x", changed(plain, [](VolumeProperties& p) { p.local.reset(); }))},
       R"([{"free":400,"mount":"/x","total":1000}])"},
      {"no volume name is skipped", {mount("/x", changed(plain, [](VolumeProperties& p) { p.name.reset(); }))}, "[]"},
      {"no capacities gives zeros",
       {mount("/x", changed(plain,
                            [](VolumeProperties& p) {
                              p.total_capacity.reset();
                              p.available_capacity.reset();
                              p.important_available_capacity.reset();
                            }))},
       R"([{"free":0,"mount":"/x","total":0}])"},
      {"important-usage capacity of 0 falls back to the plain figure",
       {mount("/x", changed(plain, [](VolumeProperties& p) { p.important_available_capacity = 0; }))},
       R"([{"free":400,"mount":"/x","total":1000}])"},
      {"important-usage capacity wins when reported",
       {mount("/x", changed(plain, [](VolumeProperties& p) { p.important_available_capacity = 650; }))},
       R"([{"free":650,"mount":"/x","total":1000}])"},
      {"only the important-usage capacity reported",
       {mount("/x", changed(plain, [](VolumeProperties& p) { p.available_capacity.reset(); }))},
       R"([{"free":400,"mount":"/x","total":1000}])"},
      {"the same mount point twice yields one record with the later capacities",
       {mount("/data", plain), mount("/data/", disk_properties(2000, 900))},
       R"([{"free":900,"mount":"/data","total":2000}])"},
      {"a repeat takes over only the capacities it reports",
       {mount("/data", plain), mount("//data", changed(disk_properties(2000, 900), [](VolumeProperties& p) {
                                      p.total_capacity.reset();
                                      p.important_available_capacity = 0;
                                    }))},
       R"([{"free":900,"mount":"/data","total":1000}])"},
      {"a repeat without a name still updates capacities",
       {mount("/data", plain), mount("/data", changed(disk_properties(3000, 5), [](VolumeProperties& p) { p.name.reset(); }))},
       R"([{"free":5,"mount":"/data","total":3000}])"},
      {"a skipped repeat does not touch the listed volume",
       {mount("/data", plain), mount("/data", changed(disk_properties(3000, 5), [](VolumeProperties& p) { p.local = false; }))},
       R"([{"free":400,"mount":"/data","total":1000}])"},
      {"mount-table order is kept, not sorted",
       {mount("/z", disk_properties(1, 1)), mount("/a", disk_properties(9, 9)), mount("/m", disk_properties(5, 5))},
       R"([{"free":1,"mount":"/z","total":1},{"free":9,"mount":"/a","total":9},{"free":5,"mount":"/m","total":5}])"},
      {"a mount point that is not UTF-8 is listed with its bytes",
       {mount("/mnt/\xFF", plain)}, "[{\"free\":400,\"mount\":\"/mnt/\xFF\",\"total\":1000}]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(test::disks_text(select_volumes(c.mounts)), c.expected) << c.description;
  }
}

TEST(VolumeSelection, MountPointsThatDifferInBytesOnlyByInvalidSequencesStayApart) {
  // Both would read "/mnt/\uFFFD" as text; comparing bytes keeps two volumes.
  const auto records = select_volumes({mount("/mnt/\xFF", disk_properties(1, 1)), mount("/mnt/\xFE", disk_properties(2, 2))});
  EXPECT_EQ(records.size(), 2u);
}

struct KindCase {
  const char* type;
  const char* source;
  bool browsable;
  bool network;
};

TEST(FileSystemKinds, SeparateDisksFromKernelInterfacesAndNetworkShares) {
  const std::vector<KindCase> cases = {
      {"ext4", "/dev/vda", true, false},
      {"xfs", "/dev/mapper/vg-root", true, false},
      {"btrfs", "/dev/nvme0n1p2", true, false},
      {"vfat", "/dev/sda1", true, false},
      {"exfat", "/dev/sdb1", true, false},
      {"fuseblk", "/dev/sdc1", true, false},  // ntfs-3g
      {"zfs", "tank/home", true, false},      // a dataset, not a device path
      {"apfs", "/dev/disk3s1", true, false},
      {"someday-fs", "/dev/sdd1", true, false},  // unknown type on a block device
      {"proc", "proc", false, false},
      {"sysfs", "sysfs", false, false},
      {"cgroup", "cgroup", false, false},
      {"cgroup2", "cgroup2", false, false},
      {"devpts", "devpts", false, false},
      {"devtmpfs", "devtmpfs", false, false},
      {"tmpfs", "tmpfs", false, false},
      {"mqueue", "mqueue", false, false},
      {"overlay", "overlay", false, false},
      {"squashfs", "/dev/loop3", false, false},  // snap package image
      {"tmpfs", "/dev/shm", false, false},
      {"fuse.lxcfs", "lxcfs", false, false},
      {"unknownfs", "something", false, false},
      {"nfs", "server:/export", true, true},
      {"nfs4", "server:/export", true, true},
      {"cifs", "//server/share", true, true},
      {"smb3", "//server/share", true, true},
      {"fuse.sshfs", "me@host:/home/me", true, true},
      {"ceph", "10.0.0.1:6789:/", true, true},
      {"9p", "drvfs", true, true},
      {"fuse.rclone", "remote:bucket", true, true},
      {"fuse.gocryptfs", "/home/me/.vault", false, false},
      {"fuse.mergerfs", "disk1:disk2", false, false},
      {"fuse", "/dev/fuse", false, false},
      {"fuse.gvfsd-fuse", "gvfsd-fuse", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_browsable_file_system(c.type, c.source), c.browsable) << c.type << " from " << c.source;
    EXPECT_EQ(is_network_file_system(c.type), c.network) << c.type << " from " << c.source;
  }
}

}  // namespace
}  // namespace qm
