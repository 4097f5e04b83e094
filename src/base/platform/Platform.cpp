#include "base/platform/Platform.h"

namespace {

// Constant-initialised and never destroyed: threads that end while the process
// exits (a print's clean-up) still reach the platform.
Platform g_platform;

// The real seams are made on first use and never destroyed, for the same reason.
template <typename Seam>
Seam& installedOrReal(const std::atomic<Seam*>& installed)
{
    static Seam* const real = new Seam;
    Seam* seam = installed.load(std::memory_order_acquire);
    return seam ? *seam : *real;
}

// Puts `seam` in place when given; the seam it replaced (empty: none replaced, or the real one).
template <typename Seam>
Seam* swapIn(std::atomic<Seam*>& slot, Seam* seam)
{
    return seam ? slot.exchange(seam, std::memory_order_acq_rel) : nullptr;
}

template <typename Seam>
void putBack(std::atomic<Seam*>& slot, Seam* installed, Seam* previous)
{
    if (installed)
        slot.store(previous, std::memory_order_release);
}

} // namespace

Platform& platform()
{
    return g_platform;
}

Clock& Platform::clock() const
{
    return installedOrReal(m_clock);
}

SysIo& Platform::io() const
{
    return installedOrReal(m_io);
}

Mounts& Platform::mounts() const
{
    return installedOrReal(m_mounts);
}

Shell& Platform::shell() const
{
    return installedOrReal(m_shell);
}

ScopedPlatform::ScopedPlatform(const PlatformSeams& seams) : m_installed(seams)
{
    Platform& p = platform();
    m_previous.clock = swapIn(p.m_clock, seams.clock);
    m_previous.io = swapIn(p.m_io, seams.io);
    m_previous.mounts = swapIn(p.m_mounts, seams.mounts);
    m_previous.shell = swapIn(p.m_shell, seams.shell);
}

ScopedPlatform::~ScopedPlatform()
{
    Platform& p = platform();
    putBack(p.m_clock, m_installed.clock, m_previous.clock);
    putBack(p.m_io, m_installed.io, m_previous.io);
    putBack(p.m_mounts, m_installed.mounts, m_previous.mounts);
    putBack(p.m_shell, m_installed.shell, m_previous.shell);
}
