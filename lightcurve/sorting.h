// Sorting and order statistics of one-dimensional arrays: heap and quick
// sorts that carry companion arrays along, a sorted copy, the median, the
// scatter about the median and a trapezoidal integral.
//
// Elements are addressed by their position from the array's first index, so
// arrays of any index base and stride are handled. NaN values keep their
// positions in the sorted copy and in the median's ordering; the other values
// are ordered around them.
#ifndef LIGHTCURVE_SORTING_H
#define LIGHTCURVE_SORTING_H

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

#include "orv/MArray.h"

// Sorts a ascending in place (heap sort; equal keys may change places).
void hpsort4(orv::MArray<double, 1> a);
// Sorts a ascending; every move of a key is done on b, c and d at the same
// positions. Companions shorter than a are refused with a message.
void hpsort4(orv::MArray<double, 1> a, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
             orv::MArray<double, 1> d);

// Quick sort with a median-of-three pivot, insertion sort for parts of up to
// seven elements; the same results as the heap sorts for the keys.
void quicksort(orv::MArray<double, 1> a);
void quicksort4(orv::MArray<double, 1> a, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
                orv::MArray<double, 1> d);

// The order that sorts key[1..n] ascending: element p of the result (p =
// 1..n; element 0 unused) is the place whose element belongs at place p.
// Equal keys keep the order of their places; places of NaN keys keep their
// elements. Linear in n.
std::vector<int> sortingSources(const orv::MArray<double, 1> &key, int n);

// A vector of ints with valid elements p[nl]..p[nh] and one spare after them,
// for a lowest index nl of 0 or more. Returns null after printing
// "allocation failure in intvector()" when no such vector can be made.
int *intvector(long nl, long nh);
// Releases a vector made by intvector (null is ignored).
void free_intvector(int *v, long nl, long nh);

namespace lightcurve_detail {

template <class T>
bool isNaN(const T &v)
{
    return v != v;
}

// Orders v[0..n) as an exchange sort would: NaNs stay where they are, the
// other values ascend through the remaining places.
template <class T>
void sortAroundNaN(T *v, std::size_t n)
{
    std::size_t nans = 0;
    for (std::size_t i = 0; i < n; ++i)
        nans += isNaN(v[i]) ? 1 : 0;
    if (nans == 0) {
        std::sort(v, v + n);
        return;
    }
    std::vector<T> numbers;
    numbers.reserve(n - nans);
    for (std::size_t i = 0; i < n; ++i)
        if (!isNaN(v[i]))
            numbers.push_back(v[i]);
    std::sort(numbers.begin(), numbers.end());
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!isNaN(v[i]))
            v[i] = numbers[k++];
}

// The elements in index order; tells whether one of them is NaN.
template <class T>
std::vector<T> valuesOf(const orv::MArray<T, 1> &a, bool &hasNaN)
{
    std::vector<T> v(static_cast<std::size_t>(a.length(1)));
    const T *p = a.dataFirst();
    const orv::index_t s = a.stride(1);
    hasNaN = false;
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = p[static_cast<orv::index_t>(i) * s];
        hasNaN = hasNaN || isNaN(v[i]);
    }
    return v;
}

} // namespace lightcurve_detail

// A new array of a's shape holding a's elements in ascending order.
template <class T>
orv::MArray<T, 1> sort1(const orv::MArray<T, 1> &a)
{
    orv::MArray<T, 1> sorted(a.shape());
    const std::size_t n = static_cast<std::size_t>(a.length(1));
    if (n == 0)
        return sorted;
    const T *from = a.dataFirst();
    const orv::index_t s = a.stride(1);
    T *to = sorted.dataFirst();
    for (std::size_t i = 0; i < n; ++i)
        to[i] = from[static_cast<orv::index_t>(i) * s];
    lightcurve_detail::sortAroundNaN(to, n);
    return sorted;
}

// The middle element of the sorted values for an odd count, the mean of the
// two middle ones for an even count; NaN for an empty array. a is unchanged.
template <class T>
T median(orv::MArray<T, 1> a)
{
    const std::size_t n = static_cast<std::size_t>(a.length(1));
    if (n == 0)
        return std::numeric_limits<T>::quiet_NaN();
    bool hasNaN;
    std::vector<T> v = lightcurve_detail::valuesOf(a, hasNaN);
    const std::size_t k = n / 2;
    if (hasNaN) {
        lightcurve_detail::sortAroundNaN(v.data(), n);
        return n % 2 == 1 ? v[k] : (v[k - 1] + v[k]) * static_cast<T>(0.5);
    }
    std::nth_element(v.begin(), v.begin() + k, v.end());
    if (n % 2 == 1)
        return v[k];
    const T lower = *std::max_element(v.begin(), v.begin() + k);
    return (lower + v[k]) * static_cast<T>(0.5);
}

// sqrt(sum (a[i] - median)^2 / (n - 1)); NaN for fewer than two elements.
template <class T>
T rms(orv::MArray<T, 1> a)
{
    const int n = a.length(1);
    if (n < 2)
        return std::numeric_limits<T>::quiet_NaN();
    const T m = median(a);
    const T *p = a.dataFirst();
    const orv::index_t s = a.stride(1);
    T sum = 0;
    for (int i = 0; i < n; ++i) {
        const T d = p[i * s] - m;
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(n - 1));
}

// Trapezoidal integral of the n values fp[k fs] over the abscissae xp[k xs],
// k = 0..n-1; fp[0] when the first and last abscissae are equal, 0 for no
// values. The values may lie in any memory, a buffer on the stack included.
template <class T>
T integ(const T *fp, orv::index_t fs, const T *xp, orv::index_t xs, orv::index_t n)
{
    if (n == 0)
        return 0;
    const orv::index_t last = n - 1;
    if (xp[0] == xp[last * xs])
        return fp[0];
    T sum = 0;
    for (orv::index_t i = 0; i < last; ++i)
        sum += fp[i * fs] * xp[(i + 1) * xs] - fp[(i + 1) * fs] * xp[i * xs];
    return 0.5 * (fp[last * fs] * xp[last * xs] - fp[0] * xp[0] + sum);
}

// The same over the elements of f and x, element k of f paired with element
// k of x. An x shorter than f is refused with a message and gives NaN.
template <class T>
T integ(const orv::MArray<T, 1> &f, const orv::MArray<T, 1> &x)
{
    const int n = f.length(1);
    if (x.length(1) < n) {
        std::cout << "error: integ needs an abscissa for every integrand value!" << std::endl;
        return std::numeric_limits<T>::quiet_NaN();
    }
    return integ(f.dataFirst(), f.stride(1), x.dataFirst(), x.stride(1), n);
}

#endif
