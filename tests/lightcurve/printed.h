// What a call prints on standard output, and the output precision kept
// across a test that changes it.
#ifndef TESTS_LIGHTCURVE_PRINTED_H
#define TESTS_LIGHTCURVE_PRINTED_H

#include <gtest/gtest.h>

#include <functional>
#include <ios>
#include <iostream>
#include <string>

// The precision of standard output, set back when it goes out of scope: the
// tests that follow in the same process print with the precision they
// expect, whether or not an assertion ended the test early.
struct KeepPrecision {
    std::streamsize kept = std::cout.precision();
    ~KeepPrecision() { std::cout.precision(kept); }
};

inline std::string printed(const std::function<void()> &call)
{
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

#endif
