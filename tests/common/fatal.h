// Death tests of the fatal numerical error: without a handler of the
// program's, nrerror prints the reason on standard error, where the
// expected text is matched, and exits with status 100.
#ifndef TESTS_COMMON_FATAL_H
#define TESTS_COMMON_FATAL_H

#include "common/program.h"
#include "numerics/nrutil.h"

#include <gtest/gtest.h>

#define EXPECT_NRERROR(statement, regex)                                                           \
    EXPECT_EXIT(                                                                                   \
        {                                                                                          \
            test_common::skip_leak_check();                                                        \
            statement;                                                                             \
        },                                                                                         \
        ::testing::ExitedWithCode(100), regex)

#endif
