#include "lightcurve/sorting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "common/arrays.h"

using namespace test_common;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The textbook exchange sort that sorted copies, medians and scatters were
// defined by: every position against every later one.
std::vector<double> exchangeSorted(std::vector<double> v)
{
    for (std::size_t i = 0; i + 1 < v.size(); ++i)
        for (std::size_t j = i + 1; j < v.size(); ++j)
            if (v[i] > v[j])
                std::swap(v[i], v[j]);
    return v;
}

// Random values with many ties, and NaNs when asked.
std::vector<double> tiedValues(std::mt19937 &rng, int n, bool withNaN)
{
    std::uniform_int_distribution<int> level(0, 9);
    std::uniform_int_distribution<int> coin(0, 7);
    std::vector<double> v;
    for (int i = 0; i < n; ++i)
        v.push_back(withNaN && coin(rng) == 0 ? kNaN : 0.5 * level(rng) - 1);
    return v;
}

void expectSameValues(const std::vector<double> &want, const std::vector<double> &got)
{
    ASSERT_EQ(want.size(), got.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (std::isnan(want[i]))
            EXPECT_TRUE(std::isnan(got[i])) << "at " << i;
        else
            EXPECT_EQ(want[i], got[i]) << "at " << i;
    }
}

using SortOne = void (*)(orv::MArray<double, 1>);
using SortFour = void (*)(orv::MArray<double, 1>, orv::MArray<double, 1>, orv::MArray<double, 1>,
                          orv::MArray<double, 1>);

struct InPlaceSort {
    const char *name;
    SortOne one;
    SortFour four;
};

const InPlaceSort kSorts[] = {{"hpsort4", hpsort4, hpsort4}, {"quicksort", quicksort, quicksort4}};

} // namespace

TEST(InPlaceSorts, AgreeWithStdSortOnAssortedInputs)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> uniform(-1e3, 1e3);
    for (const InPlaceSort &sort : kSorts)
        for (int n : {0, 1, 2, 3, 7, 8, 9, 50, 1000, 100000}) {
            std::vector<std::vector<double>> inputs(4);
            for (int i = 0; i < n; ++i) {
                inputs[0].push_back(uniform(rng));
                inputs[1].push_back(i);              // sorted
                inputs[2].push_back(n - i);          // reversed
                inputs[3].push_back((i * 7919) % 5); // few distinct values
            }
            for (const std::vector<double> &input : inputs) {
                orv::MArray<double, 1> a = arrayOf(input);
                sort.one(a);
                std::vector<double> want = input;
                std::sort(want.begin(), want.end());
                EXPECT_EQ(want, valuesOf(a)) << sort.name << " n=" << n;
            }
        }
}

