// Assignment semantics: evaluator choice, refused operands, overlapping
// views, scalar fills, element semantics of the operators.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "orv/MArray.h"

namespace {

using orv::MArray;
using orv::Range;
using orv::RangeException;

MArray<double, 1> sequence(int n)
{
    MArray<double, 1> s(n);
    for (int i = 1; i <= n; ++i)
        s(i) = i;
    return s;
}

TEST(Assign, PairsByPositionNotByIndex)
{
    MArray<double, 1> d(5);
    MArray<double, 1> a(Range(-2, 2));
    for (int i = -2; i <= 2; ++i)
        a(i) = 10 * i;
    d = a;
    EXPECT_EQ(d(1), -20);
    EXPECT_EQ(d(5), 20);
}

TEST(Assign, OperandsOfOtherLengthsAreRefused)
{
    MArray<float, 2> d(4, 3), a(4, 3), tooWide(5, 3), transposed(3, 4);
    d = 1.f;
    a = 2.f;
    EXPECT_THROW(d = tooWide, RangeException);
    EXPECT_THROW(d = transposed, RangeException);
    EXPECT_THROW(d = a + tooWide, RangeException);
    EXPECT_THROW(d = orv::merge(a == 0.f, tooWide, 1.f), RangeException);
    EXPECT_EQ(orv::count(d == 1.f), 12); // nothing was written

    MArray<double, 1> v(3), w(4);
    try {
        v = w;
        FAIL();
    } catch (const RangeException &e) {
        EXPECT_STREQ(e.what(), "Assignment of an operand of lengths 4 to an array of lengths 3");
    }
}

TEST(Assign, ArraysWithoutStorageAreRefused)
{
    MArray<double, 2> none, some(2, 2);
    some = 1.0;
    EXPECT_THROW(none = some, RangeException);
    EXPECT_THROW(none = some * 2.0, RangeException);
    EXPECT_THROW(none = 3.0, RangeException);
    EXPECT_THROW(none *= 2.0, RangeException);
    MArray<std::string, 1> strings;
    EXPECT_THROW(strings = std::string("x"), RangeException);
}

TEST(Assign, EmptyDestinationIsLeftAlone)
{
    MArray<double, 2> empty(0, 4), alsoEmpty(0, 4);
    EXPECT_NO_THROW(empty = alsoEmpty + 1.0);
    EXPECT_NO_THROW(empty = 2.0);
    MArray<int, 2> mask(3, 0);
    EXPECT_NO_THROW(mask = orv::pow2(orv::indexAlong(mask, 1)) < 2);
}

TEST(Assign, OverlappingShiftedViewsActAsIfTheSourceWasCopiedFirst)
{
    MArray<double, 1> s = sequence(6);
    MArray<double, 1> d = s(Range(2, 6)), a = s(Range(1, 5));
    d = a;
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(s(i), i == 1 ? 1 : i - 1) << i;

    s = sequence(6);
    MArray<double, 1> left = s(Range(1, 5)), right = s(Range(2, 6));
    left = right;
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(s(i), i == 6 ? 6 : i + 1) << i;

    // Reversal in place.
    s = sequence(6);
    MArray<double, 1> backwards = s(Range(6, 1, -1));
    s = backwards;
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(s(i), 7 - i);

    // Two dimensions, in an expression, window shifted by one row and column.
    MArray<double, 2> img(6, 5);
    for (int j = 1; j <= 5; ++j)
        for (int i = 1; i <= 6; ++i)
            img(i, j) = 10 * i + j;
    MArray<double, 2> copy(img.shape());
    copy = img;
    MArray<double, 2> lower = img(Range(2, 6), Range(2, 5)), upper = img(Range(1, 5), Range(1, 4));
    lower = upper * 2.0 + lower;
    for (int j = 2; j <= 5; ++j)
        for (int i = 2; i <= 6; ++i)
            EXPECT_EQ(img(i, j), 2 * copy(i - 1, j - 1) + copy(i, j));
    EXPECT_EQ(img(1, 3), copy(1, 3));
}

TEST(Assign, InterleavedViewsOfOneArray)
{
    // Odd and even elements share storage without sharing elements.
    MArray<int, 1> s(8);
    for (int i = 1; i <= 8; ++i)
        s(i) = i;
    MArray<int, 1> odd = s(Range(1, 7, 2)), even = s(Range(2, 8, 2));
    odd = even;
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(s(i), i % 2 ? i + 1 : i);
}

TEST(Assign, EvaluatorsGiveTheSameValuesWhateverTheGeometry)
{
    MArray<double, 2> big(9, 7);
    for (int j = 1; j <= 7; ++j)
        for (int i = 1; i <= 9; ++i)
            big(i, j) = i - 2.5 * j;
    MArray<double, 2> window = big(Range(2, 8), Range(3, 5));
    MArray<double, 2> fresh(7, 3), byRuns(7, 3), byOneLoop(7, 3), byIndex(7, 3);
    fresh = window;

    auto tree = window * 3.0 - fresh;
    orv::eval_assign_expr_N(byRuns, tree);
    auto tree1 = window * 3.0 - fresh;
    orv::eval_assign_expr_1(byOneLoop, tree1); // not storage-contiguous: walks by runs
    auto indices = orv::indexAlong(byIndex, 1) + 0.0;
    orv::eval_with_index_iter(byIndex, indices);
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 7; ++i) {
            EXPECT_EQ(byRuns(i, j), 2 * window(i, j));
            EXPECT_EQ(byOneLoop(i, j), 2 * window(i, j));
            EXPECT_EQ(byIndex(i, j), i);
        }
}

