#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "draws.h"
#include "lightcurve/Lightcurve.h"
#include "lightcurve/random.h"
#include "printed.h"

using namespace test_common;

namespace {

orv::MArray<double, 1> constant(int n, double value)
{
    return arrayOf(std::vector<double>(n, value));
}

// The first n standard normal deviates of the sequence the seed starts.
std::vector<double> gaussians(long seed, int n)
{
    return firstDeviates(rangau, seed, n);
}

} // namespace

TEST(Simulation, BoxTransitsWithoutNoise)
{
    // Period 1, epoch 0.3, width 0.1: in transit within 0.05 of phase 0.3.
    // Times before 0 lie on the same phases as those after it.
    const orv::MArray<double, 1> t =
        doubles({-1.6, -0.9, -0.7, 0.26, 0.3, 0.34, 0.36, 0.5, 1.29, 2.3, 2.34, 2.4});
    const std::vector<double> expected = {1, 1, 0.98, 0.98, 0.98, 0.98, 1, 1, 0.98, 0.98, 0.98, 1};
    Lightcurve lc;
    long seed = -5;
    lc.simulate(1, 0.3, 0.1, 0.02, t, constant(12, 0), seed);
    EXPECT_EQ(12, lc.getLength());
    const std::vector<double> flux = valuesOf(lc.getFlux());
    ASSERT_EQ(expected.size(), flux.size());
    for (std::size_t i = 0; i < flux.size(); ++i)
        EXPECT_DOUBLE_EQ(expected[i], flux[i]) << "time " << t(int(i) + 1);
    EXPECT_EQ(7, lc.getNumber_transit_points());
    // Transits at -0.7, 0.3, 1.3 and 2.3.
    EXPECT_EQ(4, lc.getNumber_transits());
    EXPECT_EQ(valuesOf(t), valuesOf(lc.getJD()));
    EXPECT_DOUBLE_EQ(1, lc.getPeriod());
    EXPECT_DOUBLE_EQ(0.3, lc.getT0());
    EXPECT_DOUBLE_EQ(0.1, lc.getTau());
    EXPECT_EQ(std::vector<std::string>(12, "no file information"), valuesOf(lc.getFilename()));
    EXPECT_EQ(std::vector<double>(12, 0), valuesOf(lc.getNchi()));
    EXPECT_EQ(std::vector<double>(12, 0), valuesOf(lc.getBoxval()));
}

TEST(Simulation, TransitEdges)
{
    // Phase distances 0.05 and 0.95 are in transit for width 0.1, 0.06 is not.
    Lightcurve lc;
    long seed = -5;
    lc.simulate(1, 0, 0.1, 0.5, doubles({0.05, 0.06, 0.95}), constant(3, 0), seed);
    EXPECT_EQ((std::vector<double>{0.5, 1, 0.5}), valuesOf(lc.getFlux()));
    EXPECT_EQ(2, lc.getNumber_transit_points());
}

TEST(Simulation, NoiseComesFromTheSeed)
{
    const orv::MArray<double, 1> t = doubles({0.1, 0.2, 0.3, 0.4, 0.5});
    const orv::MArray<double, 1> sigma = doubles({0.01, 0.02, 0.03, 0.04, 0.05});
    const std::vector<double> g = gaussians(-42, 5);

    Lightcurve lc;
    long seed = -42;
    lc.simulate(10, 3, 0.01, 0.1, t, sigma, seed);
    for (int i = 1; i <= 5; ++i)
        EXPECT_DOUBLE_EQ(1 + g[i - 1] * sigma(i), lc.getFlux()(i));
    EXPECT_EQ(valuesOf(sigma), valuesOf(lc.getError()));

    Lightcurve noise;
    seed = -42;
    noise.simulate_noise(t, sigma, seed);
    EXPECT_EQ(valuesOf(lc.getFlux()), valuesOf(noise.getFlux()));
    seed = -42;
    noise.simulate_noise(t, 0.03, seed);
    for (int i = 1; i <= 5; ++i)
        EXPECT_DOUBLE_EQ(1 + g[i - 1] * 0.03, noise.getFlux()(i));

    // The per-cent form: a level of 2 per cent is an error of 0.02.
    seed = -42;
    lc.simulate(10, 3, 0.01, 0.1, t, 2.0, seed);
    EXPECT_EQ(std::vector<double>(5, 0.02), valuesOf(lc.getError()));
    for (int i = 1; i <= 5; ++i)
        EXPECT_DOUBLE_EQ(1 + g[i - 1] * 0.02, lc.getFlux()(i));
}

