# Cross build for the board's 32-bit ARM (armhf) with Debian's cross compiler
# and the multiarch :armhf development packages. Programs run through
# user-mode emulation, so tests and test discovery work on the build machine;
# moc and rcc stay the build machine's own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(TALVIKS_TARGET_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${TALVIKS_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TALVIKS_TARGET_TRIPLE}-g++)
# Multiarch: libraries under /usr/lib/arm-linux-gnueabihf, headers shared in /usr/include.
set(CMAKE_LIBRARY_ARCHITECTURE ${TALVIKS_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# pkg-config reads only the armhf .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TALVIKS_TARGET_TRIPLE}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# The emulated program loads the multiarch armhf libraries, the same ones it
# was linked against. (Not -L /usr/arm-linux-gnueabihf: the cross compiler's
# own C library copy there crashes when mixed with the multiarch libraries.)
find_program(TALVIKS_QEMU qemu-arm-static qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TALVIKS_QEMU}
    -E LD_LIBRARY_PATH=/lib/${TALVIKS_TARGET_TRIPLE}:/usr/lib/${TALVIKS_TARGET_TRIPLE})
