// The "fixed hard drives" of the machine: the mounted file systems that live on a
// local, non-removable block device, one per device, in the order of the mount table.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// One line of /proc/self/mountinfo, with the octal escapes of its paths undone.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;       // the folder of the file system that is mounted here
    std::string mountPoint; // where it is mounted
    std::string fsType;
    std::string source;
};

// The lines of a mountinfo text; malformed lines are left out.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Whether the block device that holds a mount is removable (or not a disk at all, like
// a loop device). Gets the mount's device numbers and its source.
using RemovableQuery = std::function<bool(const MountEntry&)>;

// The drive decision over a mountinfo text: keeps the mounts of a disk file system on a
// device ("/dev/...") that `isRemovable` does not reject (ZFS datasets need no device
// path), one mount per device number: the first that shows the whole file system (root
// "/"), else the first at all. Returns their mount points in mount-table order.
std::vector<std::string> FixedDrivesFromMountInfo(std::string_view text,
                                                  const RemovableQuery& isRemovable);

// Reads /proc/self/mountinfo and asks sysfs which devices are removable. No drives
// when the mount table cannot be read.
std::vector<std::string> ListFixedDrives();

} // namespace harvix
