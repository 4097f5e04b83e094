#pragma once

#include <QMetaType>

// The kind of a hot-plug event: a partition added or removed, a link's
// carrier come or gone. Travels in queued signals as "dev_action_t".
enum dev_action_t {
    DEV_ACTION_ADD = 0,
    DEV_ACTION_REMOVE = 1,
};

Q_DECLARE_METATYPE(dev_action_t)