TEST(Simulation, NoiseHasTheGivenLevel)
{
    const int n = 20000;
    orv::MArray<double, 1> t(n);
    for (int i = 1; i <= n; ++i)
        t(i) = i;
    Lightcurve lc;
    long seed = -7;
    lc.simulate_noise(t, 0.01, seed);
    double sum = 0, squares = 0;
    for (int i = 1; i <= n; ++i) {
        sum += lc.getFlux()(i) - 1;
        squares += (lc.getFlux()(i) - 1) * (lc.getFlux()(i) - 1);
    }
    // Standard errors: 0.01/sqrt(n) for the mean, 0.01/sqrt(2n) for the
    // standard deviation; five of them.
    EXPECT_NEAR(0, sum / n, 5 * 0.01 / std::sqrt(n));
    EXPECT_NEAR(0.01, std::sqrt(squares / n), 5 * 0.01 / std::sqrt(2.0 * n));
}

TEST(Simulation, RandomTimesAreSortedAndReproducible)
{
    // 3 periods of 2 days, 500 points at 1 per cent.
    Lightcurve a, b;
    long seed = -11;
    a.simulate(2, 1, 0.05, 0.01, 1.0, 3, 500, seed);
    seed = -11;
    b.simulate(2, 1, 0.05, 0.01, 1.0, 3, 500, seed);
    const std::vector<double> t = valuesOf(a.getJD());
    ASSERT_EQ(500u, t.size());
    EXPECT_TRUE(std::is_sorted(t.begin(), t.end()));
    EXPECT_GE(t.front(), 0);
    EXPECT_LT(t.back(), 6);
    EXPECT_EQ(t, valuesOf(b.getJD()));
    EXPECT_EQ(valuesOf(a.getFlux()), valuesOf(b.getFlux()));
    // In time order every transit is counted once: epochs 1, 3 and 5.
    EXPECT_EQ(3, a.getNumber_transits());

    // The same times drawn directly.
    long s = -11;
    std::vector<double> drawn;
    for (int i = 0; i < 500; ++i)
        drawn.push_back(ran3(s) * 3 * 2);
    std::sort(drawn.begin(), drawn.end());
    EXPECT_EQ(drawn, t);
}

TEST(Simulation, ReplacingDataForgetsWhatWasDerived)
{
    // A light curve that has been weighted, folded and searched, so that
    // everything a simulation must forget is there to forget.
    std::vector<double> t, f;
    for (int i = 0; i < 120; ++i) {
        t.push_back(0.1 * i);
        f.push_back(std::fmod(0.1 * i, 2.0) < 0.2 ? 0.99 : 1.0);
    }
    Lightcurve lc(arrayOf(t), arrayOf(f), constant(120, 0.001));
    lc.calc_weights();
    lc.fold(2.0);
    lc.boxfitting(50, 1.5, 3, 0.05, 0.2, 0);
    ASSERT_TRUE(lc.isFolded());
    ASSERT_TRUE(lc.isBoxfitted());
    ASSERT_GT(lc.getPeriod_box(1), 0);
    long seed = -3;
    lc.simulate(1, 0.5, 0.2, 0.1, doubles({0.1, 0.5, 0.9, 1.5}), constant(4, 0.01), seed);
    EXPECT_FALSE(lc.isWeighted());
    EXPECT_FALSE(lc.isFolded());
    EXPECT_FALSE(lc.isBoxfitted());
    EXPECT_EQ(0, lc.getPoints_per_transit().length(1));
    EXPECT_EQ(std::vector<double>(4, 0), valuesOf(lc.getBoxval()));
    EXPECT_EQ(0, lc.getPeriod_box().length(1));
    EXPECT_EQ(0, lc.getPhased_Flux().length(1));

    // A flat simulation has no transits to count.
    lc.simulate_noise(doubles({0.1, 0.2}), 0.01, seed);
    EXPECT_EQ(-1, lc.getNumber_transit_points());
    EXPECT_EQ(0, lc.getNumber_transits());
}

