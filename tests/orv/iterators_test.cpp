// Read and write iterators: traversal order, run ends, empty arrays.
#include <algorithm>
#include <iterator>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "orv/MArray.h"

namespace {

using orv::MArray;
using orv::MArrayIter;
using orv::MArrayIterConst;
using orv::Range;

TEST(Iterators, VisitDimensionOneFastestThenEnd)
{
    MArray<int, 2> a(3, 2);
    std::vector<const int *> want = {&a(1, 1), &a(2, 1), &a(3, 1), &a(1, 2), &a(2, 2), &a(3, 2)};
    MArrayIterConst<int, 2> it(a), end = MArrayIterConst<int, 2>::end(a);
    std::vector<const int *> got;
    for (; it != end; ++it)
        got.push_back(&*it);
    EXPECT_EQ(got, want);
    EXPECT_EQ(it.current, nullptr);
    it.advanceDim(); // stays at its end
    EXPECT_TRUE(it == end);
}

// The iterators follow plain index loops over views of every kind.
template <int N>
std::vector<const double *> byIndices(MArray<double, N> &a);

template <>
std::vector<const double *> byIndices(MArray<double, 1> &a)
{
    std::vector<const double *> v;
    for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
        v.push_back(&a(i));
    return v;
}
template <>
std::vector<const double *> byIndices(MArray<double, 2> &a)
{
    std::vector<const double *> v;
    for (int j = a.firstIndex(2); j <= a.lastIndex(2); ++j)
        for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
            v.push_back(&a(i, j));
    return v;
}
template <>
std::vector<const double *> byIndices(MArray<double, 3> &a)
{
    std::vector<const double *> v;
    for (int k = a.firstIndex(3); k <= a.lastIndex(3); ++k)
        for (int j = a.firstIndex(2); j <= a.lastIndex(2); ++j)
            for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
                v.push_back(&a(i, j, k));
    return v;
}

template <int N>
void expectSameWalk(MArray<double, N> a)
{
    std::vector<const double *> got;
    for (const double &x : static_cast<const MArray<double, N> &>(a))
        got.push_back(&x);
    EXPECT_EQ(got, byIndices(a));
    EXPECT_EQ(static_cast<orv::index_t>(got.size()), a.elementCount());
}

TEST(Iterators, FollowViewsOfEveryKind)
{
    MArray<double, 3> cube(Range(-2, 3), Range(0, 4), Range(1, 3));
    expectSameWalk(cube);
    expectSameWalk(cube(Range(3, -1, -2), Range(1, 4, 3), Range(2, 3)));
    expectSameWalk(MArray<double, 2>(cube, Range::all(), 2, Range::all()));
    expectSameWalk(MArray<double, 2>(cube, Range(0, 0), Range(0, 4), 1));
    expectSameWalk(MArray<double, 1>(cube, 1, Range(4, 0, -1), 3));
    expectSameWalk(MArray<double, 1>(cube, Range(-2, 3, 5), 0, 1));
}

TEST(Iterators, EmptyArraysStartAtTheirEnd)
{
    MArray<double, 1> none1;
    EXPECT_TRUE(none1.begin() == none1.end());
    MArray<double, 2> none2;
    EXPECT_TRUE(none2.begin() == none2.end());
    MArray<double, 2> noRows(4, 0), noColumns(0, 4);
    EXPECT_TRUE(noRows.begin() == noRows.end());
    EXPECT_TRUE(noColumns.begin() == noColumns.end());
    MArray<double, 3> thin(2, 0, 2);
    EXPECT_EQ(std::distance(thin.begin(), thin.end()), 0);
    MArray<double, 1> zero(0);
    EXPECT_TRUE(zero.begin() == zero.end());
}

TEST(Iterators, WriteIteratorFillsInOrder)
{
    MArray<float, 2> image(4, 3);
    MArray<float, 2> window = image(Range(2, 4), Range(2, 3));
    image = 0.f;
    std::iota(window.begin(), window.end(), 1.f);
    EXPECT_EQ(window(1, 1), 1.f);
    EXPECT_EQ(window(3, 1), 3.f);
    EXPECT_EQ(window(1, 2), 4.f);
    EXPECT_EQ(image(4, 3), 6.f);
    EXPECT_EQ(image(1, 3), 0.f);

    MArrayIter<float, 2> w(image);
    *w = 9.f;
    ++w;
    *w++ = 8.f;
    EXPECT_EQ(image(1, 1), 9.f);
    EXPECT_EQ(image(2, 1), 8.f);
    EXPECT_EQ(&*w, &image(3, 1));
}

TEST(Iterators, OneDimensionEndsOneStridePastTheLast)
{
    MArray<double, 1> a(6);
    MArray<double, 1> every2 = a(Range(1, 5, 2));
    MArrayIterConst<double, 1> end = MArrayIterConst<double, 1>::end(every2);
    EXPECT_EQ(end.current, &a(1) + 6);
    EXPECT_EQ(std::distance(every2.begin(), every2.end()), 3);
}

} // namespace