TEST(InPlaceSorts, CompanionsFollowTheirKeys)
{
    for (const InPlaceSort &sort : kSorts) {
        orv::MArray<double, 1> key = doubles({3, 1, 2}), c = doubles({30, 10, 20});
        orv::MArray<double, 1> b = doubles({-3, -1, -2}), d = doubles({9, 1, 4});
        sort.four(key, b, c, d);
        EXPECT_EQ((std::vector<double>{1, 2, 3}), valuesOf(key)) << sort.name;
        EXPECT_EQ((std::vector<double>{-1, -2, -3}), valuesOf(b)) << sort.name;
        EXPECT_EQ((std::vector<double>{10, 20, 30}), valuesOf(c)) << sort.name;
        EXPECT_EQ((std::vector<double>{1, 4, 9}), valuesOf(d)) << sort.name;

        // Large, with ties: every row (key, companions) survives intact.
        std::mt19937 rng(11);
        std::uniform_int_distribution<int> level(0, 99);
        const int n = 20000;
        orv::MArray<double, 1> k2(n), b2(n), c2(n), d2(n);
        std::vector<std::vector<double>> rows;
        for (int i = 1; i <= n; ++i) {
            k2(i) = level(rng);
            b2(i) = i;
            c2(i) = 2 * i;
            d2(i) = k2(i) * 10;
            rows.push_back({k2(i), b2(i)});
        }
        sort.four(k2, b2, c2, d2);
        std::vector<std::vector<double>> after;
        for (int i = 1; i <= n; ++i) {
            if (i > 1) {
                ASSERT_LE(k2(i - 1), k2(i)) << sort.name;
            }
            ASSERT_EQ(2 * b2(i), c2(i)) << sort.name;
            ASSERT_EQ(k2(i) * 10, d2(i)) << sort.name;
            after.push_back({k2(i), b2(i)});
        }
        std::sort(rows.begin(), rows.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(rows, after) << sort.name;
    }
}

TEST(InPlaceSorts, OtherBasesStridesAndShortCompanions)
{
    for (const InPlaceSort &sort : kSorts) {
        orv::MArray<double, 1> based = doubles({5, 4, 3, 2, 1}, -2);
        sort.one(based);
        EXPECT_EQ((std::vector<double>{1, 2, 3, 4, 5}), valuesOf(based)) << sort.name;

        // Every other element of a longer array: the others stay untouched.
        orv::MArray<double, 1> all =
            doubles({9, 0, 8, 0, 7, 0, 6, 0, 5, 0, 4, 0, 3, 0, 2, 0, 1, 0});
        sort.one(all(orv::Range(1, 17, 2)));
        EXPECT_EQ((std::vector<double>{1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0}),
                  valuesOf(all))
            << sort.name;

        orv::MArray<double, 1> key = doubles({3, 2, 1}), ok = doubles({3, 2, 1}),
                               shorter = doubles({1, 2});
        testing::internal::CaptureStdout();
        sort.four(key, ok, shorter, ok);
        EXPECT_EQ("error: companion arrays shorter than the key array!\n",
                  testing::internal::GetCapturedStdout());
        EXPECT_EQ((std::vector<double>{3, 2, 1}), valuesOf(key)) << "refused, unchanged";
    }
}

// NaNs have no place in an order; the sorts must still stay inside the array
// (the sanitizer build watches) and order every value when there is none.
TEST(InPlaceSorts, NaNKeysStayInsideTheArray)
{
    std::mt19937 rng(3);
    for (const InPlaceSort &sort : kSorts)
        for (int round = 0; round < 200; ++round) {
            std::vector<double> v = tiedValues(rng, 1 + round % 60, true);
            if (round % 5 == 0)
                v.assign(v.size(), kNaN);
            orv::MArray<double, 1> a = arrayOf(v), b = arrayOf(v), c = arrayOf(v), d = arrayOf(v);
            sort.one(a);
            sort.four(b, c, c, d);
            const auto nans = [](const std::vector<double> &x) {
                return std::count_if(x.begin(), x.end(), [](double y) { return std::isnan(y); });
            };
            EXPECT_EQ(nans(v), nans(valuesOf(a))) << sort.name;
            EXPECT_EQ(nans(v), nans(valuesOf(b))) << sort.name;
        }
}

TEST(Sort1, SameAsTheExchangeSortAndLeavesItsArgument)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        const std::vector<double> v = tiedValues(rng, round % 40, round % 2 == 1);
        const orv::MArray<double, 1> a = arrayOf(v, round % 3 - 1);
        const orv::MArray<double, 1> sorted = sort1(a);
        EXPECT_EQ(a.firstIndex(1), sorted.firstIndex(1));
        expectSameValues(exchangeSorted(v), valuesOf(sorted));
        expectSameValues(v, valuesOf(a));
    }
}

TEST(MedianAndRms, WorkedValues)
{
    struct Case {
        std::vector<double> values;
        double median, rms;
    };
    const Case cases[] = {
        {{3, 1, 2}, 2, 1},    {{4, 1, 3, 2}, 2.5, std::sqrt(5.0 / 3)},
        {{1, 3, 5}, 3, 2},    {{7}, 7, kNaN},
        {{2, 2, 2, 2}, 2, 0},
    };
    for (const Case &c : cases) {
        const orv::MArray<double, 1> a = arrayOf(c.values);
        EXPECT_EQ(c.median, median(a));
        if (std::isnan(c.rms))
            EXPECT_TRUE(std::isnan(rms(a)));
        else
            EXPECT_DOUBLE_EQ(c.rms, rms(a));
        EXPECT_EQ(c.values, valuesOf(a)) << "the argument keeps its order";
    }
    EXPECT_TRUE(std::isnan(median(orv::MArray<double, 1>())));
    EXPECT_TRUE(std::isnan(rms(orv::MArray<double, 1>())));
}

