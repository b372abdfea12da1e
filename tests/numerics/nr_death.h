// Death tests of the fatal numerical error: nrerror prints through pfunc and
// exits with status 100.  The child prints to standard error instead, so
// that the expected text can be matched.
#ifndef TESTS_NUMERICS_NR_DEATH_H
#define TESTS_NUMERICS_NR_DEATH_H

#include "numerics/nrutil.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

inline int print_to_stderr(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = vfprintf(stderr, fmt, ap);
    va_end(ap);
    return r;
}

inline void prepare_fatal_child()
{
    pfunc = print_to_stderr;
#if defined(__SANITIZE_ADDRESS__)
    // The fatal path frees nothing on purpose; that is not a leak.
    __lsan_disable();
#endif
}

#define EXPECT_NRERROR(statement, regex)                                   \
    EXPECT_EXIT(                                                           \
        {                                                                  \
            prepare_fatal_child();                                         \
            statement;                                                     \
        },                                                                 \
        ::testing::ExitedWithCode(100), regex)

#endif
