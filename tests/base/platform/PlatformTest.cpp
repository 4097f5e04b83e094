// The platform bundle: one scope swaps the seams, the previous ones come
// back, and other threads read them safely all the while.
#include "base/platform/Platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <typeinfo>
#include <vector>

namespace {

// Doubles that tell themselves apart from the real seams by what they answer.
class FixedClock : public Clock
{
public:
    timespec now() const override { return timespec{42, 0}; }
};

class NoDevices : public SysIo
{
public:
    int access(const char*, int) override { return -2; }
};

class NoTable : public Mounts
{
public:
    bool readTable(std::string* table) override
    {
        *table = "none";
        return true;
    }
};

class Answering : public Shell
{
public:
    explicit Answering(int status) : m_status(status) {}
    int run(const std::string&) override { return m_status; }

private:
    const int m_status;
};

struct Seen
{
    Clock* clock;
    SysIo* io;
    Mounts* mounts;
    Shell* shell;
};

Seen seen()
{
    return {&platform().clock(), &platform().io(), &platform().mounts(), &platform().shell()};
}

} // namespace

TEST(Platform, OneScopeSwapsTheSeamsAndPutsThePreviousOnesBack)
{
    // Nothing installed: the real seams, which are the base classes.
    const Seen real = seen();
    EXPECT_EQ(typeid(Clock), typeid(*real.clock));
    EXPECT_EQ(typeid(SysIo), typeid(*real.io));
    EXPECT_EQ(typeid(Mounts), typeid(*real.mounts));
    EXPECT_EQ(typeid(Shell), typeid(*real.shell));

    FixedClock clock;
    NoDevices io;
    NoTable mounts;
    Answering outerShell(7);
    Answering innerShell(9);
    {
        ScopedPlatform outer(&outerShell);
        EXPECT_EQ(7, platform().shell().run("true"));
        {
            ScopedPlatform all({&clock, &io, &mounts, &innerShell});
            EXPECT_EQ(42, platform().clock().now().tv_sec);
            EXPECT_EQ(-2, platform().io().access("/", 0));
            std::string table;
            EXPECT_TRUE(platform().mounts().readTable(&table));
            EXPECT_EQ("none", table);
            EXPECT_EQ(9, platform().shell().run("true"));
        }
        // The previous seams, not the real ones: the outer shell is back.
        EXPECT_EQ(real.clock, &platform().clock());
        EXPECT_EQ(real.io, &platform().io());
        EXPECT_EQ(real.mounts, &platform().mounts());
        EXPECT_EQ(&outerShell, &platform().shell());
        {
            // Empty members leave the seams in use as they are.
            ScopedPlatform some({&clock, nullptr, &mounts});
            EXPECT_EQ(&clock, &platform().clock());
            EXPECT_EQ(real.io, &platform().io());
            EXPECT_EQ(&mounts, &platform().mounts());
            EXPECT_EQ(&outerShell, &platform().shell());
        }
        EXPECT_EQ(real.clock, &platform().clock());
        EXPECT_EQ(real.mounts, &platform().mounts());
    }
    const Seen after = seen();
    EXPECT_EQ(real.clock, after.clock);
    EXPECT_EQ(real.io, after.io);
    EXPECT_EQ(real.mounts, after.mounts);
    EXPECT_EQ(real.shell, after.shell);
}

TEST(Platform, OtherThreadsReadTheSeamsWhileScopesComeAndGo)
{
    const Seen real = seen();
    FixedClock clock;
    NoDevices io;
    NoTable mounts;
    Answering shell(9);

    std::atomic<bool> stop{false};
    std::atomic<int> strays{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!stop.load()) {
                // Each seam is the real one or the double, and answers as such.
                const Seen now = seen();
                const bool fixed = now.clock->now().tv_sec == 42;
                if ((now.clock == &clock) != fixed || (now.clock != &clock && now.clock != real.clock))
                    ++strays;
                if (now.io != &io && now.io != real.io)
                    ++strays;
                if (now.mounts != &mounts && now.mounts != real.mounts)
                    ++strays;
                if (now.shell == &shell ? now.shell->run("true") != 9 : now.shell != real.shell)
                    ++strays;
                ++reads;
            }
        });
    // Enough swaps that the readers see both sides many times.
    for (int i = 0; i < 20000 || reads.load() < 1000; ++i) {
        ScopedPlatform swapped({&clock, &io, &mounts, &shell});
        std::this_thread::yield();
    }
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(0, strays.load());
    EXPECT_EQ(real.clock, &platform().clock());
    EXPECT_EQ(real.shell, &platform().shell());
}
