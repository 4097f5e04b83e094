#pragma once

#include "base/platform/Clock.h"
#include "base/platform/Mounts.h"
#include "base/platform/Shell.h"
#include "base/platform/SysIo.h"

#include <atomic>

// Seams to install together (ScopedPlatform). None is owned. The real seams
// are the base classes themselves, which make the real calls.
struct PlatformSeams
{
    Clock* clock = nullptr;
    SysIo* io = nullptr;
    Mounts* mounts = nullptr;
    Shell* shell = nullptr;
};

// The platform the program runs on: the real machine unless a test or the
// simulator installed seams of its own (ScopedPlatform). Reaching a seam is
// one atomic load and takes no lock, so any thread may do it at any time,
// also while another one installs.
class Platform
{
public:
    Clock& clock() const;
    SysIo& io() const;
    Mounts& mounts() const;
    Shell& shell() const;

private:
    friend class ScopedPlatform;

    std::atomic<Clock*> m_clock{nullptr};
    std::atomic<SysIo*> m_io{nullptr};
    std::atomic<Mounts*> m_mounts{nullptr};
    std::atomic<Shell*> m_shell{nullptr};
};

// The one platform of the process.
Platform& platform();

// Installs seams for the life of a scope, all in one call: the members given
// replace the seams in use, the empty ones leave theirs as they are. At the
// end of the scope the seams it replaced are put back. An installed seam
// must outlive every thread that may still use it; the simulator installs
// its machine once, in an object it never destroys.
class ScopedPlatform
{
public:
    explicit ScopedPlatform(const PlatformSeams& seams);
    explicit ScopedPlatform(Clock* clock) : ScopedPlatform(PlatformSeams{clock}) {}
    explicit ScopedPlatform(SysIo* io) : ScopedPlatform(PlatformSeams{nullptr, io}) {}
    explicit ScopedPlatform(Mounts* mounts) : ScopedPlatform(PlatformSeams{nullptr, nullptr, mounts}) {}
    explicit ScopedPlatform(Shell* shell) : ScopedPlatform(PlatformSeams{nullptr, nullptr, nullptr, shell}) {}
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    const PlatformSeams m_installed;
    PlatformSeams m_previous;
};
