// Images for the sky tests, made from a function of the pixel position.
#ifndef TESTS_DORNEL_TEST_ARRAYS_H
#define TESTS_DORNEL_TEST_ARRAYS_H

#include <functional>

#include "orv/MArray.h"

// An nx x ny image with indices from 1 and pixel (x, y) = f(x, y).
inline orv::MArray<float, 2> array(int nx, int ny, const std::function<double(int, int)>& f) {
    orv::MArray<float, 2> a(nx, ny);
    for (int y = 1; y <= ny; ++y)
        for (int x = 1; x <= nx; ++x) a(x, y) = static_cast<float>(f(x, y));
    return a;
}

#endif