TEST(Simulation, ShortNoiseArraysAreRefused)
{
    const char *const message = "error: fewer noise levels than times!\n";
    Lightcurve lc(doubles({1, 2}), doubles({5, 6}), doubles({0.1, 0.1}));
    long seed = -3;
    EXPECT_EQ(message, printed([&] {
                  lc.simulate(1, 0, 0.1, 0.1, doubles({1, 2, 3}), doubles({0.1, 0.1}), seed);
              }));
    EXPECT_EQ(message, printed([&] {
                  lc.simulate_noise(doubles({1, 2, 3}), doubles({0.1}), seed);
              }));
    EXPECT_EQ(2, lc.getLength());
    EXPECT_EQ((std::vector<double>{5, 6}), valuesOf(lc.getFlux()));
    // Longer arrays give a level to each time.
    lc.simulate_noise(doubles({1, 2}), doubles({0.1, 0.2, 0.3}), seed);
    EXPECT_EQ((std::vector<double>{0.1, 0.2}), valuesOf(lc.getError()));
}

TEST(Simulation, WhiteNoiseAddsInQuadrature)
{
    Lightcurve lc(doubles({1, 2, 3}), doubles({1, 2, 3}), doubles({0.3, 0, 4}));
    long seed = -9;
    const std::vector<double> g = gaussians(-9, 3);
    lc.add_whitenoise(0.4, seed);
    EXPECT_DOUBLE_EQ(0.5, lc.getError()(1));
    EXPECT_DOUBLE_EQ(0.4, lc.getError()(2));
    EXPECT_DOUBLE_EQ(std::sqrt(16.16), lc.getError()(3));
    for (int i = 1; i <= 3; ++i)
        EXPECT_DOUBLE_EQ(i + g[i - 1] * 0.4, lc.getFlux()(i));
}

TEST(Simulation, RedNoiseWithGivenPhases)
{
    const orv::MArray<double, 1> t = doubles({0, 0.1, 0.5, 0.6, 3, 3.2});
    Lightcurve lc(t, constant(6, 1), constant(6, 0.01));
    long seed = -9;
    lc.add_rednoise(doubles({0.01, 0.002}), doubles({2, 30}), doubles({0.5, -1}), seed);
    for (int i = 1; i <= 6; ++i)
        EXPECT_DOUBLE_EQ(1 + 0.01 * std::sin(2 * t(i) + 0.5) + 0.002 * std::sin(30 * t(i) - 1),
                         lc.getFlux()(i));
}

TEST(Simulation, RedNoisePhasesAreDrawnPerSegment)
{
    // Segments begin at 0 (the first point), 0.5 (after a gap of 0.4),
    // 1.5 (the segment from 0.5 lasted a day) and 2.7 (after a gap of 1.1).
    const orv::MArray<double, 1> t = doubles({0, 0.1, 0.5, 0.7, 0.9, 1.1, 1.3, 1.5, 1.6, 2.7});
    const int segment[] = {0, 0, 1, 1, 1, 1, 1, 2, 2, 3};
    Lightcurve lc(t, constant(10, 0), constant(10, 0.01));
    long seed = -21;
    lc.add_rednoise(doubles({1}), doubles({5}), doubles({0}), seed);
    long s = -21;
    std::vector<double> psi;
    for (int k = 0; k < 4; ++k)
        psi.push_back(ran3(s) * 6.28318530717958);
    for (int i = 1; i <= 10; ++i)
        EXPECT_DOUBLE_EQ(std::sin(5 * t(i) + psi[segment[i - 1]]), lc.getFlux()(i));
}

TEST(Simulation, RedNoiseRefusals)
{
    Lightcurve lc(doubles({1, 2}), doubles({1, 1}), doubles({0.1, 0.1}));
    long seed = -9;
    EXPECT_EQ("error: fewer frequencies or phases than amplitudes!\n", printed([&] {
                  lc.add_rednoise(doubles({1, 1}), doubles({1, 1}), doubles({1}), seed);
              }));
    EXPECT_EQ((std::vector<double>{1, 1}), valuesOf(lc.getFlux()));
    // Nothing to add to: no time is read.
    Lightcurve empty;
    EXPECT_EQ("",
              printed([&] { empty.add_rednoise(doubles({1}), doubles({1}), doubles({0}), seed); }));
}
