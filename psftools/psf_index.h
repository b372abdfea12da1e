// Index helpers shared by the sources of class psf: which indices two arrays
// have in common, whether a pixel lies inside an image, and the zero-filled
// arrays they start from.
#ifndef PSFTOOLS_PSF_INDEX_H
#define PSFTOOLS_PSF_INDEX_H

#include <algorithm>
#include <cmath>

#include "orv/MArray.h"

namespace psf_index {

// An inclusive index interval; empty when lo > hi.
struct Span {
    int lo;
    int hi;
};

// The indices of dimension da of a that dimension db of b has as well.
template <class A, class B>
Span common(const A &a, int da, const B &b, int db)
{
    return {std::max(a.firstIndex(da), b.firstIndex(db)),
            std::min(a.lastIndex(da), b.lastIndex(db))};
}

// The indices of dimension d of a within lo..hi.
template <class A>
Span within(const A &a, int d, int lo, int hi)
{
    return {std::max(a.firstIndex(d), lo), std::min(a.lastIndex(d), hi)};
}

// Pixel (i, j) lies inside the index ranges of the 2-D array a.
template <class A>
bool inside(const A &a, long i, long j)
{
    return i >= a.firstIndex(1) && i <= a.lastIndex(1) && j >= a.firstIndex(2) &&
           j <= a.lastIndex(2);
}

// The pixel nearest to a position; a position no image can hold (beyond
// ±1e9, or not finite) gives a pixel far outside every image, so that
// offsets from it cannot overflow.
inline long nearestPixel(double v)
{
    if (!(std::fabs(v) < 1e9))
        return 1000000000L;
    return std::lrint(v);
}

// The eight neighbours of a pixel or map cell, in the order the searches
// test them.
constexpr int kNeighbours[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                   {1, 0},   {-1, 1}, {0, 1},  {1, 1}};

// The item numbers 1.. that every one of the 1-D lists holds.
template <class A, class... B>
Span items(const A &a, const B &...b)
{
    return {std::max({1, a.firstIndex(1), b.firstIndex(1)...}),
            std::min({a.lastIndex(1), b.lastIndex(1)...})};
}

// A zero-filled square array with indices −h..h in both dimensions.
inline orv::MArray<double, 2> zeroSquare(int h)
{
    orv::MArray<double, 2> a{orv::Range(-h, h), orv::Range(-h, h)};
    a = 0.0;
    return a;
}

// Sets every element of a to 0; an array without elements stays as it is.
inline void zero(orv::MArray<double, 2> &a)
{
    if (a.elementCount() > 0)
        a = 0.0;
}

} // namespace psf_index

#endif
