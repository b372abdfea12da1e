#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "lightcurve/Lightcurve.h"
#include "lightcurve/occultation.h"
#include "planet.h"
#include "printed.h"

using namespace test_common;

namespace {

} // namespace

TEST(AnalyticalTransit, FollowsTheOrbit)
{
    const Planet planet;
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve lc = flat(t, 0.001);
    planet.addTo(lc);
    int changed = 0;
    for (int k = 1; k <= t.length(1); ++k) {
        const double z = planet.separation(t(k));
        const double expected =
            1 + occultation_exact(planet.ratio(), z, planet.gamma1, planet.gamma2);
        EXPECT_NEAR(expected, lc.getFlux()(k), 1e-8) << "t = " << t(k) << ", z = " << z;
        if (z >= 1 + planet.ratio()) {
            EXPECT_EQ(1.0, lc.getFlux()(k)) << "untouched outside the transit";
        }
        changed += lc.getFlux()(k) != 1.0;
    }
    EXPECT_GT(changed, 40);
    EXPECT_DOUBLE_EQ(planet.ratio() * planet.ratio(), lc.getDrop());
    EXPECT_DOUBLE_EQ(100, lc.getT0());
    EXPECT_DOUBLE_EQ(3, lc.getPeriod());
}

TEST(AnalyticalTransit, UniformDiscAtMidTransit)
{
    // Edge-on through the centre: the planet hides its own area.
    Planet planet;
    planet.inclination = 90;
    planet.gamma1 = planet.gamma2 = 0;
    Lightcurve lc = flat(doubles({99, 100, 101}), 0.001);
    planet.addTo(lc);
    EXPECT_DOUBLE_EQ(1 - planet.ratio() * planet.ratio(), lc.getFlux()(2));
    EXPECT_EQ(1.0, lc.getFlux()(1));
    EXPECT_EQ(1.0, lc.getFlux()(3));

    // A body twice the star's size covers it all.
    planet.r_planet = 2 * 6.96265e8 / 7.14e7;
    Lightcurve covered = flat(doubles({99, 100}), 0.001);
    planet.addTo(covered);
    EXPECT_EQ(0.0, covered.getFlux()(2));
}

TEST(AnalyticalTransit, DurationCountsAndSignalToNoise)
{
    const Planet planet;
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve lc = flat(t, 0.001);
    planet.addTo(lc);

    // The centre crosses the disc along a chord of 2 sqrt(1 - b^2) stellar
    // radii, b = orbit cos(inclination).
    const double b = planet.orbit() * std::cos(planet.inclination * kPi / 180);
    const double chord = 2 * std::sqrt(1 - b * b);
    EXPECT_NEAR(chord / (2 * kPi * planet.orbit()), lc.getTau(), 1e-8);

    // In transit: within half the duration of a mid-transit.
    const double half = lc.getTau() * planet.period / 2;
    int first = 0, second = 0;
    for (int k = 1; k <= t.length(1); ++k) {
        if (std::fabs(t(k) - 100) <= half)
            ++first;
        if (std::fabs(t(k) - 103) <= half)
            ++second;
    }
    ASSERT_GT(first, 10);
    EXPECT_EQ(first + second, lc.getNumber_transit_points());
    EXPECT_EQ(2, lc.getNumber_transits());
    EXPECT_EQ((std::vector<int>{first, second}), valuesOf(lc.getPoints_per_transit()));
    EXPECT_NEAR(lc.getDrop() / 0.001 * std::sqrt(first + second), lc.getSNR(), 1e-9);

    // Weighted and folded at the transit: its middle at phase 0.5.
    EXPECT_TRUE(lc.isWeighted());
    EXPECT_TRUE(lc.isFolded());
    const std::vector<double> phase = valuesOf(lc.getPhase()),
                              phased = valuesOf(lc.getPhased_Flux());
    const std::size_t deepest = std::min_element(phased.begin(), phased.end()) - phased.begin();
    EXPECT_NEAR(0.5, phase[deepest], 1e-9);
}

TEST(AnalyticalTransit, EpochZero)
{
    // An epoch of 0 is a mid-transit like any other, not the fold's default.
    Planet planet;
    planet.t0 = 0;
    Lightcurve lc = flat(doubles({-3.01, -3, 0.5, 2.99, 3}), 0.001);
    planet.addTo(lc);
    EXPECT_EQ(0.0, lc.getT0());
    EXPECT_EQ(4, lc.getNumber_transit_points());
    EXPECT_EQ(2, lc.getNumber_transits());
    EXPECT_LT(lc.getFlux()(2), 0.99);
    EXPECT_EQ(1.0, lc.getFlux()(3));
}

