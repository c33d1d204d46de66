#include "system/file_system_kinds.h"

#include <algorithm>
#include <iterator>

namespace qm {

namespace {

// Interfaces to the kernel, memory-backed scratch space and image layers: never volumes,
// even when mounted from a /dev path (snap packages are squashfs on /dev/loopN).
constexpr std::string_view kVirtualTypes[] = {
    "proc",      "sysfs",      "cgroup",     "cgroup2",     "devpts",        "devtmpfs",  "tmpfs",
    "ramfs",     "mqueue",     "overlay",    "aufs",        "squashfs",      "debugfs",   "tracefs",
    "securityfs", "pstore",    "bpf",        "configfs",    "fusectl",       "hugetlbfs", "autofs",
    "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",        "selinuxfs",     "fuse.lxcfs", "fuse.gvfsd-fuse",
    "fuse.portal", "fuse.snapfuse", "cpuset",        "nfsd",
};

// Disk file systems: browsable even when their source is not a /dev path (zfs datasets, btrfs).
constexpr std::string_view kDiskTypes[] = {
    "ext2",  "ext3",    "ext4",     "xfs",  "btrfs", "vfat",     "msdos",  "exfat",
    "ntfs",  "ntfs3",   "fuseblk",  "zfs",  "f2fs",  "apfs",     "hfs",    "hfsplus",
    "jfs",   "reiserfs", "bcachefs", "udf", "iso9660", "nilfs2", "erofs",
};

constexpr std::string_view kNetworkTypes[] = {
    "nfs",        "nfs4",          "cifs",        "smb3",        "smbfs",          "sshfs",
    "fuse.sshfs", "ceph",          "fuse.ceph",   "9p",          "afs",            "glusterfs",
    "fuse.glusterfs", "lustre",    "davfs",       "fuse.davfs2", "fuse.rclone",    "fuse.s3fs",
    "ncpfs",      "coda",          "fuse.gcsfuse", "virtiofs",
};

template <std::size_t N>
bool contains(const std::string_view (&names)[N], std::string_view name) {
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

}  // namespace

bool is_browsable_file_system(std::string_view type, std::string_view source) {
  if (contains(kVirtualTypes, type)) return false;
  if (contains(kDiskTypes, type)) return true;
  if (is_network_file_system(type)) return true;
  // Other user-space file systems answer capacity queries through their daemon,
  // and one that stalls would stall the snapshot; only fuseblk (a disk) is listed.
  if (type == "fuse" || type.starts_with("fuse.")) return false;
  return source.starts_with("/dev/");
}

bool is_network_file_system(std::string_view type) { return contains(kNetworkTypes, type); }

}  // namespace qm
