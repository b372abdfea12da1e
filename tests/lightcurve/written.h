// What the light-curve writers write: the lines of their files, the data
// rows and their numbers, printf formatting (the independent side of the
// text-layout checks) and the refusals of writers called without data.
#ifndef TESTS_LIGHTCURVE_WRITTEN_H
#define TESTS_LIGHTCURVE_WRITTEN_H

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "common/scratch.h"
#include "lightcurve/Lightcurve.h"
#include "printed.h"

// Three points with chi values, file names and box values, the first time
// with more digits than a float holds.
inline Lightcurve three()
{
    Lightcurve lc(test_common::doubles({2453000.123456789, 2453000.5, 2453001.25}),
                  test_common::doubles({1.0, 0.9987654321, 1234.5678}),
                  test_common::doubles({0.001, 0.0015, 2.5}), test_common::doubles({1.5, 0.25, 2}),
                  test_common::strings({"a.fits", "night2/b.fits", "c.fits"}));
    orv::MArray<double, 1> box = lc.getBoxval();
    box(1) = 0.99;
    box(2) = 1;
    box(3) = -0.5;
    return lc;
}

inline std::vector<std::string> linesOf(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The lines that are not comments.
inline std::vector<std::string> dataRows(const std::string &path)
{
    std::vector<std::string> rows;
    for (const std::string &line : linesOf(path))
        if (line[0] != '#')
            rows.push_back(line);
    return rows;
}

// The first count numbers of a line, read by white space.
inline std::vector<double> numbersOf(const std::string &line, int count)
{
    std::istringstream words(line);
    std::vector<double> v(count);
    for (double &x : v)
        words >> x;
    return v;
}

inline std::string format(const char *f, ...)
{
    char text[1024];
    va_list args;
    va_start(args, f);
    std::vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

// What a call prints on standard error.
template <class Call>
std::string printedOnError(Call call)
{
    testing::internal::CaptureStderr();
    call();
    return testing::internal::GetCapturedStderr();
}

// A writer called without what it writes.
struct Refusal {
    std::function<void()> write;
    const char *message;
};

// Each writer prints its refusal on standard output and creates no file.
inline void expectRefusals(const std::vector<Refusal> &cases, const std::string &file)
{
    for (const Refusal &c : cases) {
        EXPECT_EQ(c.message, printed(c.write));
        EXPECT_FALSE(test_common::exists(file)) << c.message;
    }
}

#endif
