#include "search/Drives.h"

#include <gtest/gtest.h>

namespace {

// A desktop with a btrfs system disk (two subvolumes), a bind mount, a USB stick,
// an ext4 data disk with a blank in its mount point, a disk image and kernel mounts.
constexpr const char* kMountInfo =
    "22 1 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:5 - proc proc rw\n"
    "23 1 0:22 / /sys rw,nosuid shared:6 - sysfs sysfs rw\n"
    "25 1 0:30 /@ / rw,relatime shared:1 - btrfs /dev/nvme0n1p2 rw,subvol=/@\n"
    "26 25 0:31 /@home /home rw,relatime shared:2 - btrfs /dev/nvme0n1p2 rw\n"
    "27 25 0:25 / /tmp rw shared:3 - tmpfs tmpfs rw\n"
    "28 25 259:1 / /boot/efi rw,relatime shared:4 - vfat /dev/nvme0n1p1 rw\n"
    "29 25 8:17 /photos /srv/photos rw master:7 - ext4 /dev/sdb1 rw\n"
    "30 25 8:17 / /mnt/data\\040disk rw,relatime shared:8 - ext4 /dev/sdb1 rw\n"
    "31 25 8:33 / /media/stick rw,nosuid - vfat /dev/sdc1 rw\n"
    "32 25 7:0 / /mnt/image ro - ext4 /dev/loop0 ro\n"
    "33 25 0:40 / /mnt/nfs rw - nfs4 server:/export rw\n"
    "34 25 0:50 / /tank rw - zfs tank rw\n"
    "garbage line without fields\n"
    "35 25 x:y / /broken rw - ext4 /dev/sdz1 rw\n";

TEST(Drives, ParsesFieldsAndUndoesEscapes) {
    const auto entries = harvix::ParseMountInfo(kMountInfo);
    ASSERT_EQ(entries.size(), 12u);
    EXPECT_EQ(entries[2].major, 0u);
    EXPECT_EQ(entries[2].minor, 30u);
    EXPECT_EQ(entries[2].root, "/@");
    EXPECT_EQ(entries[2].mountPoint, "/");
    EXPECT_EQ(entries[2].fsType, "btrfs");
    EXPECT_EQ(entries[2].source, "/dev/nvme0n1p2");
    EXPECT_EQ(entries[7].mountPoint, "/mnt/data disk");
}

TEST(Drives, KeepsLocalFixedDiskMountsOncePerDevice) {
    const auto removable = [](const harvix::MountEntry& m) {
        return m.major == 7 || (m.major == 8 && m.minor == 33);
    };
    EXPECT_EQ(harvix::FixedDrivesFromMountInfo(kMountInfo, removable),
              (std::vector<std::string>{"/", "/home", "/boot/efi", "/mnt/data disk", "/tank"}));
    // Without the removable check, the stick and the image are fixed drives too.
    EXPECT_EQ(harvix::FixedDrivesFromMountInfo(kMountInfo, nullptr).size(), 7u);
    EXPECT_TRUE(harvix::FixedDrivesFromMountInfo("", nullptr).empty());
}

} // namespace
