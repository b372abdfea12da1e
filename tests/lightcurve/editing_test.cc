#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "lightcurve/Lightcurve.h"
#include "printed.h"

using namespace test_common;

namespace {

// Weighted mean flux of the points, weights 1/error^2, computed directly.
double weightedMean(const std::vector<double> &flux, const std::vector<double> &error)
{
    double sum = 0, wsum = 0;
    for (std::size_t i = 0; i < flux.size(); ++i) {
        sum += flux[i] / (error[i] * error[i]);
        wsum += 1 / (error[i] * error[i]);
    }
    return sum / wsum;
}

// The mean that renorm removes: it shows whether the weights still belong to
// their points.
double removedMean(Lightcurve &lc)
{
    const double before = lc.getFlux()(1);
    lc.renorm();
    return before - lc.getFlux()(1);
}

} // namespace

TEST(LightcurveEditing, ScalingAndWeights)
{
    Lightcurve lc(doubles({1, 2}), doubles({1, 0}), doubles({1, 2}), doubles({3, 0.5}));
    EXPECT_EQ("weights not calculated yet!\n", printed([&] { lc.renorm(); }));
    lc.calc_weights();
    EXPECT_TRUE(lc.isWeighted());
    // Weights 0.8 and 0.2: the weighted mean of fluxes 1 and 0 is 0.8.
    lc.renorm();
    EXPECT_DOUBLE_EQ(0.2, lc.getFlux()(1));
    EXPECT_DOUBLE_EQ(-0.8, lc.getFlux()(2));
    lc.upscale();
    EXPECT_DOUBLE_EQ(1, lc.getFlux()(1));
    EXPECT_DOUBLE_EQ(0, lc.getFlux()(2));

    lc.scale(3);
    EXPECT_EQ((std::vector<double>{3, 0}), valuesOf(lc.getFlux()));
    EXPECT_EQ((std::vector<double>{3, 6}), valuesOf(lc.getError()));
    lc.nchi_scale();
    EXPECT_EQ((std::vector<double>{9, 3}), valuesOf(lc.getError()));
    // A negative factor turns the fluxes over; errors stay sizes, which
    // still weigh their points.
    lc.scale(-2);
    EXPECT_EQ((std::vector<double>{-6, -0}), valuesOf(lc.getFlux()));
    EXPECT_EQ((std::vector<double>{18, 6}), valuesOf(lc.getError()));
    lc.calc_weights();
    EXPECT_NEAR(-6 * 0.1, removedMean(lc), 1e-12);
}

TEST(LightcurveEditing, RenormThenUpscaleRestoresTheFluxes)
{
    std::mt19937 rng(1);
    std::normal_distribution<double> g(1000, 30);
    std::uniform_real_distribution<double> e(1, 5);
    std::vector<double> t, f, s;
    for (int i = 0; i < 200; ++i) {
        t.push_back(i);
        f.push_back(g(rng));
        s.push_back(e(rng));
    }
    Lightcurve lc(arrayOf(t), arrayOf(f), arrayOf(s));
    lc.calc_weights();
    EXPECT_NEAR(weightedMean(f, s), removedMean(lc), 1e-9);
    lc.upscale();
    for (int i = 1; i <= 200; ++i)
        EXPECT_NEAR(f[i - 1], lc.getFlux()(i), 1e-9);
}

