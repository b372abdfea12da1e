#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "draws.h"
#include "lightcurve/Lightcurve.h"
#include "phases.h"
#include "printed.h"

using namespace test_common;

namespace {

// Weighted mean flux, weights 1/error^2.
double weightedMean(const Lightcurve &lc)
{
    double sum = 0, weight = 0;
    for (int i = 1; i <= lc.getLength(); ++i) {
        const double w = 1 / (lc.getError()(i) * lc.getError()(i));
        sum += w * lc.getFlux()(i);
        weight += w;
    }
    return sum / weight;
}

// The two numbers of the line that clipping prints.
void printedMedianAndScale(const std::string &line, double &median, double &scale)
{
    std::istringstream in(line);
    in >> median >> scale;
}

} // namespace

TEST(LightcurveMaskTransit, CutsTheWindowWithBothEndsIncluded)
{
    // Period 2, epoch 3, width 0.25: the window 0.3749 .. 0.6251 in phase.
    const double lower = 0.4999 - 0.125, upper = 0.5001 + 0.125;
    const double atLower = timeAtPhase(lower, 2.7498, 2, 3),
                 atUpper = timeAtPhase(upper, 3.2502, 2, 3);
    const double justBelow = std::nextafter(atLower, 0), justAbove = std::nextafter(atUpper, 100);
    // Kept: points 0, 6, 7 and 8; the others lie in the window.
    const std::vector<double> t = {justBelow, atLower, 3, 7.1, -0.9, atUpper, justAbove, 4, 2.2};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < t.size(); ++i)
        names.push_back("n" + std::to_string(i));
    const std::vector<double> index = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    orv::MArray<double, 1> flux = arrayOf(index);
    Lightcurve lc(arrayOf(t), flux, arrayOf(std::vector<double>(t.size(), 1.0)), arrayOf(index),
                  arrayOf(names));
    lc.maskTransit(2, 3, 0.25);
    EXPECT_EQ((std::vector<double>{0, 6, 7, 8}), valuesOf(lc.getFlux()));
    EXPECT_EQ((std::vector<double>{0, 6, 7, 8}), valuesOf(lc.getNchi()));
    EXPECT_EQ((std::vector<std::string>{"n0", "n6", "n7", "n8"}), valuesOf(lc.getFilename()));
    EXPECT_EQ(4, lc.getLength());
    // The light curve has arrays of its own now.
    EXPECT_EQ(index, valuesOf(flux));
}

TEST(LightcurveMaskTransit, EpochZeroIsAnEpochLikeAnyOther)
{
    Lightcurve lc(doubles({0, 0.5, 1, 3}), doubles({1, 2, 3, 4}), doubles({1, 1, 1, 1}));
    lc.maskTransit(1, 0, 0.2); // times 0, 1 and 3 at phase 0.5
    EXPECT_EQ((std::vector<double>{2}), valuesOf(lc.getFlux()));
}

TEST(LightcurveMaskTransit, WeightsStayWithTheirPoints)
{
    // Weights 4/6, 1/6, 1/6 by the errors; the middle point is cut out. The
    // weighted mean that renorm removes then uses the weights of points 1
    // and 3: 4/6 * 3 + 1/6 * 6.
    Lightcurve lc(doubles({0.1, 0.5, 0.8}), doubles({3, 100, 6}), doubles({0.5, 1, 1}));
    lc.calc_weights();
    lc.maskTransit(1, 0.5, 0.1);
    ASSERT_EQ(2, lc.getLength());
    lc.renorm();
    EXPECT_NEAR(3 - (4.0 / 6 * 3 + 1.0 / 6 * 6), lc.getFlux()(1), 1e-12);
}

TEST(LightcurveMaskTransit, AnUnusablePeriodEpochOrWidthIsRefused)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::string period = "error: period must be positive and finite!\n",
                      epoch = "error: epoch must be finite!\n",
                      width = "error: box width must be finite and not negative!\n";
    const std::vector<double> t = counting(1000);
    const std::vector<double> flux = draws(1000, std::normal_distribution<double>(1, 0.01), 7);
    const struct {
        double P, T, q;
        std::string message;
    } cases[] = {{0, 0.3, 0.1, period},   {-2, 0.3, 0.1, period},  {nan, 0.3, 0.1, period},
                 {inf, 0.3, 0.1, period}, {2.3, nan, 0.1, epoch},  {2.3, -inf, 0.1, epoch},
                 {2.3, 0.3, nan, width},  {2.3, 0.3, inf, width},  {2.3, 0.3, -inf, width},
                 {2.3, 0.3, -0.1, width}, {2.3, 0.3, -1e-5, width}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.P << " " << c.T << " " << c.q);
        Lightcurve lc(arrayOf(t), arrayOf(flux), arrayOf(std::vector<double>(1000, 0.01)));
        EXPECT_EQ(c.message, printed([&] { lc.maskTransit(c.P, c.T, c.q); }));
        EXPECT_EQ(1000, lc.getLength());
        EXPECT_EQ(t, valuesOf(lc.getJD()));
        EXPECT_EQ(flux, valuesOf(lc.getFlux()));
    }
    // A width of 1 or more is a window over every phase.
    Lightcurve lc(arrayOf(t), arrayOf(flux), arrayOf(std::vector<double>(1000, 0.01)));
    EXPECT_EQ("", printed([&] { lc.maskTransit(2.3, 0.3, 1); }));
    EXPECT_EQ(0, lc.getLength());
}

