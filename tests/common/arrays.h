// orv arrays for the tests of the libraries built on orv (dornel,
// lightcurve, psftools): arrays made from lists and from functions of the
// index, and their elements back as lists.
#ifndef TESTS_COMMON_ARRAYS_H
#define TESTS_COMMON_ARRAYS_H

#include "orv/MArray.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace test_common {

// A new array with indices first, first + 1, ... holding the values.
template <class T>
orv::MArray<T, 1> arrayOf(const std::vector<T> &values, int first = 1)
{
    orv::MArray<T, 1> a(orv::Range(first, first + static_cast<int>(values.size()) - 1));
    for (std::size_t i = 0; i < values.size(); ++i)
        a(first + static_cast<int>(i)) = values[i];
    return a;
}

inline orv::MArray<double, 1> doubles(std::initializer_list<double> values, int first = 1)
{
    return arrayOf(std::vector<double>(values), first);
}

inline orv::MArray<int, 1> ints(std::initializer_list<int> values, int first = 1)
{
    return arrayOf(std::vector<int>(values), first);
}

inline orv::MArray<std::string, 1> strings(std::initializer_list<std::string> values)
{
    return arrayOf(std::vector<std::string>(values));
}

// An n x n matrix given row by row (the first index is the row).
inline orv::MArray<double, 2> matrix(int n, std::initializer_list<double> rows)
{
    orv::MArray<double, 2> a(n, n);
    auto it = rows.begin();
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c)
            a(r, c) = *it++;
    return a;
}

// An nx x ny image with indices from 1 and pixel (x, y) = f(x, y).
inline orv::MArray<float, 2> array(int nx, int ny, const std::function<double(int, int)> &f)
{
    orv::MArray<float, 2> a(nx, ny);
    for (int y = 1; y <= ny; ++y)
        for (int x = 1; x <= nx; ++x)
            a(x, y) = static_cast<float>(f(x, y));
    return a;
}

// The elements in index order.
template <class T>
std::vector<T> valuesOf(const orv::MArray<T, 1> &a)
{
    std::vector<T> v;
    for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
        v.push_back(a(i));
    return v;
}

// The first n elements in index order.
template <class T>
std::vector<T> firstValues(const orv::MArray<T, 1> &a, int n)
{
    std::vector<T> v;
    for (int i = 0; i < n; ++i)
        v.push_back(a(a.firstIndex(1) + i));
    return v;
}

} // namespace test_common

#endif