TEST(MedianAndRms, DirectComputationOnRandomDataWithTies)
{
    std::mt19937 rng(9);
    for (int round = 0; round < 400; ++round) {
        const std::vector<double> v = tiedValues(rng, 1 + round % 101, round % 4 == 3);
        const std::vector<double> s = exchangeSorted(v);
        const std::size_t n = v.size();
        const double m = n % 2 == 1 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) * 0.5;
        // A strided view with another base must give the same.
        orv::MArray<double, 1> spread(orv::Range(0, 2 * static_cast<int>(n) - 1));
        for (std::size_t i = 0; i < n; ++i)
            spread(2 * static_cast<int>(i)) = v[i];
        const orv::MArray<double, 1> view = spread(orv::Range(0, 2 * static_cast<int>(n) - 2, 2));
        for (const orv::MArray<double, 1> &a : {arrayOf(v), view}) {
            const double got = median(a);
            if (std::isnan(m)) {
                EXPECT_TRUE(std::isnan(got));
                continue;
            }
            EXPECT_EQ(m, got);
            if (n < 2)
                continue;
            double sum = 0;
            for (double x : v)
                sum += (x - m) * (x - m);
            const double want = std::sqrt(sum / (n - 1));
            if (std::isnan(want))
                EXPECT_TRUE(std::isnan(rms(a)));
            else
                EXPECT_DOUBLE_EQ(want, rms(a));
        }
    }
}

TEST(Integ, TrapezoidalSums)
{
    EXPECT_EQ(2, integ(doubles({1, 1}), doubles({0, 2})));
    EXPECT_EQ(8, integ(doubles({2, 4, 6}), doubles({0, 1, 2})));
    EXPECT_EQ(5, integ(doubles({5, 1, 9}), doubles({3, 4, 3})));
    EXPECT_EQ(0, integ(orv::MArray<double, 1>(), orv::MArray<double, 1>()));
    // x^2 on [0, 1] by 1000 trapezoids: 1/3 + h^2/6.
    const int n = 1001;
    orv::MArray<double, 1> f(n), x(orv::Range(0, n - 1));
    for (int i = 0; i < n; ++i) {
        x(i) = i / 1000.0;
        f(i + 1) = x(i) * x(i);
    }
    EXPECT_NEAR(1.0 / 3 + 1e-6 / 6, integ(f, x), 1e-12);

    testing::internal::CaptureStdout();
    const double refused = integ(doubles({1, 2, 3}), doubles({0, 1}));
    EXPECT_EQ("error: integ needs an abscissa for every integrand value!\n",
              testing::internal::GetCapturedStdout());
    EXPECT_TRUE(std::isnan(refused));
}

TEST(IntVector, ValidFromLowToHighPlusOneSpare)
{
    int *v = intvector(1, 50);
    ASSERT_NE(nullptr, v);
    for (long i = 1; i <= 51; ++i)
        v[i] = static_cast<int>(i);
    EXPECT_EQ(51, v[51]);
    free_intvector(v, 1, 50);

    int *empty = intvector(3, 2);
    ASSERT_NE(nullptr, empty);
    empty[3] = 1; // the spare
    free_intvector(empty, 3, 2);

    for (auto bounds : {std::pair<long, long>{-1, 5}, {5, 2}, {0, LONG_MAX}}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(nullptr, intvector(bounds.first, bounds.second));
        EXPECT_EQ("allocation failure in intvector()\n", testing::internal::GetCapturedStdout());
    }
    free_intvector(nullptr, 1, 2);
}
