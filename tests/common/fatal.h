// Death tests of the fatal numerical error: without a handler of the
// program's, nrerror prints the reason on standard error, where the
// expected text is matched, and exits with status 100.
#ifndef TESTS_COMMON_FATAL_H
#define TESTS_COMMON_FATAL_H

#include "numerics/nrutil.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

inline void prepare_fatal_child()
{
#if defined(__SANITIZE_ADDRESS__)
    // The fatal path frees nothing on purpose; that is not a leak.
    __lsan_disable();
#endif
}

#define EXPECT_NRERROR(statement, regex)                                                           \
    EXPECT_EXIT(                                                                                   \
        {                                                                                          \
            prepare_fatal_child();                                                                 \
            statement;                                                                             \
        },                                                                                         \
        ::testing::ExitedWithCode(100), regex)

#endif
