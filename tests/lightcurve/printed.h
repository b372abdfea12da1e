// What a call prints on standard output.
#ifndef TESTS_LIGHTCURVE_PRINTED_H
#define TESTS_LIGHTCURVE_PRINTED_H

#include <gtest/gtest.h>

#include <functional>
#include <string>

inline std::string printed(const std::function<void()> &call)
{
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

#endif
