#pragma once

// Contract checks that stay on in every build type: a caller that breaks a
// contract stops the process with the usual assertion message, whatever NDEBUG says.
#define TALVIKS_ASSERT(expr)                                                   \
    (static_cast<bool>(expr)                                                   \
         ? void(0)                                                             \
         : assertionFailed(#expr, __FILE__, __LINE__, __PRETTY_FUNCTION__))

[[noreturn]] void assertionFailed(const char* expression, const char* file, unsigned line,
                                  const char* function);