TEST(AnalyticalTransit, NoTransitAtLowInclination)
{
    Planet planet;
    planet.inclination = 60;
    Lightcurve lc = flat(transitTimes(), 0.001);
    planet.addTo(lc);
    EXPECT_TRUE(std::isnan(lc.getTau()));
    EXPECT_EQ(0, lc.getNumber_transit_points());
    EXPECT_EQ(0, lc.getNumber_transits());
    EXPECT_EQ(std::vector<int>{0}, valuesOf(lc.getPoints_per_transit()));
    EXPECT_EQ(0, lc.getSNR());
    EXPECT_EQ(std::vector<double>(162, 1.0), valuesOf(lc.getFlux()));
}

TEST(AnalyticalTransit, NoTransitBeginsWhereNoDistanceInTimeReachesTheNext)
{
    // A star without mass has an orbit of radius 0, so tau is infinite and
    // every point lies in transit; with a negative period (1 - tau) * period
    // is infinite.
    Planet planet;
    planet.period = -3;
    planet.m_star = 0;
    Lightcurve lc = flat(doubles({99.9, 100, 100.1}), 0.001);
    planet.addTo(lc);
    EXPECT_EQ(3, lc.getNumber_transit_points());
    EXPECT_EQ(0, lc.getNumber_transits());
    EXPECT_EQ(std::vector<int>{0}, valuesOf(lc.getPoints_per_transit()));
}

TEST(AnalyticalTransit, ErrorsOfZeroGiveUnboundedSignalToNoise)
{
    Lightcurve lc = flat(doubles({99.9, 100, 100.1}), 0);
    Planet().addTo(lc);
    EXPECT_EQ(1e100, lc.getSNR());
}

TEST(AnalyticalTransit, TransitsOfSeveralPlanetsAddUp)
{
    const Planet a;
    Planet b;
    b.period = 5;
    b.t0 = 100.02;
    b.r_planet = 0.5;
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve both = flat(t, 0.001), first = flat(t, 0.001), second = flat(t, 0.001);
    a.addTo(both);
    b.addTo(both);
    a.addTo(first);
    b.addTo(second);
    for (int k = 1; k <= t.length(1); ++k)
        EXPECT_NEAR(first.getFlux()(k) + second.getFlux()(k) - 1, both.getFlux()(k), 1e-15);
    EXPECT_DOUBLE_EQ(5, both.getPeriod());
}

TEST(AnalyticalTransit, SmallPlanetMode)
{
    Planet planet;
    planet.r_planet = 0.9; // a radius ratio below 0.1
    const orv::MArray<double, 1> t = transitTimes();
    Lightcurve exact = flat(t, 0.001), small = flat(t, 0.001);
    planet.addTo(exact);
    EXPECT_EQ("", printed([&] { planet.addTo(small, true); }));
    // The approximation is good to a small part of the depth.
    for (int k = 1; k <= t.length(1); ++k)
        EXPECT_NEAR(exact.getFlux()(k), small.getFlux()(k), 0.03 * exact.getDrop());

    // Larger planets are warned about, once for every point in transit.
    planet.r_planet = 2;
    int inside = 0;
    for (int k = 1; k <= t.length(1); ++k)
        inside += planet.separation(t(k)) < 1 + planet.ratio();
    Lightcurve big = flat(t, 0.001);
    const std::string out = printed([&] { planet.addTo(big, true); });
    std::string line =
        "warning: small planet approximation is not very accurate for R_planet / R_star = ";
    EXPECT_EQ(0u, out.find(line));
    EXPECT_EQ(inside, static_cast<int>(std::count(out.begin(), out.end(), '\n')));
}

TEST(AnalyticalTransit, ASimulationAfterwardsForgetsTheTransit)
{
    Lightcurve lc = flat(transitTimes(), 0.001);
    Planet().addTo(lc);
    long seed = -1;
    lc.simulate_noise(doubles({1, 2, 3}), 0.01, seed);
    EXPECT_FALSE(lc.isFolded());
    EXPECT_FALSE(lc.isWeighted());
    EXPECT_EQ(0, lc.getPoints_per_transit().length(1));
    EXPECT_EQ(-1, lc.getNumber_transit_points());
}

TEST(AnalyticalTransit, BlendingDilutesTheDipOnly)
{
    Lightcurve lc = flat(transitTimes(), 1e-3);
    Planet().addTo(lc);
    const std::vector<double> before = valuesOf(lc.getFlux());
    ASSERT_LT(*std::min_element(before.begin(), before.end()), 0.99);
    lc.manipulate(1, 0.01); // lifted above the continuum: left as it is
    lc.blend(0.5);
    const std::vector<double> after = valuesOf(lc.getFlux());
    EXPECT_DOUBLE_EQ(before[0] + 0.01, after[0]);
    for (std::size_t i = 1; i < before.size(); ++i)
        EXPECT_DOUBLE_EQ(before[i] < 1 ? before[i] + 0.5 * (1 - before[i]) : before[i], after[i]);
}
