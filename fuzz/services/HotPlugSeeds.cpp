// Writes seeds for the hot-plug fuzz target: link messages as the kernel
// lays them out, and uevent headers of partitions, disks and other devices.
#include "../../tests/support/NetlinkBuilder.h"

#include <fstream>
#include <string>

namespace {

void writeSeed(const std::string& folder, const std::string& name, const std::string& bytes)
{
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}

template <size_t N>
std::string bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string folder = argv[1];
    using netlinkbuilder::newLink;
    writeSeed(folder, "link_up", newLink(2, true, "eth0"));
    writeSeed(folder, "link_master", newLink(3, false, "eth0", 7));
    writeSeed(folder, "link_two", newLink(2, true, "eth0") + newLink(4, true, "br0", 0, true));
    writeSeed(folder, "uevent_partition", bytes("add@/devices/platform/usb/1-1/host0/block/sda/sda1\0ACTION=add\0"));
    writeSeed(folder, "uevent_remove", bytes("remove@/devices/usb/block/sdb/sdb12\0ACTION=remove\0"));
    writeSeed(folder, "uevent_disk", bytes("add@/devices/usb/block/sda\0ACTION=add\0"));
    writeSeed(folder, "uevent_mmc", bytes("add@/devices/mmc/block/mmcblk0/mmcblk0p1\0"));
    return 0;
}