TEST(Assign, ScalarFillHappensAtTheEndOfTheStatement)
{
    MArray<double, 1> a(3);
    a = 0.0;
    {
        auto pending = (a = 5.0);
        EXPECT_EQ(a(1), 0.0);
        EXPECT_TRUE(pending.armed);
    }
    EXPECT_EQ(a(3), 5.0);
    {
        auto pending = (a = 7.0);
        pending.disarm();
    }
    EXPECT_EQ(a(3), 5.0);
}

TEST(Operators, NaNComparesUnorderedAndEqualsNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    MArray<double, 1> a(2);
    a(1) = nan;
    a(2) = 1.0;
    MArray<int, 1> r(2);
    r = a == nan;
    EXPECT_EQ(r(1) + r(2), 0);
    r = a == 1.0;
    EXPECT_EQ(r(1), 0);
    r = a != 1.0;
    EXPECT_EQ(r(1), 1);
    r = a < 5.0;
    EXPECT_EQ(r(1), 0);
    r = a > -5.0;
    EXPECT_EQ(r(1), 0);
}

TEST(Operators, UnchosenBranchIsNotUsed)
{
    MArray<double, 1> a(3), d(3);
    a(1) = -4;
    a(2) = 9;
    a(3) = 0;
    errno = 0;
    d = orv::merge(a > 0.0, orv::sqrt(a), -1.0);
    EXPECT_EQ(d(1), -1.0);
    EXPECT_EQ(d(2), 3.0);
    EXPECT_EQ(d(3), -1.0);
    EXPECT_EQ(errno, 0); // the square root of -4 was never taken

    // Integer arithmetic in an unchosen branch would divide by zero or
    // overflow; long enough for the vectorised loop.
    MArray<int, 1> num(64), den(64), q(64);
    for (int i = 1; i <= 64; ++i) {
        num(i) = i % 3 ? i : INT_MAX;
        den(i) = i % 3 ? i % 4 : 1;
    }
    q = orv::merge(den == 0, -1, num / den);
    MArray<int, 1> big(64);
    big = orv::merge(num > 1000, 0, num * num);
    for (int i = 1; i <= 64; ++i) {
        EXPECT_EQ(q(i), den(i) == 0 ? -1 : num(i) / den(i)) << i;
        EXPECT_EQ(big(i), num(i) > 1000 ? 0 : num(i) * num(i)) << i;
    }

    // Numbers in both branches: the same values, bit for bit, also for -0,
    // NaN and infinities, in every element type.
    MArray<float, 2> img(7, 5), sky(7, 5), out(7, 5);
    MArray<double, 2> wide(7, 5);
    const float specials[] = {0.f,
                              -0.f,
                              1.5f,
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -3.f,
                              1e-40f};
    for (int j = 1; j <= 5; ++j)
        for (int i = 1; i <= 7; ++i) {
            img(i, j) = specials[(i + 2 * j) % 7];
            sky(i, j) = specials[(3 * i + j) % 7];
        }
    out = orv::merge(img == 0.f, 0.f, img - sky);
    wide = orv::merge(img != img, -1, orv::cast<double>(img) * 2.0);
    for (int j = 1; j <= 5; ++j)
        for (int i = 1; i <= 7; ++i) {
            const float want = img(i, j) == 0.f ? 0.f : img(i, j) - sky(i, j);
            const double wantWide = img(i, j) != img(i, j) ? -1.0 : double(img(i, j)) * 2.0;
            EXPECT_EQ(std::memcmp(&out(i, j), &want, sizeof want), 0) << i << "," << j;
            EXPECT_EQ(std::memcmp(&wide(i, j), &wantWide, sizeof wantWide), 0) << i << "," << j;
        }
}

TEST(Operators, ArithmeticFollowsTheOperandTypes)
{
    MArray<int, 1> big(1);
    big(1) = 100000;
    MArray<double, 1> sq(1);
    sq = orv::pow2(big);
    EXPECT_EQ(sq(1), 1e10);

    MArray<double, 1> one(1), r(1);
    one = 1.0;
    r = orv::pow2(one) / 3;
    EXPECT_EQ(r(1), 1.0 / 3.0);

    MArray<double, 1> z(2);
    z(1) = 2.0;
    z(2) = 0.0;
    z = z / 0.0;
    EXPECT_EQ(z(1), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(z(2)));

    MArray<double, 1> tenth(1);
    tenth = 0.1;
    MArray<float, 1> f(1);
    f = orv::cast<float>(tenth);
    EXPECT_EQ(f(1), 0.1f);

    // Float with float stays in single precision.
    MArray<float, 1> x(1), y(1);
    x = 16777216.f;
    y = 1.f;
    MArray<double, 1> s(1);
    s = x + y;
    EXPECT_EQ(s(1), 16777216.0);
    s = x + 1.0;
    EXPECT_EQ(s(1), 16777217.0);
    EXPECT_EQ(orv::min(orv::fabs(x - 2e7f)), float(2e7f - 16777216.f));
}

} // namespace
