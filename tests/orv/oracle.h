// Reference-loop oracle for array statements: arrays are made in several
// layouts (fresh, negative bases, windows, steps, reversed, slices), filled
// through plain indices, and every statement is compared element by element
// with a scalar computation over the values read before it ran. Elements of
// the parent storage outside a destination view must stay untouched.
#ifndef ORV_TESTS_ORACLE_H
#define ORV_TESTS_ORACLE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "orv/MArray.h"

namespace oracle {

using orv::index_t;
using orv::MArray;
using orv::Range;

enum class Layout { Fresh, NegativeBase, Window, Stepped, Reversed, Slice, SliceAcross };

inline const char *name(Layout l)
{
    switch (l) {
    case Layout::Fresh:
        return "fresh";
    case Layout::NegativeBase:
        return "negative-base";
    case Layout::Window:
        return "window";
    case Layout::Stepped:
        return "stepped";
    case Layout::Reversed:
        return "reversed";
    case Layout::Slice:
        return "slice";
    case Layout::SliceAcross:
        return "slice-across";
    }
    return "?";
}

// Layouts available per number of dimensions (a one-dimensional window is
// the same as a stepped view with step 1, so it is left out).
template <int N>
std::vector<Layout> layouts()
{
    if (N == 1)
        return {Layout::Fresh,    Layout::NegativeBase, Layout::Stepped,
                Layout::Reversed, Layout::Slice,        Layout::SliceAcross};
    return {Layout::Fresh,   Layout::NegativeBase, Layout::Window,
            Layout::Stepped, Layout::Reversed,     Layout::Slice};
}

template <class T>
T sentinel()
{
    if constexpr (std::is_same<T, std::string>::value)
        return "sentinel";
    else if constexpr (std::is_same<T, bool>::value)
        return true;
    else
        return static_cast<T>(97);
}

// An array in a layout, with the raw storage of the array it was cut from.
template <class T, int N>
struct Made {
    MArray<T, N> view;
    const T *block = nullptr;
    index_t blockCount = 0;
};

template <class T, int N, class Parent>
Made<T, N> cut(const Parent &parent, MArray<T, N> view)
{
    Made<T, N> m;
    m.view.makeReference(view);
    m.block = parent.memoryBlock()->data;
    m.blockCount = parent.elementCount();
    return m;
}

// Every element of the parent storage starts as the sentinel.
template <class A>
A filled(A a)
{
    a = sentinel<typename A::value_type>();
    return a;
}

template <class T>
Made<T, 1> make(Layout l, const int (&n)[1])
{
    const int len = n[0];
    switch (l) {
    case Layout::Fresh: {
        MArray<T, 1> a = filled(MArray<T, 1>(len));
        return cut<T, 1>(a, a);
    }
    case Layout::NegativeBase: {
        MArray<T, 1> a = filled(MArray<T, 1>(Range(-3, len - 4)));
        return cut<T, 1>(a, a);
    }
    case Layout::Stepped: {
        MArray<T, 1> a = filled(MArray<T, 1>(2 * len + 1));
        return cut<T, 1>(a, a(Range(2, 2 * len, 2)));
    }
    case Layout::Reversed: {
        MArray<T, 1> a = filled(MArray<T, 1>(len + 2));
        return cut<T, 1>(a, a(Range(len + 1, 2, -1)));
    }
    case Layout::Slice: { // a row of a 2-D array
        MArray<T, 2> a = filled(MArray<T, 2>(len + 1, 3));
        return cut<T, 1>(a, MArray<T, 1>(a, Range(2, len + 1), 2));
    }
    case Layout::SliceAcross: { // a column of a 2-D array
        MArray<T, 2> a = filled(MArray<T, 2>(3, len));
        return cut<T, 1>(a, MArray<T, 1>(a, 2, Range::all()));
    }
    default:
        break;
    }
    throw std::logic_error("layout");
}

template <class T>
Made<T, 2> make(Layout l, const int (&n)[2])
{
    const int nx = n[0], ny = n[1];
    switch (l) {
    case Layout::Fresh: {
        MArray<T, 2> a = filled(MArray<T, 2>(nx, ny));
        return cut<T, 2>(a, a);
    }
    case Layout::NegativeBase: {
        MArray<T, 2> a = filled(MArray<T, 2>(Range(-3, nx - 4), Range(-2, ny - 3)));
        return cut<T, 2>(a, a);
    }
    case Layout::Window: {
        MArray<T, 2> a = filled(MArray<T, 2>(nx + 5, ny + 4));
        return cut<T, 2>(a, a(Range(3, nx + 2), Range(2, ny + 1)));
    }
    case Layout::Stepped: { // every second element along dimension 1: contiguous with stride 2
        MArray<T, 2> a = filled(MArray<T, 2>(2 * nx, ny));
        return cut<T, 2>(a, a(Range(1, 2 * nx - 1, 2), Range::all()));
    }
    case Layout::Reversed: { // backwards with step 2 along dimension 1, every second row
        MArray<T, 2> a = filled(MArray<T, 2>(2 * nx + 1, 2 * ny + 1));
        return cut<T, 2>(a, a(Range(2 * nx, 2, -2), Range(2, 2 * ny, 2)));
    }
    case Layout::Slice: { // a plane of a 3-D array with the middle index fixed
        MArray<T, 3> a = filled(MArray<T, 3>(nx, 3, ny));
        return cut<T, 2>(a, MArray<T, 2>(a, Range::all(), 2, Range::all()));
    }
    default:
        break;
    }
    throw std::logic_error("layout");
}

// Element at traversal position p (dimension 1 fastest), through plain
// indices.
template <class T>
T &at(MArray<T, 1> &a, index_t p)
{
    return a(a.firstIndex(1) + static_cast<int>(p));
}
template <class T>
T &at(MArray<T, 2> &a, index_t p)
{
    const int nx = a.length(1);
    return a(a.firstIndex(1) + static_cast<int>(p % nx),
             a.firstIndex(2) + static_cast<int>(p / nx));
}

template <class T>
struct Values {
    std::mt19937 &rng;
    T operator()()
    {
        std::uniform_int_distribution<int> pick(0, 9);
        int k = pick(rng);
        if constexpr (std::is_same<T, std::string>::value) {
            static const char *words[] = {"", "a", "bc", "def"};
            return words[k % 4];
        } else if constexpr (std::is_same<T, bool>::value) {
            return k % 2 == 0;
        } else if constexpr (std::is_integral<T>::value) {
            return static_cast<T>(k - 4);
        } else {
            // Blanks (0), a few fixed values, NaN and fractions.
            switch (k) {
            case 0:
            case 1:
                return T(0);
            case 2:
                return T(-1);
            case 3:
                return T(2.5);
            case 4:
                return std::numeric_limits<T>::quiet_NaN();
            default:
                return static_cast<T>(std::uniform_real_distribution<double>(-5, 5)(rng));
            }
        }
    }
};

template <class T>
bool same(const T &a, const T &b)
{
    if constexpr (std::is_floating_point<T>::value)
        if (std::isnan(a) && std::isnan(b))
            return true;
    return a == b;
}

// The exact median by sorting the values that are neither blank nor NaN;
// the marker (NaN without one) when none is left.
template <class T>
double sortedMedian(std::vector<T> v, bool useMarker, T marker)
{
    std::vector<T> kept;
    for (T x : v)
        if (!std::isnan(double(x)) && !(useMarker && x == marker))
            kept.push_back(x);
    if (kept.empty())
        return useMarker ? double(marker) : std::numeric_limits<double>::quiet_NaN();
    std::sort(kept.begin(), kept.end());
    const std::size_t n = kept.size();
    if (n % 2)
        return double(kept[n / 2]);
    if constexpr (std::is_floating_point<T>::value)
        return double((kept[n / 2 - 1] + kept[n / 2]) * T(0.5));
    return (double(kept[n / 2 - 1]) + double(kept[n / 2])) * 0.5;
}

template <class T, int N>
std::vector<T> snapshot(MArray<T, N> &a)
{
    std::vector<T> v(static_cast<std::size_t>(a.elementCount()));
    for (index_t p = 0; p < a.elementCount(); ++p)
        v[p] = at(a, p);
    return v;
}

template <class T, int N>
void randomise(MArray<T, N> &a, std::mt19937 &rng)
{
    Values<T> gen{rng};
    for (index_t p = 0; p < a.elementCount(); ++p)
        at(a, p) = gen();
}

// The parent storage of m outside its view still holds the sentinel.
template <class T, int N>
::testing::AssertionResult untouchedOutside(Made<T, N> &m)
{
    std::set<const T *> inside;
    for (index_t p = 0; p < m.view.elementCount(); ++p)
        inside.insert(&at(m.view, p));
    for (index_t k = 0; k < m.blockCount; ++k)
        if (!inside.count(m.block + k) && !(m.block[k] == sentinel<T>()))
            return ::testing::AssertionFailure()
                   << "element " << k << " of the parent storage was written";
    return ::testing::AssertionSuccess();
}

template <int N>
std::vector<std::vector<int>> sizes()
{
    if (N == 1)
        return {{7}, {4}, {1}, {10}};
    return {{7, 5}, {4, 3}, {1, 1}, {9, 2}, {3, 1}};
}

struct Combination {
    Layout dest;
    Layout operands;
};

// Every layout against itself, and each against fresh arrays in both roles.
template <int N>
std::vector<Combination> combinations()
{
    std::vector<Combination> c;
    for (Layout l : layouts<N>()) {
        c.push_back({l, l});
        if (l != Layout::Fresh) {
            c.push_back({Layout::Fresh, l});
            c.push_back({l, Layout::Fresh});
        }
    }
    return c;
}

// Runs stmt(D, A, B, ...) over arrays of element types TD, TO... in every
// combination of layouts and sizes, and compares D at every position with
// ref(old D, old A, old B, ...) converted to TD.
template <int N, class TD, class... TO, class Stmt, class Ref>
void checkStatement(Stmt stmt, Ref ref)
{
    std::mt19937 rng(20240611);
    for (const Combination &c : combinations<N>())
        for (const std::vector<int> &sz : sizes<N>()) {
            int len[N];
            for (int d = 0; d < N; ++d)
                len[d] = sz[d];
            SCOPED_TRACE(std::string("destination ") + name(c.dest) + ", operands " +
                         name(c.operands) + ", lengths " + ::testing::PrintToString(sz));
            Made<TD, N> dest = make<TD>(c.dest, len);
            std::tuple<Made<TO, N>...> ops{make<TO>(c.operands, len)...};
            randomise(dest.view, rng);
            std::apply([&](auto &...o) { (randomise(o.view, rng), ...); }, ops);
            const std::vector<TD> before = snapshot(dest.view);
            auto opsBefore =
                std::apply([&](auto &...o) { return std::make_tuple(snapshot(o.view)...); }, ops);

            std::apply([&](auto &...o) { stmt(dest.view, o.view...); }, ops);

            for (index_t p = 0; p < dest.view.elementCount(); ++p) {
                TD want = std::apply(
                    [&](const auto &...v) { return static_cast<TD>(ref(before[p], v[p]...)); },
                    opsBefore);
                TD got = at(dest.view, p);
                ASSERT_TRUE(same(got, want))
                    << "at position " << p << ": got " << ::testing::PrintToString(got) << ", want "
                    << ::testing::PrintToString(want);
            }
            ASSERT_TRUE(untouchedOutside(dest));
        }
}

} // namespace oracle

#endif
