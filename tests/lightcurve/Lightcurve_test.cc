#include "lightcurve/Lightcurve.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "printed.h"

using namespace test_common;

namespace {

const std::vector<double> kZeros5(5, 0.0);
const std::vector<std::string> kNoFile5(5, "no file information");

} // namespace

TEST(LightcurveConstruction, ThreeArraysGiveDefaults)
{
    const Lightcurve lc(doubles({1, 2, 3, 4, 5}), doubles({10, 11, 12, 13, 14}),
                        doubles({1, 1, 1, 1, 1}));
    EXPECT_EQ(5, lc.getLength());
    EXPECT_EQ(kZeros5, valuesOf(lc.getNchi()));
    EXPECT_EQ(kZeros5, valuesOf(lc.getBoxval()));
    EXPECT_EQ(kNoFile5, valuesOf(lc.getFilename()));
    EXPECT_FALSE(lc.isWeighted());
    EXPECT_FALSE(lc.isFolded());
    EXPECT_FALSE(lc.isBoxfitted());
    for (double v : {lc.getPeriod(), lc.getTau(), lc.getT0(), lc.getSNR(), lc.getDrop()})
        EXPECT_EQ(0.0, v);
    EXPECT_EQ(-1, lc.getNumber_transit_points());
}

TEST(LightcurveConstruction, OptionalArraysAndTheirDefaults)
{
    const auto jd = [] { return doubles({1, 2, 3, 4, 5}); };
    const Lightcurve withNchi(jd(), jd(), jd(), doubles({5, 4, 3, 2, 1}));
    EXPECT_EQ((std::vector<double>{5, 4, 3, 2, 1}), valuesOf(withNchi.getNchi()));
    EXPECT_EQ(kNoFile5, valuesOf(withNchi.getFilename()));

    const Lightcurve withNames(jd(), jd(), jd(), strings({"a", "b", "c", "d", "e"}));
    EXPECT_EQ(kZeros5, valuesOf(withNames.getNchi()));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "e"}),
              valuesOf(withNames.getFilename()));

    const Lightcurve withBoth(jd(), jd(), jd(), doubles({0, 1, 0, 1, 0}),
                              strings({"a", "b", "c", "d", "e"}));
    EXPECT_EQ((std::vector<double>{0, 1, 0, 1, 0}), valuesOf(withBoth.getNchi()));
    EXPECT_EQ("e", withBoth.getFilename()(5));
}

TEST(LightcurveConstruction, SharesStorageWithTheCaller)
{
    orv::MArray<double, 1> flux = doubles({10, 11, 12});
    Lightcurve lc(doubles({1, 2, 3}), flux, doubles({1, 1, 1}));
    flux(2) = 99;
    EXPECT_EQ(99, lc.getFlux()(2));
    lc.getFlux()(3) = -5;
    EXPECT_EQ(-5, flux(3));
    lc.scale(2);
    EXPECT_EQ(20, flux(1));

    // A light curve assigned to another shares its arrays too.
    Lightcurve other(doubles({1}), doubles({1}), doubles({1}));
    other = lc;
    EXPECT_EQ(3, other.getLength());
    other.getFlux()(1) = 7;
    EXPECT_EQ(7, flux(1));

    // Arrays of another index base are seen from 1, still shared.
    orv::MArray<double, 1> jd0 = doubles({7, 8, 9}, 0);
    Lightcurve based(jd0, doubles({1, 2, 3}, -4), doubles({1, 1, 1}, 10));
    EXPECT_EQ(7, based.getJD()(1));
    EXPECT_EQ(3, based.getFlux()(3));
    based.getJD()(3) = 42;
    EXPECT_EQ(42, jd0(2));
}

TEST(LightcurveConstruction, UnequalLengthsAreRefusedAndLeaveNoData)
{
    const auto five = [] { return doubles({1, 2, 3, 4, 5}); };
    const std::function<Lightcurve()> refused[] = {
        [&] {
            return Lightcurve(five(), five(), doubles({1, 2, 3, 4}));
        },
        [&] {
            return Lightcurve(doubles({1, 2, 3, 4}), five(), five());
        },
        [&] { return Lightcurve(five(), five(), five(), doubles({1})); },
        [&] { return Lightcurve(five(), five(), five(), strings({"a"})); },
        [&] {
            return Lightcurve(five(), five(), five(), five(), strings({"a", "b"}));
        },
    };
    for (const auto &make : refused) {
        Lightcurve lc;
        EXPECT_EQ("vectors have different lengths!\n", printed([&] { lc = make(); }));
        EXPECT_EQ(0, lc.getLength());
        EXPECT_EQ(0, lc.getFlux().elementCount());
        // Nothing reaches outside the empty arrays.
        EXPECT_EQ("lightcurve contains no data points!\n", printed([&] { lc.scale(2); }));
        EXPECT_EQ("error: number(1) out of range (1,0)!\n", printed([&] { lc.manipulate(1, 1); }));
        EXPECT_EQ("error: number(1) out of range (1,0)!\n", printed([&] { lc.remove_point(1); }));
        EXPECT_EQ("", printed([&] {
                      lc.convert2mag(0);
                      lc.convert2flux();
                  }));
    }
}

TEST(LightcurveAccessors, BoxResultsAndCountsBeforeAnySearch)
{
    const Lightcurve lc(doubles({1, 2}), doubles({1, 1}), doubles({1, 1}));
    struct Case {
        std::function<double()> call;
        double value;
        const char *message;
    };
    const Case cases[] = {
        {[&] { return lc.getDrop_box(1); }, -1.0, "no boxed-lightcurve available!\n"},
        {[&] { return lc.getT0_box(1); }, -1.0, "no boxed-lightcurve available!\n"},
        {[&] { return lc.getTau_box(1); }, -1.0, "no boxed-lightcurve available!\n"},
        {[&] { return lc.getSDE(1); }, -1.0, "error: number(1) out of range (1,0)!\n"},
        {[&] { return lc.getPeriod_box(11); }, -1.0, "error: number(11) out of range (1,0)!\n"},
        {[&] { return lc.getPoints_per_transit(1); }, -1, "error: number(1) out of range (1,0)!\n"},
        {[&] { return lc.getNumber_transits(); }, 0, "number of transits not available!\n"},
        {[&] { return lc.getNumber_box(); }, 0, "number of transits not available!\n"},
        {[&] { return lc.getNumber_transit_box(); }, -1,
         "number of points in-transit not available!\n"},
        {[&] { return lc.getNumber_transit_points(); }, -1, ""},
    };
    for (const Case &c : cases) {
        double value = 0;
        EXPECT_EQ(c.message, printed([&] { value = c.call(); }));
        EXPECT_EQ(c.value, value) << c.message;
    }
    EXPECT_EQ(0, lc.getSDE().elementCount());
    EXPECT_EQ(0, lc.getPoints_per_transit().elementCount());
}
