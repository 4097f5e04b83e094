# One layout of off_t and time_t for every target: a 32-bit board otherwise
# sees files past 2 GiB fail (and directory reads fail under emulation with
# EOVERFLOW), functions shared between libraries take offsets of two sizes,
# and the clock, set ten years ahead at start, wraps in January 2038.
# glibc offers a 64-bit time_t on 32-bit machines from 2.34 on, only together
# with 64-bit file offsets; on 64-bit machines both are already 64 bits.
include(CheckCSourceCompiles)
add_compile_definitions(_FILE_OFFSET_BITS=64)
set(CMAKE_REQUIRED_DEFINITIONS -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64)
check_c_source_compiles([[
#include <sys/types.h>
#include <time.h>
_Static_assert(sizeof(time_t) >= 8, "32-bit time_t");
_Static_assert(sizeof(off_t) >= 8, "32-bit off_t");
int main(void) { return 0; }
]] TALVIKS_HAVE_64BIT_TIME)
unset(CMAKE_REQUIRED_DEFINITIONS)
if(TALVIKS_HAVE_64BIT_TIME)
  add_compile_definitions(_TIME_BITS=64)
else()
  message(WARNING "This C library has no 64-bit time_t for this target: the clock wraps in 2038")
endif()
