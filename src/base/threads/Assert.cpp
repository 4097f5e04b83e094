#include "base/threads/Assert.h"

#include <cstdio>
#include <cstdlib>

extern const char* __progname;

void assertionFailed(const char* expression, const char* file, unsigned line, const char* function)
{
    fprintf(stderr, "%s: %s:%u: %s: Assertion `%s' failed.\n", __progname, file, line, function, expression);
    fflush(stderr);
    abort();
}