TEST(LightcurveEditing, GuardsPrintAndChangeNothing)
{
    Lightcurve empty;
    for (const std::function<void()> &call : std::vector<std::function<void()>>{
             [&] { empty.scale(2); }, [&] { empty.nchi_scale(); }, [&] { empty.calc_weights(); },
             [&] { empty.renorm(); }, [&] { empty.upscale(); }, [&] { empty.sort(); },
             [&] { empty.normalize(); }})
        EXPECT_EQ("lightcurve contains no data points!\n", printed(call));

    Lightcurve lc(doubles({1, 2, 3, 4, 5}), doubles({1, 1, 1, 1, 1}), doubles({1, 1, 1, 1, 1}));
    EXPECT_EQ("error: number(0) out of range (1,5)!\n", printed([&] { lc.manipulate(0, 1); }));
    EXPECT_EQ("error: number(6) out of range (1,5)!\n", printed([&] { lc.manipulate(6, 1); }));
    lc.manipulate(2, 0.5);
    EXPECT_EQ((std::vector<double>{1, 1.5, 1, 1, 1}), valuesOf(lc.getFlux()));
    EXPECT_EQ("error: blending only possible for analytical lightcurves in flux format!\n",
              printed([&] { lc.blend(0.5); }));
    EXPECT_EQ("error: lightcurve already in fluxes!\n", printed([&] { lc.convert2flux(); }));
    lc.convert2mag(0);
    EXPECT_EQ("error: lightcurve already in magnitudes!\n", printed([&] { lc.convert2mag(0); }));
    EXPECT_EQ("error: lightcurve in magnitudes!\n", printed([&] { lc.normalize_flux(); }));
}

TEST(LightcurveEditing, RemovePointClosesTheGapWithItsWeight)
{
    const std::vector<double> f = {5, 1, 4, 2, 8}, s = {1, 2, 0.5, 4, 1};
    Lightcurve lc(doubles({10, 20, 30, 40, 50}), arrayOf(f), arrayOf(s),
                  doubles({0.1, 0.2, 0.3, 0.4, 0.5}), strings({"a", "b", "c", "d", "e"}));
    lc.calc_weights();
    lc.remove_point(2);
    EXPECT_EQ(4, lc.getLength());
    EXPECT_EQ((std::vector<double>{10, 30, 40, 50}), firstValues(lc.getJD(), 4));
    EXPECT_EQ((std::vector<double>{5, 4, 2, 8}), firstValues(lc.getFlux(), 4));
    EXPECT_EQ((std::vector<double>{1, 0.5, 4, 1}), firstValues(lc.getError(), 4));
    EXPECT_EQ((std::vector<double>{0.1, 0.3, 0.4, 0.5}), firstValues(lc.getNchi(), 4));
    EXPECT_EQ((std::vector<std::string>{"a", "c", "d", "e"}), firstValues(lc.getFilename(), 4));
    // The remaining weights still belong to their points: renorm removes
    // sum(flux * weight) over them, the full set's weights being 1/error^2
    // over the sum of all five.
    double wsum = 0, mean = 0;
    for (double e : s)
        wsum += 1 / (e * e);
    for (int i : {0, 2, 3, 4})
        mean += f[i] / (s[i] * s[i]) / wsum;
    EXPECT_NEAR(mean, removedMean(lc), 1e-12);

    lc.remove_point(99); // beyond the end: the last point
    EXPECT_EQ(3, lc.getLength());
    EXPECT_EQ("error: number(0) out of range (1,3)!\n", printed([&] { lc.remove_point(0); }));
    EXPECT_EQ(3, lc.getLength());
    for (int k = 0; k < 3; ++k)
        lc.remove_point(1);
    EXPECT_EQ("error: number(1) out of range (1,0)!\n", printed([&] { lc.remove_point(1); }));
    EXPECT_EQ(0, lc.getLength());
}

TEST(LightcurveEditing, SortMovesEveryPointArray)
{
    const std::vector<double> f = {30, 10, 20}, s = {3, 1, 2};
    Lightcurve lc(doubles({3, 1, 2}), arrayOf(f), arrayOf(s), doubles({0.3, 0.1, 0.2}),
                  strings({"c", "a", "b"}));
    orv::MArray<double, 1> box = lc.getBoxval();
    box(1) = -3;
    box(2) = -1;
    box(3) = -2;
    lc.calc_weights();
    lc.sort();
    EXPECT_EQ((std::vector<double>{1, 2, 3}), valuesOf(lc.getJD()));
    EXPECT_EQ((std::vector<double>{10, 20, 30}), valuesOf(lc.getFlux()));
    EXPECT_EQ((std::vector<double>{1, 2, 3}), valuesOf(lc.getError()));
    EXPECT_EQ((std::vector<double>{0.1, 0.2, 0.3}), valuesOf(lc.getNchi()));
    EXPECT_EQ((std::vector<double>{-1, -2, -3}), valuesOf(lc.getBoxval()));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), valuesOf(lc.getFilename()));
    EXPECT_NEAR(weightedMean(f, s), removedMean(lc), 1e-12) << "weights moved with their points";
}

