#pragma once

#include "services/DevAction.h"

#include <QString>

#include <cstddef>

// A USB-disk partition event read from a kernel uevent.
struct DiskEvent
{
    dev_action_t action = DEV_ACTION_ADD;
    QString partition; // "sda1"
};

// Reads the header of one uevent (action, "@", device path, up to the first
// zero byte). True for the add or remove of a partition of a disk "sd" +
// letter; whole disks, other actions and other device names give false.
bool parseUeventHeader(const char* data, size_t size, DiskEvent& event);
