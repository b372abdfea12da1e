#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "draws.h"
#include "lightcurve/Lightcurve.h"
#include "printed.h"

using namespace test_common;

namespace {

// Phase of t with the epoch at 0.5, by floor instead of truncation.
double directPhase(double t, double P, double T)
{
    const double x = (t - T) / P + 0.5;
    return x - std::floor(x);
}

// Distance of two phases on the circle.
double circular(double a, double b)
{
    const double d = std::fabs(a - b);
    return std::min(d, 1 - d);
}

// A light curve whose flux is the point's number, so that every phased entry
// tells which point it came from.
struct Numbered {
    std::vector<double> t, error, nchi;
    Lightcurve lc;
    explicit Numbered(const std::vector<double> &times) : t(times)
    {
        std::vector<double> flux;
        std::vector<std::string> names;
        for (std::size_t i = 0; i < t.size(); ++i) {
            flux.push_back(i + 1.0);
            error.push_back(0.5 + 0.01 * i);
            nchi.push_back(2.0 * (i + 1));
            names.push_back("p" + std::to_string(i + 1));
        }
        lc = Lightcurve(arrayOf(t), arrayOf(flux), arrayOf(error), arrayOf(nchi), arrayOf(names));
    }
};

// Checks that the fold holds every point once, in ascending phase, at its
// phase for period P and epoch T, with its own values.
void expectFold(Numbered &n, double P, double T)
{
    const Lightcurve &lc = n.lc;
    const int len = lc.getLength();
    ASSERT_EQ(len, static_cast<int>(lc.getPhase().length(1)));
    std::vector<bool> seen(len + 1, false);
    for (int k = 1; k <= len; ++k) {
        const int i = static_cast<int>(lc.getPhased_Flux()(k));
        ASSERT_TRUE(i >= 1 && i <= len && !seen[i]);
        seen[i] = true;
        const double p = lc.getPhase()(k);
        EXPECT_TRUE(p >= 0 && p < 1);
        EXPECT_LT(circular(directPhase(n.t[i - 1], P, T), p), 1e-12) << "point " << i;
        if (k > 1) {
            EXPECT_LE(lc.getPhase()(k - 1), p);
        }
        EXPECT_EQ(n.error[i - 1], lc.getPhased_Error()(k));
        EXPECT_EQ(n.nchi[i - 1], lc.getPhased_Nchi()(k));
        EXPECT_EQ("p" + std::to_string(i), lc.getPhased_Filename()(k));
    }
}

void expectValues(const std::vector<double> &want, const orv::MArray<double, 1> &got)
{
    ASSERT_EQ(static_cast<int>(want.size()), got.length(1));
    for (std::size_t k = 0; k < want.size(); ++k)
        EXPECT_NEAR(want[k], got(static_cast<int>(k) + 1), 1e-14);
}

std::vector<double> randomTimes(int n, unsigned seed)
{
    return draws(n, std::uniform_real_distribution<double>(-50, 150), seed);
}

} // namespace

TEST(LightcurveFolding, PhasesMatchADirectComputation)
{
    Numbered n(randomTimes(500, 3));
    n.lc.fold(3.7, 20.25); // many points lie before the epoch
    expectFold(n, 3.7, 20.25);
    EXPECT_TRUE(n.lc.isFolded());
    EXPECT_EQ(3.7, n.lc.getPeriod());
    EXPECT_EQ(20.25, n.lc.getT0());

    n.lc.fold_quick(0.913, -7.5);
    expectFold(n, 0.913, -7.5);
}

TEST(LightcurveFolding, HandCheckedPhases)
{
    // Period 2, epoch 10: the epoch and its repetitions at 0.5, half a period
    // away at 0, a quarter after at 0.75, a quarter before at 0.25.
    const std::vector<double> t = {10, 14, 4, 9, 11, 10.5, 9.5, -5.5};
    const std::vector<double> want = {0.5, 0.5, 0.5, 0, 0, 0.75, 0.25, 0.75};
    Numbered n(t);
    n.lc.fold_quick(2, 10);
    for (int k = 1; k <= n.lc.getLength(); ++k) {
        const int i = static_cast<int>(n.lc.getPhased_Flux()(k));
        EXPECT_EQ(want[i - 1], n.lc.getPhase()(k)) << "t = " << t[i - 1];
    }
}

TEST(LightcurveFolding, EpochZeroPutsTheFirstPointAtPhaseZero)
{
    std::vector<double> t = randomTimes(50, 4);
    t[0] = 2.5; // 2.5 + 0.75 - 2.5 is exact: the first point at phase 0 exactly
    Numbered n(t);
    n.lc.fold(1.5, 0.0);
    EXPECT_EQ(3.25, n.lc.getT0());
    EXPECT_EQ(0.0, n.lc.getPhase()(1));
    EXPECT_EQ(1.0, n.lc.getPhased_Flux()(1));
    const std::vector<double> first = valuesOf(n.lc.getPhase());
    n.lc.fold_quick(); // own period and epoch: the same fold
    EXPECT_EQ(first, valuesOf(n.lc.getPhase()));
    n.lc.fold_quick(1.5, -0.0);
    EXPECT_EQ(first, valuesOf(n.lc.getPhase()));
}

