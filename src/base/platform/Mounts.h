#pragma once

#include <string>

// The one door to mounting: the USB disks the hot-plug watcher mounts under
// "/media", their unmounting, and the mount table it reads to find them.
// Production code makes the real calls through here; tests install a double
// that mounts tmpfs inside a private mount namespace, because vfat cannot be
// mounted on a development machine and the host's mounts are not ours.
// The implementation in use is platform().mounts() (Platform.h).
//
// Paths are the board's ("/dev/sda1", "/media/sda1"). On the board they reach
// the kernel unchanged. Under a scratch root the real implementation refuses
// to mount or unmount anything (the host's mounts are none of its business),
// logs why and fails with EPERM.
class Mounts
{
public:
    virtual ~Mounts();

    // As mount(2): 0, or -1 with errno set.
    virtual int mount(const std::string& source, const std::string& target, const std::string& type,
                      unsigned long flags, const std::string& data);
    // As umount2(2): 0, or -1 with errno set.
    virtual int unmount(const std::string& target, int flags);
    // The mount table in the format of "/proc/mounts" (source, mount point,
    // type, options, two numbers per line). False when it cannot be read.
    virtual bool readTable(std::string* table);
};

// Unmounts a mount point; one that is busy (a file still open on the disk
// that was pulled) is detached lazily instead, so the mount point is free at
// once and the kernel lets go of the disk when the last file closes.
// 0, or -1 with errno set.
int unmountOrDetach(const std::string& target);
