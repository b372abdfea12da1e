// Sums, counts, extremes, averages and the exact median, against plain
// loops and sorting.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "oracle.h"

namespace {

using orv::MArray;
using orv::Range;

const double nan = std::numeric_limits<double>::quiet_NaN();

template <class T, int N>
void checkReductionsInEveryLayout()
{
    std::mt19937 rng(7);
    for (oracle::Layout l : oracle::layouts<N>())
        for (const std::vector<int> &sz : oracle::sizes<N>()) {
            int len[N];
            for (int d = 0; d < N; ++d)
                len[d] = sz[d];
            SCOPED_TRACE(std::string(oracle::name(l)) + " " + ::testing::PrintToString(sz));
            auto m = oracle::make<T>(l, len);
            MArray<T, N> &a = m.view;
            oracle::randomise(a, rng);
            std::vector<T> v = oracle::snapshot(a);

            T total = 0;
            orv::index_t nonBlank = 0;
            double smallest = DBL_MAX, largest = -DBL_MAX;
            for (T x : v) {
                total += x;
                nonBlank += x != T(0);
                double ax = std::fabs(double(x));
                if (ax < smallest)
                    smallest = ax;
                if (ax > largest)
                    largest = ax;
            }
            EXPECT_TRUE(oracle::same(orv::sum(a), total));
            EXPECT_EQ(orv::count(a != T(0)), nonBlank);
            EXPECT_EQ(orv::sum(orv::merge(a == T(0), 0, 1)), nonBlank);
            EXPECT_EQ(orv::min(orv::fabs(a)), smallest);
            EXPECT_EQ(orv::max(orv::fabs(a)), largest);
            EXPECT_TRUE(
                oracle::same(orv::median_exact(a, T(0)), oracle::sortedMedian(v, true, T(0))));
            EXPECT_TRUE(
                oracle::same(orv::median_exact(a, T(-1)), oracle::sortedMedian(v, true, T(-1))));
            if (N == 1) {
                EXPECT_TRUE(
                    oracle::same(orv::median_exact(a), oracle::sortedMedian(v, false, T(0))));
            }
            std::vector<T> after = oracle::snapshot(a); // the median leaves its argument alone
            EXPECT_EQ(std::memcmp(after.data(), v.data(), v.size() * sizeof(T)), 0);
        }
}

TEST(Reductions, AgreeWithPlainLoopsInEveryLayout)
{
    checkReductionsInEveryLayout<float, 2>();
    checkReductionsInEveryLayout<double, 2>();
    checkReductionsInEveryLayout<double, 1>();
}

TEST(Reductions, SumsAddInIndexOrder)
{
    // Values whose sum depends on the order of the additions.
    MArray<double, 2> big(6, 3);
    MArray<double, 2> a = big(Range(2, 6), Range(1, 3, 2));
    const double values[] = {1e16, 1, -1e16, 1, 3, 1e-3, -7, 2e16, 5, -2e16};
    double want = 0;
    for (int k = 0; k < 10; ++k) {
        a(k % 5 + 1, k / 5 + 1) = values[k];
        want += values[k];
    }
    EXPECT_EQ(orv::sum(a), want);

    MArray<int, 1> flags(4);
    flags = 1;
    EXPECT_EQ(orv::sum(flags), 4);
    MArray<double, 1> none(0);
    EXPECT_EQ(orv::sum(none), 0.0);
}

TEST(Reductions, MixedContiguityOperandsWalkTheirOwnElements)
{
    MArray<double, 2> fresh(3, 4), big(5, 6);
    fresh = 1.0;
    big = 0.0;
    MArray<double, 2> window = big(Range(2, 4), Range(2, 5));
    window = 10.0;
    EXPECT_EQ(orv::sum(fresh + window), 12 * 11.0);
    EXPECT_EQ(orv::sum(window + fresh), 12 * 11.0);
    EXPECT_THROW(orv::sum(fresh + big), orv::RangeException);
}

TEST(Reductions, ExtremesAndAverageOfEmptyAndNaN)
{
    MArray<double, 2> empty(0, 3), nans(2, 2);
    nans = nan;
    EXPECT_EQ(orv::min(orv::fabs(empty)), DBL_MAX);
    EXPECT_EQ(orv::max(orv::fabs(empty)), -DBL_MAX);
    EXPECT_EQ(orv::min(orv::fabs(nans)), DBL_MAX);
    EXPECT_EQ(orv::max(orv::fabs(nans)), -DBL_MAX);
    EXPECT_EQ(orv::count(nans != 0.0), 4);
    EXPECT_EQ(orv::sum(orv::merge(nans == 0.0, 0, 1)), 4);

    MArray<double, 1> v(4), none(0);
    for (int i = 1; i <= 4; ++i)
        v(i) = i;
    EXPECT_EQ(orv::average(v), 2.5);
    EXPECT_TRUE(std::isnan(orv::average(none)));
}

TEST(Reductions, FullReductionOfProductsAddsToTheAccumulator)
{
    MArray<double, 1> a(5), b(5), c(5);
    MArray<double, 2> plane(3, 5);
    MArray<double, 1> d(plane, 2, Range::all()); // stride 3
    for (int i = 1; i <= 5; ++i) {
        a(i) = 0.1 * i;
        b(i) = i - 3;
        c(i) = 1.0 / i;
        d(i) = 7 - i;
    }
    orv::sum_reduction<double> acc;
    acc.value = 0.5;
    orv::eval_full_reduction_1(a * b - c * d, acc);
    double want = 0.5;
    for (int i = 1; i <= 5; ++i)
        want += a(i) * b(i) - c(i) * d(i);
    EXPECT_EQ(acc.value, want);
}

template <class T>
double medianOf(std::vector<T> values, T marker)
{
    MArray<T, 1> a(static_cast<int>(values.size()));
    for (int i = 1; i <= a.length(1); ++i)
        a(i) = values[i - 1];
    return orv::median_exact(a, marker);
}

TEST(Median, BlanksNaNAndEvenCounts)
{
    EXPECT_EQ(medianOf<double>({0, 0, 0}, 0), 0);
    EXPECT_EQ(medianOf<double>({0, 4, 0}, 0), 4);
    EXPECT_EQ(medianOf<double>({3, 0, 1, 4, 2}, 0), 2.5);
    EXPECT_EQ(medianOf<double>({3, 1, 2}, -9), 2);
    EXPECT_EQ(medianOf<double>({0, 0, 5, 7}, 0), 6);
    EXPECT_EQ(medianOf<double>({1, nan, 3}, 0), 2);
    EXPECT_EQ(medianOf<double>({nan, nan}, -1), -1);
    EXPECT_EQ(medianOf<double>({nan, 5, 0, 4}, nan), 4); // a NaN marker marks nothing
    EXPECT_EQ(medianOf<double>({2, 2, 2, 9}, 0), 2);

    // Floats: the mean of the two middle values is rounded to float.
    const float one = 1.f, next = std::nextafter(1.f, 2.f);
    EXPECT_EQ(medianOf<float>({one, next}, 0.f), 1.0);
    EXPECT_EQ(medianOf<float>({0.f, 0.f}, 0.f), 0.0);
    // Signs, infinities and the smallest numbers keep their order.
    const double inf = std::numeric_limits<double>::infinity();
    const float tiny = std::numeric_limits<float>::denorm_min();
    EXPECT_EQ(medianOf<double>({inf, 3, -2, -inf, -0.5}, 99), -0.5);
    EXPECT_EQ(medianOf<double>({-1e300, -3 * std::ldexp(1.0, -1000), std::ldexp(1.0, -1000), 7}, 0),
              -std::ldexp(1.0, -1000));
    EXPECT_EQ(medianOf<float>({tiny, -tiny, 5.f, -tiny, 2.f}, 0.f), tiny);
    EXPECT_EQ(medianOf<float>({-3.f, -1.f, -2.f, -4.f, -5.f, 0.f}, 0.f), -3.0);

    MArray<double, 1> all(4);
    all(1) = 4;
    all(2) = nan;
    all(3) = 1;
    all(4) = 2;
    EXPECT_EQ(orv::median_exact(all), 2);
    MArray<double, 1> none(0);
    EXPECT_TRUE(std::isnan(orv::median_exact(none)));
}

TEST(Median, LessNanPutsBlanksLastAndTheRestInOrder)
{
    const orv::less_nan<double> less(0.0);
    struct Case {
        double x, y;
        bool less;
    } cases[] = {
        {1, 2, true},  {2, 1, false},  {2, 2, false},   {-5, 0, true},   {0, -5, false},
        {0, 0, false}, {nan, 0, true}, {0, nan, false}, {nan, 3, false}, {3, nan, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.less, less(c.x, c.y)) << c.x << " < " << c.y;

    // Sorted by it, the non-blank values come first and their middle is the median.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> value(-3, 6);
    for (int n : {1, 7, 40, 41}) {
        MArray<double, 1> a(n);
        std::vector<double> v(static_cast<std::size_t>(n));
        for (int i = 1; i <= n; ++i)
            v[i - 1] = a(i) = value(rng);
        std::sort(v.begin(), v.end(), less);
        const auto kept = std::find(v.begin(), v.end(), 0.0) - v.begin();
        EXPECT_TRUE(std::all_of(v.begin() + kept, v.end(), [](double x) { return x == 0; }));
        const double median = kept == 0  ? 0
                              : kept % 2 ? v[kept / 2]
                                         : (v[kept / 2 - 1] + v[kept / 2]) * 0.5;
        EXPECT_EQ(median, orv::median_exact(a, 0.0)) << n;
    }
}

TEST(Median, LargeWindowsAgainstSorting)
{
    std::mt19937 rng(3);
    for (int n : {1, 2, 3, 1000, 1001, 1023, 1024, 1025, 5000}) {
        MArray<float, 2> image(n + 3, 2);
        MArray<float, 2> window = image(Range(2, n + 1), Range(2, 2));
        oracle::randomise(window, rng);
        std::vector<float> v = oracle::snapshot(window);
        EXPECT_EQ(orv::median_exact(window, 0.f), oracle::sortedMedian(v, true, 0.f)) << n;
    }
}

} // namespace