TEST(LightcurveFolding, QuickFoldLeavesNoArrayOfAnEarlierFold)
{
    Numbered n(randomTimes(200, 5));
    n.lc.fold(2.1, 1.0);
    n.lc.fold_quick(5.3, 2.0);
    expectFold(n, 5.3, 2.0);
}

TEST(LightcurveFolding, AnEarlierFoldHeldByTheCallerStaysAsItWas)
{
    Numbered n(randomTimes(100, 6));
    n.lc.fold(2.1, 1.0);
    const orv::MArray<double, 1> phase = n.lc.getPhase();
    const orv::MArray<std::string, 1> names = n.lc.getPhased_Filename();
    const std::vector<double> phases = valuesOf(phase);
    const std::vector<std::string> kept = valuesOf(names);
    n.lc.fold(5.3, 2.0);
    EXPECT_EQ(phases, valuesOf(phase));
    EXPECT_EQ(kept, valuesOf(names));
    expectFold(n, 5.3, 2.0);
}

TEST(LightcurveFolding, EqualPhasesKeepTheirOrder)
{
    Numbered n({1, 3, 2, 5, 0}); // period 1: all at phase 0.5
    n.lc.fold(1, 7);
    EXPECT_EQ((std::vector<double>{1, 2, 3, 4, 5}), valuesOf(n.lc.getPhased_Flux()));
}

TEST(LightcurveFolding, GuardsPrintAndChangeNothing)
{
    Lightcurve empty;
    EXPECT_EQ("lightcurve contains no data points!\n", printed([&] { empty.fold(1, 1); }));
    EXPECT_EQ("lightcurve contains no data points!\n", printed([&] { empty.fold_quick(1); }));
    EXPECT_EQ("lightcurve contains no data points!\n",
              printed([&] { empty.calc_phased_weights(); }));
    EXPECT_FALSE(empty.isFolded());

    Lightcurve lc(doubles({1, 2}), doubles({1, 2}), doubles({1, 1}));
    EXPECT_EQ("lightcurve is not folded!\n", printed([&] { lc.binning_phased(4); }));
    EXPECT_EQ("lightcurve not folded yet!\n", printed([&] { lc.calc_phased_weights(); }));
    EXPECT_EQ(0, lc.getPhase().length(1));
    lc.fold(1, 0);
    EXPECT_EQ("error: number of phase bins must be positive!\n",
              printed([&] { lc.binning_phased(0); }));
    EXPECT_EQ(2, lc.getPhase().length(1));

    // A light curve whose points were all removed has nothing to fold.
    lc.remove_point(1);
    lc.remove_point(1);
    EXPECT_EQ("lightcurve contains no data points!\n", printed([&] { lc.fold(1, 0); }));
}

TEST(LightcurveFolding, APeriodOrEpochWithoutPhasesIsRefusedAndTheEarlierFoldStays)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::string period = "error: period must be positive and finite!\n",
                      epoch = "error: epoch must be finite!\n";
    struct Case {
        double P, T;
        std::string message;
    };
    Numbered n(randomTimes(30, 7));
    n.lc.fold(2.1, 1.0);
    const std::vector<double> phases = valuesOf(n.lc.getPhase());
    const std::vector<double> order = valuesOf(n.lc.getPhased_Flux());
    for (const Case &c : {Case{0, 1, period}, Case{-0.0, 1, period}, Case{-2.1, 1, period},
                          Case{inf, 1, period}, Case{-inf, 1, period}, Case{nan, 1, period},
                          Case{2.1, inf, epoch}, Case{2.1, nan, epoch}}) {
        SCOPED_TRACE(testing::Message() << "P = " << c.P << ", T = " << c.T);
        // Every form that takes the period; those without T only see the
        // period's cases.
        std::vector<std::function<void()>> calls = {[&] { n.lc.fold(c.P, c.T); },
                                                    [&] { n.lc.fold_quick(c.P, c.T); }};
        if (c.T == 1) {
            calls.push_back([&] { n.lc.fold(c.P); });
            calls.push_back([&] { n.lc.fold_quick(c.P); });
        }
        for (const auto &call : calls) {
            EXPECT_EQ(c.message, printed(call));
            EXPECT_EQ(2.1, n.lc.getPeriod());
            EXPECT_EQ(1.0, n.lc.getT0());
            EXPECT_EQ(phases, valuesOf(n.lc.getPhase()));
            EXPECT_EQ(order, valuesOf(n.lc.getPhased_Flux()));
        }
    }
    // The forms without arguments fold at the light curve's own period,
    // which is 0 before any fold.
    Lightcurve fresh(doubles({1, 2, 3}), doubles({1, 2, 3}), doubles({1, 1, 1}));
    EXPECT_EQ(period, printed([&] { fresh.fold(); }));
    EXPECT_EQ(period, printed([&] { fresh.fold_quick(); }));
    EXPECT_FALSE(fresh.isFolded());
    EXPECT_EQ(0, fresh.getPhase().length(1));
}