TEST(LightcurveEditing, SortKeepsEqualTimesInOrderAndNaNTimesInPlace)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Lightcurve lc(doubles({2, nan, 2, 1, 1, 0}), doubles({1, 2, 3, 4, 5, 6}),
                  doubles({1, 1, 1, 1, 1, 1}));
    lc.sort();
    EXPECT_EQ((std::vector<double>{6, 2, 4, 5, 1, 3}), valuesOf(lc.getFlux()));
    EXPECT_TRUE(std::isnan(lc.getJD()(2)));

    // Many points with ties against a stable sort of (time, row).
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> day(0, 500);
    const int n = 20000;
    std::vector<double> t, row;
    for (int i = 0; i < n; ++i) {
        t.push_back(day(rng));
        row.push_back(i);
    }
    Lightcurve big(arrayOf(t), arrayOf(row), arrayOf(row));
    big.sort();
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return t[a] < t[b]; });
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(t[order[i]], big.getJD()(i + 1));
        ASSERT_EQ(order[i], big.getFlux()(i + 1));
        ASSERT_EQ(order[i], big.getError()(i + 1));
    }
}

TEST(LightcurveEditing, NormaliseToTheMedian)
{
    Lightcurve lc(doubles({1, 2, 3, 4}), doubles({4, 1, 3, 2}), doubles({1, 1, 1, 1}));
    lc.normalize();
    EXPECT_EQ((std::vector<double>{1.6, 0.4, 1.2, 0.8}), valuesOf(lc.getFlux()));
    EXPECT_EQ((std::vector<double>{0.4, 0.4, 0.4, 0.4}), valuesOf(lc.getError()));

    // Only points 1..length count: a removed point leaves a stale last element.
    Lightcurve shorter(doubles({1, 2, 3}), doubles({2, 4, 100}), doubles({1, 1, 1}));
    shorter.remove_point(3);
    shorter.normalize_flux();
    EXPECT_EQ((std::vector<double>{2.0 / 3, 4.0 / 3}), firstValues(shorter.getFlux(), 2));
}

TEST(LightcurveEditing, MagnitudeConversions)
{
    // Median flux 10: median magnitude the zero point 20.
    const std::vector<double> f = {5, 10, 40}, s = {0.5, 1, 2};
    Lightcurve lc(doubles({1, 2, 3}), arrayOf(f), arrayOf(s));
    lc.convert2mag(20);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(20 - 2.5 * std::log10(f[i] / 10), lc.getFlux()(i + 1), 1e-12);
        // Half the spread between the magnitudes of f - e and f + e.
        const double spread = -2.5 * std::log10(f[i] - s[i]) + 2.5 * std::log10(f[i] + s[i]);
        EXPECT_NEAR(0.5 * spread, lc.getError()(i + 1), 1e-12);
    }
    lc.convert2flux();
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(f[i] / 10, lc.getFlux()(i + 1), 1e-12);

    Lightcurve unit(doubles({1, 2, 3}), doubles({0.5, 1, 2}), doubles({0.1, 0.1, 0.1}));
    unit.convert2mag(0);
    EXPECT_NEAR(0, unit.getFlux()(2), 1e-15);

    // Equal magnitudes give fluxes of exactly 1; an error e of a magnitude
    // becomes sinh(0.4 ln(10) e) in the flux.
    Lightcurve equal(doubles({1, 2}), doubles({14.2, 14.2}), doubles({0.1, 0.1}));
    equal.convert2mag(0);
    equal.getFlux() = 14.2;
    equal.getError() = 0.1;
    equal.convert2flux();
    EXPECT_EQ((std::vector<double>{1, 1}), valuesOf(equal.getFlux()));
    EXPECT_NEAR(std::sinh(0.04 * std::log(10)), equal.getError()(1), 1e-12);
}
