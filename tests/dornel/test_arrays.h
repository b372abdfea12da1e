// Small arrays for the tests: images made from a function of the pixel
// position, and vectors and matrices written out as lists.
#ifndef TESTS_DORNEL_TEST_ARRAYS_H
#define TESTS_DORNEL_TEST_ARRAYS_H

#include <functional>
#include <initializer_list>

#include "orv/MArray.h"

// An nx x ny image with indices from 1 and pixel (x, y) = f(x, y).
inline orv::MArray<float, 2> array(int nx, int ny, const std::function<double(int, int)>& f) {
    orv::MArray<float, 2> a(nx, ny);
    for (int y = 1; y <= ny; ++y)
        for (int x = 1; x <= nx; ++x) a(x, y) = static_cast<float>(f(x, y));
    return a;
}

// A vector with indices 1..n holding the values.
inline orv::MArray<double, 1> vec(std::initializer_list<double> values) {
    orv::MArray<double, 1> v(static_cast<int>(values.size()));
    int i = 1;
    for (double x : values) v(i++) = x;
    return v;
}
inline orv::MArray<int, 1> ivec(std::initializer_list<int> values) {
    orv::MArray<int, 1> v(static_cast<int>(values.size()));
    int i = 1;
    for (int x : values) v(i++) = x;
    return v;
}

// An n x n matrix given row by row (the first index is the row).
inline orv::MArray<double, 2> matrix(int n, std::initializer_list<double> rows) {
    orv::MArray<double, 2> a(n, n);
    auto it = rows.begin();
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c) a(r, c) = *it++;
    return a;
}

#endif