TEST(LightcurveBinning, WeightedMeansMatchADirectComputation)
{
    // 100 points in 10 bins, with bins 3, 4 and 8 empty; no phase near an
    // edge, so the bin of each point is plain.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> inside(0.05, 0.95), f(0.9, 1.1), e(0.01, 0.05);
    const std::vector<int> used = {0, 1, 4, 5, 6, 8, 9};
    std::vector<double> t, flux, error;
    std::vector<double> ps(10, 0), fs(10, 0), ws(10, 0);
    for (int i = 0; i < 100; ++i) {
        const int b = used[i % used.size()];
        const double phase = (b + inside(rng)) / 10;
        // Period 1, epoch 100.5: time 100 + phase has that phase.
        t.push_back(100 + phase);
        flux.push_back(f(rng));
        error.push_back(e(rng));
        const double w = 1 / (error.back() * error.back());
        ps[b] += w * phase;
        fs[b] += w * flux.back();
        ws[b] += w;
    }
    Lightcurve lc(arrayOf(t), arrayOf(flux), arrayOf(error));
    lc.fold(1, 100.5);
    lc.binning_phased(10);
    ASSERT_EQ(7, lc.getPhase().length(1));
    for (int k = 1; k <= 7; ++k) {
        const int b = used[k - 1];
        EXPECT_NEAR(ps[b] / ws[b], lc.getPhase()(k), 1e-12);
        EXPECT_NEAR(fs[b] / ws[b], lc.getPhased_Flux()(k), 1e-12);
        EXPECT_NEAR(1 / std::sqrt(ws[b]), lc.getPhased_Error()(k), 1e-15);
    }
    EXPECT_TRUE(lc.isFolded());
    // The per-point arrays that binning leaves alone keep their length.
    EXPECT_EQ(100, lc.getPhased_Nchi().length(1));
}

TEST(LightcurveBinning, EqualErrorsGivePlainMeans)
{
    // Period 2, epoch 10; phases 0.25, 0.375 in bin 1 of 2, 0.5 and 0.75 in
    // bin 2 (a phase on an edge belongs to the bin above it).
    Lightcurve lc(doubles({9.5, 9.75, 10, 10.5}), doubles({1, 2, 4, 6}),
                  doubles({0.2, 0.2, 0.2, 0.2}));
    lc.fold(2, 10);
    lc.binning_phased(2);
    expectValues({0.3125, 0.625}, lc.getPhase());
    expectValues({1.5, 5}, lc.getPhased_Flux());
    for (double e : valuesOf(lc.getPhased_Error()))
        EXPECT_NEAR(0.2 / std::sqrt(2.0), e, 1e-15);
}

TEST(LightcurveBinning, APointAtPhaseZeroIsABin)
{
    // Epoch 0: the first point at phase 0, alone in the first bin.
    Lightcurve lc(doubles({0, 0.5, 0.55}), doubles({3, 1, 2}), doubles({1, 1, 1}));
    lc.fold(1, 0);
    lc.binning_phased(4);
    expectValues({0, 0.525}, lc.getPhase());
    expectValues({3, 1.5}, lc.getPhased_Flux());
}

TEST(LightcurveBinning, APhaseAboveTheLastEdgeStaysInTheLastBin)
{
    // 49 * (1/49) rounds below 1; a phase just below 1 lies above it.
    const double t = 0.5 - std::ldexp(1.0, -53);
    Lightcurve lc(doubles({0.25, t}), doubles({1, 2}), doubles({1, 1}));
    lc.fold(1, 1);
    ASSERT_GE(lc.getPhase()(2), 49 * (1.0 / 49));
    lc.binning_phased(49);
    ASSERT_EQ(2, lc.getPhase().length(1));
    EXPECT_EQ(2, lc.getPhased_Flux()(2));
}

TEST(LightcurveBinning, BinningAgainBinsTheBins)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> e(0.5, 2);
    std::vector<double> t, flux, error;
    double weight = 0, weighted = 0;
    for (int i = 0; i < 300; ++i) {
        t.push_back(i * 0.37);
        flux.push_back(std::sin(i * 0.37));
        error.push_back(e(rng));
        weight += 1 / (error.back() * error.back());
        weighted += flux.back() / (error.back() * error.back());
    }
    Lightcurve lc(arrayOf(t), arrayOf(flux), arrayOf(error));
    lc.fold(2.9, 0);
    lc.binning_phased(20);
    lc.binning_phased(20); // the 20 bins again: one bin each
    lc.binning_phased(5);
    ASSERT_EQ(5, lc.getPhase().length(1));
    // Weight and weighted flux are kept through every binning.
    double w = 0, wf = 0;
    for (int k = 1; k <= 5; ++k) {
        const double e2 = lc.getPhased_Error()(k) * lc.getPhased_Error()(k);
        w += 1 / e2;
        wf += lc.getPhased_Flux()(k) / e2;
    }
    EXPECT_NEAR(weight, w, 1e-9 * weight);
    EXPECT_NEAR(weighted / weight, wf / w, 1e-12);
}
