#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "lightcurve/Lightcurve.h"
#include "lightcurve/random.h"
#include "planet.h"

using namespace test_common;

namespace {

void simulate(Lightcurve &lc, const Planet &s, const orv::MArray<double, 1> &t,
              const orv::MArray<double, 1> &errors, long seed)
{
    lc.simulate_analytical(s.period, s.t0, s.inclination, s.m_star, s.r_star, s.r_planet, s.gamma1,
                           s.gamma2, t, errors, false, seed);
}

// Errors that differ from point to point.
orv::MArray<double, 1> errorsFor(int n)
{
    orv::MArray<double, 1> e(n);
    for (int i = 1; i <= n; ++i)
        e(i) = 0.001 * (1 + i % 3);
    return e;
}

} // namespace

TEST(AnalyticalSimulation, NoisePlusTheTransit)
{
    const Planet planet;
    const orv::MArray<double, 1> t = transitTimes();
    const int n = t.length(1);
    const orv::MArray<double, 1> errors = errorsFor(n);
    Lightcurve lc;
    simulate(lc, planet, t, errors, -17);

    // The transit alone, on a flat light curve.
    Lightcurve model = flat(t, 0.001);
    planet.addTo(model);
    long seed = -17;
    for (int k = 1; k <= n; ++k) {
        const double noisy = 1 + rangau(seed) * errors(k);
        EXPECT_NEAR(noisy + model.getFlux()(k) - 1, lc.getFlux()(k), 1e-14) << k;
    }
    EXPECT_EQ(valuesOf(t), valuesOf(lc.getJD()));
    EXPECT_EQ(valuesOf(errors), valuesOf(lc.getError()));
    EXPECT_EQ(std::vector<std::string>(n, "no file information"), valuesOf(lc.getFilename()));
    EXPECT_EQ(std::vector<double>(n, 0), valuesOf(lc.getNchi()));
    EXPECT_EQ(std::vector<double>(n, 0), valuesOf(lc.getBoxval()));

    // Duration, depth and counts as for the transit added to data.
    EXPECT_DOUBLE_EQ(model.getTau(), lc.getTau());
    EXPECT_DOUBLE_EQ(model.getDrop(), lc.getDrop());
    EXPECT_EQ(model.getNumber_transit_points(), lc.getNumber_transit_points());
    EXPECT_EQ(valuesOf(model.getPoints_per_transit()), valuesOf(lc.getPoints_per_transit()));
    double sum = 0;
    for (int k = 1; k <= n; ++k)
        if (std::fabs(std::remainder(t(k) - planet.t0, planet.period)) <=
            lc.getTau() * planet.period / 2)
            sum += errors(k);
    const int in = lc.getNumber_transit_points();
    EXPECT_NEAR(lc.getDrop() / (sum / in) * std::sqrt(in), lc.getSNR(), 1e-9);

    // Folded at the transit while the weighted mean flux was taken off.
    EXPECT_TRUE(lc.isWeighted());
    EXPECT_TRUE(lc.isFolded());
    EXPECT_DOUBLE_EQ(planet.t0, lc.getT0());
    double mean = 0, weights = 0, total = 0, phasedTotal = 0;
    for (int k = 1; k <= n; ++k) {
        mean += lc.getFlux()(k) / (errors(k) * errors(k));
        weights += 1 / (errors(k) * errors(k));
        total += lc.getFlux()(k);
        phasedTotal += lc.getPhased_Flux()(k);
    }
    mean /= weights;
    EXPECT_NEAR(total - n * mean, phasedTotal, 1e-12);
    EXPECT_EQ(0.5, lc.getPhase()(n / 2 + 1))
        << "the transits at 100 and 103 in the middle of the fold";
}

TEST(AnalyticalSimulation, RepeatsFromItsSeed)
{
    const Planet planet;
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve a, b, c, d;
    simulate(a, planet, t, errorsFor(t.length(1)), -5);
    simulate(b, planet, t, errorsFor(t.length(1)), -5);
    simulate(c, planet, t, errorsFor(t.length(1)), -6);
    EXPECT_EQ(valuesOf(a.getFlux()), valuesOf(b.getFlux()));
    EXPECT_NE(valuesOf(a.getFlux()), valuesOf(c.getFlux()));

    // One error for all points is the same as an array of it.
    long seed = -5;
    d.simulate_analytical(3, 100, 88, 1, 1, 1, 0.4, 0.3, t, 0.002, false, seed);
    simulate(a, planet, t, arrayOf(std::vector<double>(t.length(1), 0.002)), -5);
    EXPECT_EQ(valuesOf(a.getFlux()), valuesOf(d.getFlux()));
}

TEST(AnalyticalSimulation, ReplacesTheData)
{
    Lightcurve lc(doubles({1, 2}), doubles({5, 6}), doubles({0.1, 0.1}));
    lc.fold(0.7, 0.2);
    orv::MArray<double, 1> t = doubles({99.9, 100, 100.1});
    simulate(lc, Planet(), t, doubles({0.01, 0.01, 0.01}), -5);
    EXPECT_EQ(3, lc.getLength());
    EXPECT_DOUBLE_EQ(3, lc.getPeriod());
    // Its arrays are its own.
    t(1) = 0;
    EXPECT_EQ(99.9, lc.getJD()(1));
}

TEST(AnalyticalSimulation, ShortErrorArraysAreRefused)
{
    Lightcurve lc(doubles({1, 2}), doubles({5, 6}), doubles({0.1, 0.1}));
    testing::internal::CaptureStdout();
    simulate(lc, Planet(), doubles({99.9, 100, 100.1}), doubles({0.01, 0.01}), -5);
    EXPECT_EQ("error: fewer noise levels than times!\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ(2, lc.getLength());
    EXPECT_EQ((std::vector<double>{5, 6}), valuesOf(lc.getFlux()));
}
