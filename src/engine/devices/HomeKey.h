#pragma once

#include "base/threads/PThread.h"
#include "base/threads/StopSignal.h"
#include "engine/devices/Board.h"

#include <QObject>

// The physical home key (GPIO 4, 0 while held): times each press on a thread
// of its own and signals short and long presses with their length in ms.
// The thread waits on the line's edges; destroying the object wakes it and
// waits for it to end before the line is released.
class HomeKey : public QObject, public PThread
{
    Q_OBJECT

public:
    static constexpr unsigned int kLine = board::kHomeKeyLine;
    // The thread is started detached with this stack.
    static constexpr size_t kStackSize = 64 * 1024;

    explicit HomeKey(QObject* parent = nullptr);
    ~HomeKey() override;

signals:
    void keyShortClicked(int time);
    void keyLongClicked(int time);

protected:
    void* threadMain() override;

private:
    int readLevel(int* value);

    int m_fd = -1;
    StopSignal m_stop;
};
