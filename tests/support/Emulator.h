#pragma once

#include <string>
#include <vector>

// A cross build runs its tests through a user-mode emulator. The emulator
// cannot start another program of the target by itself, so a test that
// starts one of this build's programs puts the emulator in front of it.
namespace testsupport {

// The emulator's command words; empty in a native build.
const std::vector<std::string>& emulator();
inline bool underEmulator()
{
    return !emulator().empty();
}

// This test program's own path (the emulated program's, not the emulator's).
std::string selfPath();
// The words that run `program`, a program of this build: the emulator's
// (if any), then the program.
std::vector<std::string> programArgv(const std::string& program);

} // namespace testsupport

// For a test that needs what user-mode emulation does not provide.
#define TALVIKS_SKIP_UNDER_EMULATOR(why)                                                                       \
    if (testsupport::underEmulator())                                                                          \
    GTEST_SKIP() << "cannot run under the emulator: " << why
