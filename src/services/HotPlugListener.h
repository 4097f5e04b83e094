#pragma once

#include "base/threads/PThread.h"
#include "base/threads/StopSignal.h"
#include "services/LinkMessages.h"

#include <vector>

class HotPlug;

// The thread behind HotPlug: reads link messages from a route socket and
// uevents from a kernel-uevent socket and hands the events to its owner.
class HotPlugListener : public PThread
{
public:
    explicit HotPlugListener(HotPlug& owner);
    ~HotPlugListener() override;

    // Opens and binds both sockets; false with a log line when one cannot be.
    bool open();
    // Starts the thread; false when it could not be created.
    bool run();
    // Wakes the thread, waits for it to end and closes the sockets.
    void finish();

private:
    void* threadMain() override;
    template <typename Handle>
    void drain(int fd, const char* failure, bool& lost, Handle handle);
    void learnLinks();
    std::vector<LinkEvent> dumpLinks(bool* complete = nullptr);
    // Announces a link whose carrier changed.
    void announceLink(const LinkEvent& event);
    void emitLink(const LinkEvent& event);
    void readLinks();
    void readUevents();

    HotPlug& m_owner;
    int m_linkFd = -1;
    int m_ueventFd = -1;
    StopSignal m_stop;
    CarrierStates m_carrier;
    std::vector<char> m_buffer;
};
