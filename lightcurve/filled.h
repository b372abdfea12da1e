// Per-point arrays of one value: the columns a light curve fills in when its
// source does not give them.
#ifndef LIGHTCURVE_FILLED_H
#define LIGHTCURVE_FILLED_H

#include <string>
#include <vector>

#include "orv/MArray.h"

// The file name of a point whose source file is not known.
inline const char *const kNoFileInformation = "no file information";

// A new array of n elements, indexed from 1, each of them value.
template <class T>
orv::MArray<T, 1> filled(int n, const T &value)
{
    orv::MArray<T, 1> a(n);
    a = value;
    return a;
}

// A new array, indexed from 1, of the elements of v in order.
template <class T>
orv::MArray<T, 1> fromVector(const std::vector<T> &v)
{
    orv::MArray<T, 1> a(static_cast<int>(v.size()));
    for (std::size_t k = 0; k < v.size(); ++k)
        a(static_cast<int>(k) + 1) = v[k];
    return a;
}

// A new array, indexed from 1, of the elements of a at the given indices,
// in order.
template <class T>
orv::MArray<T, 1> atPoints(const orv::MArray<T, 1> &a, const std::vector<int> &points)
{
    orv::MArray<T, 1> b(static_cast<int>(points.size()));
    for (std::size_t k = 0; k < points.size(); ++k)
        b(static_cast<int>(k) + 1) = a(points[k]);
    return b;
}

// n file names "no file information".
inline orv::MArray<std::string, 1> noFileNames(int n)
{
    return filled(n, std::string(kNoFileInformation));
}

#endif
