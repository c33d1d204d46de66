#pragma once
// What a mount-table entry is, judged from its file-system type and source
// (the device or remote share it was mounted from).
#include <string_view>

namespace qm {

// A volume a user would browse: a disk file system, a file system on a block
// device, or a network share. Kernel interfaces (proc, sysfs, cgroup, devpts,
// tmpfs, ...), container overlays, read-only package images and user-space
// (FUSE) file systems other than disk ones are not.
bool is_browsable_file_system(std::string_view type, std::string_view source);

// A file system reached over the network (nfs, cifs/smb, sshfs, ceph, 9p, ...).
bool is_network_file_system(std::string_view type);

}  // namespace qm