TEST(LightcurveClipping, RemovesTheInjectedOutliersOnly)
{
    const std::vector<double> t = counting(1000);
    std::vector<double> flux = draws(1000, std::normal_distribution<double>(100, 1), 21);
    // Outliers of 10 sigma, two of them neighbours.
    const std::vector<int> outliers = {17, 500, 501, 732, 999};
    for (int i : outliers)
        flux[i] += (i % 2 ? -10 : 10);
    Lightcurve lc(arrayOf(t), arrayOf(flux), arrayOf(std::vector<double>(1000, 1.0)));

    // The median and the standard deviation about it, computed directly.
    std::vector<double> sorted = flux;
    std::sort(sorted.begin(), sorted.end());
    const double median = (sorted[499] + sorted[500]) / 2;
    double sum = 0;
    for (double f : flux)
        sum += (f - median) * (f - median);
    int removed = 0;
    const std::string line = printed([&] { removed = lc.clipping(5); });
    EXPECT_EQ(5, removed);
    double m, s;
    printedMedianAndScale(line, m, s);
    EXPECT_NEAR(median, m, 1e-3);
    EXPECT_NEAR(std::sqrt(sum / 999), s, 1e-4);

    std::vector<double> kept;
    for (int i = 0; i < 1000; ++i)
        if (std::find(outliers.begin(), outliers.end(), i) == outliers.end())
            kept.push_back(i);
    EXPECT_EQ(kept, valuesOf(lc.getJD()(orv::Range(1, lc.getLength()))));
    // The survivors are weighed and their mean subtracted.
    EXPECT_TRUE(lc.isWeighted());
    EXPECT_NEAR(0, weightedMean(lc), 1e-9);
}

TEST(LightcurveClipping, ErrorClippingRemovesLargeErrorsOnly)
{
    const std::vector<double> t = counting(200);
    std::vector<double> error = draws(200, std::uniform_real_distribution<double>(0.9, 1.1), 22);
    error[50] = 50;    // far above the median error
    error[120] = 1e-3; // far below it: kept
    Lightcurve lc(arrayOf(t), arrayOf(std::vector<double>(200, 1.0)), arrayOf(error));
    int removed = 0;
    printed([&] { removed = lc.error_clipping(3); });
    EXPECT_EQ(1, removed);
    EXPECT_EQ(199, lc.getLength());
    EXPECT_EQ(51, lc.getJD()(51));
    EXPECT_EQ(1e-3, lc.getError()(120));
}

TEST(LightcurveClipping, IdenticalValuesAreNeverFar)
{
    Lightcurve fluxes(doubles({1, 2, 3, 4}), doubles({5, 5, 5, 5}), doubles({1, 2, 1, 2}));
    EXPECT_EQ("5 0\n", printed([&] { EXPECT_EQ(0, fluxes.clipping(3)); }));
    EXPECT_EQ(4, fluxes.getLength());
    Lightcurve errors(doubles({1, 2, 3}), doubles({1, 2, 3}), doubles({0.1, 0.1, 0.1}));
    EXPECT_EQ("0.1 0\n", printed([&] { EXPECT_EQ(0, errors.error_clipping(3)); }));
    EXPECT_EQ(3, errors.getLength());
}

TEST(LightcurveClipping, AFactorThatIsNotPositiveIsRefused)
{
    // Either clipping would otherwise find points at or above the median
    // (or every point) far from it.
    const std::vector<double> flux = {5, 1, 9, 4, 7}, error = {0.2, 0.1, 0.5, 0.3, 0.4};
    for (const double kappa : {0.0, -0.0, -1.0, std::nan("")}) {
        for (const bool errors : {false, true}) {
            SCOPED_TRACE(testing::Message() << kappa << (errors ? " errors" : " fluxes"));
            Lightcurve lc(doubles({1, 2, 3, 4, 5}), arrayOf(flux), arrayOf(error));
            int removed = -1;
            EXPECT_EQ("error: clipping factor must be positive!\n", printed([&] {
                          removed = errors ? lc.error_clipping(kappa) : lc.clipping(kappa);
                      }));
            EXPECT_EQ(0, removed);
            EXPECT_EQ(flux, valuesOf(lc.getFlux()));
            EXPECT_EQ(error, valuesOf(lc.getError()));
            EXPECT_FALSE(lc.isWeighted());
        }
    }
}

TEST(LightcurveClipping, RefusedWithoutPoints)
{
    const std::string none = "lightcurve contains no data points!\n";
    Lightcurve empty;
    EXPECT_EQ(none, printed([&] { EXPECT_EQ(0, empty.clipping(3)); }));
    EXPECT_EQ(none, printed([&] { EXPECT_EQ(0, empty.error_clipping(3)); }));
    EXPECT_EQ(none, printed([&] { empty.maskTransit(1, 0, 0.1); }));
    Lightcurve lc(doubles({1}), doubles({1}), doubles({1}));
    lc.maskTransit(1, 0, 0.1); // the only point is cut out
    EXPECT_EQ(0, lc.getLength());
    EXPECT_EQ(none, printed([&] { EXPECT_EQ(0, lc.clipping(3)); }));
}
