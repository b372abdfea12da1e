#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "common/arrays.h"
#include "common/scratch.h"
#include "draws.h"
#include "lightcurve/Lightcurve.h"
#include "printed.h"
#include "written.h"

using namespace test_common;

namespace {

// 400 points one time unit apart: white noise of 1% around 1, with a
// sinusoid of the given amplitude and a period of 80 added.
Lightcurve noise(double amplitude, unsigned seed)
{
    const std::vector<double> t = counting(400);
    std::vector<double> flux = draws(400, std::normal_distribution<double>(0, 0.01), seed);
    for (int i = 0; i < 400; ++i)
        flux[i] += 1 + amplitude * std::sin(2 * M_PI * i / 80);
    return Lightcurve(arrayOf(t), arrayOf(flux), arrayOf(std::vector<double>(400, 0.01)));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The lines of "corrspec.tbl": twice the window size and the red-noise
// amplitude.
std::vector<std::pair<std::string, double>> corrspec()
{
    std::vector<std::pair<std::string, double>> lines;
    std::ifstream in("corrspec.tbl");
    std::string line;
    while (std::getline(in, line))
        lines.emplace_back(line.substr(0, 4), std::stod(line.substr(5)));
    return lines;
}

// A light curve whose flux without transits is white noise of the level at
// times 0, 1, ..., n - 1 (a simulation without transits keeps the flux there
// too).
Lightcurve simulatedNoise(int n, double level)
{
    long seed = -5;
    Lightcurve lc;
    lc.simulate(1000, -500, 0.01, 0, arrayOf(counting(n)), arrayOf(std::vector<double>(n, level)),
                seed);
    return lc;
}

// Adds a sinusoid of the amplitude and period (in points) to the flux with
// and without transits.
void addSinusoid(Lightcurve &lc, double amplitude, double period)
{
    long seed = -5;
    lc.add_rednoise(doubles({amplitude}), doubles({2 * M_PI / period}), doubles({0.3}), seed);
}

// A test of "corrspec.tbl", in a folder of its own, that leaves the
// precision of standard output as it found it.
class Corrspec : public testing::Test {
    KeepPrecision keep;
    // The analysis writes "corrspec.tbl" into the current folder.
    ScratchDir scratch;
    InDir here{scratch.path()};
};

} // namespace

TEST(LightcurveRedNoise, SlidingWindowsOfNeighbours)
{
    // Points 1 apart, windows 2.5 wide: the first point alone once, then
    // points i, i+1 and i, i+1, i+2 for i = 1..18. Size 1 has too few windows,
    // so its row is 0; the rows of sizes 2 and 3 follow.
    const std::vector<double> t = counting(20);
    const std::vector<double> flux = draws(20, std::uniform_real_distribution<double>(5, 6), 3);
    const double med = median(flux);
    double rms = 0;
    for (double f : flux)
        rms += (f - med) * (f - med);
    rms = std::sqrt(rms / 19);
    Lightcurve lc(arrayOf(t), arrayOf(flux), arrayOf(std::vector<double>(20, 0.1)));
    orv::MArray<double, 2> table;
    std::ostringstream head;
    head << "average=" << med << ", normalized rms=" << rms / med << "\n";
    EXPECT_EQ(head.str(), printed([&] { table.makeReference(lc.analyze_rednoise2(2.5)); }));
    ASSERT_EQ(3, table.length(1));
    ASSERT_EQ(4, table.length(2));
    for (int c = 1; c <= 4; ++c)
        EXPECT_EQ(0, table(1, c));
    for (int k = 2; k <= 3; ++k) {
        double squares = 0;
        for (int i = 0; i < 18; ++i) {
            double sum = 0;
            for (int j = i; j < i + k; ++j)
                sum += flux[j];
            squares += (med - sum / k) * (med - sum / k);
        }
        EXPECT_EQ(k, table(k, 1));
        EXPECT_NEAR(std::sqrt(squares / 17) / med, table(k, 2), 1e-12);
        EXPECT_NEAR(rms / std::sqrt(k) / med, table(k, 3), 1e-12);
        EXPECT_EQ(18, table(k, 4));
    }
}

TEST(LightcurveRedNoise, SlidingWindowsAtIrregularTimes)
{
    // The window moved step by step, a fifth of the smallest time step at a
    // time, computed the direct way.
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> gap(0.1, 1), u(0.9, 1.1);
    std::vector<double> t = {0}, flux = {u(rng)};
    for (int i = 1; i < 60; ++i) {
        t.push_back(t.back() + gap(rng));
        flux.push_back(u(rng));
    }
    const int n = 60;
    const double W = 2.3, med = median(flux);
    double h = t[n - 1] - t[0];
    for (int i = 0; i + 1 < n; ++i)
        h = std::min(h, t[i + 1] - t[i]);
    std::vector<int> count(n + 1, 0);
    std::vector<double> squares(n + 1, 0.0);
    double lo = t[0] - 2 * W, hi = lo + W;
    for (int E = 0, F = 0;;) {
        lo += h / 5;
        hi += h / 5;
        int I = n, J = 1;
        for (int i = 1; i <= n - 1 && I == n; ++i)
            if (t[i - 1] >= lo)
                I = i;
        for (int i = 2; i <= n; ++i)
            if (t[i - 1] <= hi)
                J = i;
        if ((I != E && I <= J) || J != F) {
            ASSERT_LE(I, J); // the window is wider than a step
            double sum = 0;
            for (int i = I; i <= J; ++i)
                sum += flux[i - 1];
            ++count[J - I + 1];
            squares[J - I + 1] += (med - sum / (J - I + 1)) * (med - sum / (J - I + 1));
            if (I == n || J == n)
                break;
            E = I;
            F = J;
        }
    }
    Lightcurve lc(arrayOf(t), arrayOf(flux), arrayOf(std::vector<double>(n, 0.1)));
    orv::MArray<double, 2> table;
    printed([&] { table.makeReference(lc.analyze_rednoise2(W)); });
    int rows = 0;
    for (int k = 1; k <= n; ++k)
        if (count[k] > 1)
            rows = k;
    ASSERT_EQ(rows, table.length(1));
    for (int k = 1; k <= rows; ++k) {
        EXPECT_EQ(count[k] > 1 ? count[k] : 0, table(k, 4)) << k;
        if (count[k] > 1) {
            EXPECT_NEAR(std::sqrt(squares[k] / (count[k] - 1)) / med, table(k, 2), 1e-12);
        }
    }
}

TEST(LightcurveRedNoise, WhiteNoiseHasNoExcessASinusoidHas)
{
    KeepPrecision keep;
    for (double amplitude : {0.0, 0.02}) {
        SCOPED_TRACE(amplitude);
        Lightcurve lc = noise(amplitude, 8);
        orv::MArray<double, 2> windows, lags;
        printed([&] {
            windows.makeReference(lc.analyze_rednoise2(10.5));
            lags.makeReference(lc.analyze_rednoise(10, 1, 50));
        });
        // Windows 10.5 wide hold 10 or 11 points; 390 windows of each.
        ASSERT_EQ(11, windows.length(1));
        for (int k = 10; k <= 11; ++k) {
            EXPECT_EQ(k, windows(k, 1));
            EXPECT_EQ(390, windows(k, 4));
        }
        // The scatter of the window means against the white-noise law: equal
        // for white noise; the sinusoid keeps it high.
        const double ratio = windows(10, 2) / windows(10, 3);
        const double excess = lags(1, 1); // mean red-noise amplitude / median
        if (amplitude == 0) {
            EXPECT_NEAR(1, ratio, 0.15);
            EXPECT_LT(excess, 0.002);
        } else {
            EXPECT_GT(ratio, 2);
            EXPECT_GT(excess, 0.01);
        }
    }
}

TEST(LightcurveRedNoise, LagIntervals)
{
    KeepPrecision keep;
    // Times 0, 1, 2, 3: lag 1 joins neighbours (3 windows of 2 points), lag
    // 2 the points two apart (2 windows of 3 points); nothing lies in (2, 3].
    const std::vector<double> flux = {1, 3, 2, 6};
    Lightcurve lc(doubles({0, 1, 2, 3}), arrayOf(flux), doubles({1, 1, 1, 1}));
    const double med = 2.5, rms = std::sqrt((2.25 + 0.25 + 0.25 + 12.25) / 3);
    orv::MArray<double, 2> table;
    const std::string out = printed([&] { table.makeReference(lc.analyze_rednoise(3, 3, 2)); });
    ASSERT_EQ(3, table.length(1));
    // Size 2: means 2, 2.5, 4; size 3: means 2, 11/3.
    const double var2 = ((2 - med) * (2 - med) + 0 + (4 - med) * (4 - med)) / 2;
    const double var3 = ((2 - med) * (2 - med) + (11.0 / 3 - med) * (11.0 / 3 - med)) / 1;
    const double red2 = std::sqrt(std::max(0.0, var2 - rms * rms / 2));
    const double red3 = std::sqrt(std::max(0.0, var3 - rms * rms / 3));
    EXPECT_NEAR(red2 > 0 ? red2 / med : 0, table(1, 1), 1e-12);
    EXPECT_EQ(red2 > 0 ? 1 : 0, table(1, 2));
    EXPECT_NEAR(red3 > 0 ? red3 / med : 0, table(2, 1), 1e-12);
    EXPECT_EQ(0, table(3, 1));
    EXPECT_EQ(0, table(3, 2));
    EXPECT_NE(std::string::npos, out.find("\nhallo 2 3 "));
    EXPECT_NE(std::string::npos, out.find("\nhallo 3 2 "));
    EXPECT_EQ(10, std::cout.precision());
}

TEST_F(Corrspec, WindowsOfAMaximumSpan)
{
    // Points 1 apart, spans up to 2.5: windows of 1, 2, 3, 3, ..., 3, 2 and 1
    // points; sizes 1 and 2 have two windows each (the ends), size 3 has
    // eight. A sinusoid over white noise of 0.001 makes every amplitude
    // positive.
    Lightcurve lc = simulatedNoise(10, 0.001);
    addSinusoid(lc, 0.02, 7);
    const std::vector<double> v = valuesOf(lc.getFlux());
    const std::string out = printed([&] { lc.analyse_rednoise(2.5); });
    const auto lines = corrspec();
    ASSERT_EQ(3u, lines.size());
    const std::vector<std::vector<std::vector<int>>> windows = {
        {{0}, {9}},
        {{0, 1}, {8, 9}},
        {{0, 1, 2}, {1, 2, 3}, {2, 3, 4}, {3, 4, 5}, {4, 5, 6}, {5, 6, 7}, {6, 7, 8}, {7, 8, 9}}};
    for (int k = 1; k <= 3; ++k) {
        std::vector<double> means;
        for (const auto &w : windows[k - 1]) {
            double sum = 0;
            for (int i : w)
                sum += v[i];
            means.push_back(sum / k);
        }
        double mean = 0, squares = 0;
        for (double m : means)
            mean += m / means.size();
        for (double m : means)
            squares += (m - mean) * (m - mean);
        const double red = std::sqrt(squares / (means.size() - 1) - 0.001 * 0.001 / k);
        EXPECT_EQ(std::string("   ") + std::to_string(2 * k), lines[k - 1].first);
        EXPECT_NEAR(red, lines[k - 1].second, 0.005 * red);
    }
    EXPECT_EQ(0, out.find(" 1    2 "));
    EXPECT_NE(std::string::npos, out.find("\n 3    8 "));
    EXPECT_EQ(3, std::cout.precision());
}

TEST_F(Corrspec, ShowsTheExcessOfASinusoid)
{
    // Windows of 11 points: the red-noise amplitude of their means against
    // 0.01/sqrt(11), first of white noise, then with a sinusoid of 0.02.
    Lightcurve lc = simulatedNoise(400, 0.01);
    printed([&] { lc.analyse_rednoise(10.5); });
    const double white = corrspec().at(10).second;
    addSinusoid(lc, 0.02, 80);
    printed([&] { lc.analyse_rednoise(10.5); });
    const auto lines = corrspec();
    ASSERT_EQ("  22", lines.at(10).first);
    EXPECT_LT(white, 0.002);
    EXPECT_GT(lines.at(10).second, 0.01);
}

TEST(LightcurveRedNoiseDeathTest, WindowsOfMoreStepsThanADoubleCounts)
{
    // One wrong time far from the rest, or a window far wider than the time
    // step, asks for more than 2^53 steps of a fifth of the smallest time
    // step: past 2^53 a step count held in a double stops counting.
    const struct {
        std::vector<double> t;
        double W;
        int rows; // of the table returned
    } cases[] = {
        {{0, 1, 1e16}, 2, 1},
        {{2450000.5, 2450000.51, 1e14}, 0.1, 1},
        {{0, 1, 2}, 1e15, 0},
        // More steps than a 64-bit count holds: refused.
        {{0, 1e-10, 1e10}, 2, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.t.back()) + " " + std::to_string(c.W));
        Lightcurve lc(arrayOf(c.t), doubles({1, 2, 4}), doubles({1, 1, 1}));
        // A watchdog ends a call that does not return.
        ASSERT_EXIT(
            {
                alarm(20);
                printed([&] { lc.analyze_rednoise2(c.W); });
                std::exit(0);
            },
            testing::ExitedWithCode(0), "");
        orv::MArray<double, 2> table;
        const std::string out = printed([&] { table.makeReference(lc.analyze_rednoise2(c.W)); });
        EXPECT_EQ(c.rows, table.length(1));
        if (c.t[1] == 1e-10) {
            EXPECT_EQ("error: too many window steps!\n", out);
        }
    }
    // Times 0, 1 and 1e16 in windows 2 wide: the points one by one (three
    // windows of one point) and points 1 and 2 together. Fluxes 1, 2 and 4
    // have the median 2 and rms sqrt(5/2).
    Lightcurve lc(doubles({0, 1, 1e16}), doubles({1, 2, 4}), doubles({1, 1, 1}));
    orv::MArray<double, 2> table;
    printed([&] { table.makeReference(lc.analyze_rednoise2(2)); });
    ASSERT_EQ(1, table.length(1));
    EXPECT_EQ(1, table(1, 1));
    EXPECT_DOUBLE_EQ(std::sqrt(5.0 / 2) / 2, table(1, 2));
    EXPECT_DOUBLE_EQ(std::sqrt(5.0 / 2) / 2, table(1, 3));
    EXPECT_EQ(3, table(1, 4));
}

TEST_F(Corrspec, AFileThatCannotBeWrittenIsReported)
{
    Lightcurve lc = simulatedNoise(10, 0.001);
    const std::string table = printed([&] { lc.analyse_rednoise(2.5); });
    std::remove("corrspec.tbl");
    const struct {
        std::function<bool()> make;
        std::string report;
    } cases[] = {
        {[] { return mkdir("corrspec.tbl", 0700) == 0; },
         "error: cannot open file corrspec.tbl for writing\n"},
        // A device that takes no data.
        {[] { return symlink("/dev/full", "corrspec.tbl") == 0; },
         "error: cannot write file corrspec.tbl\n"},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(c.make());
        std::string out;
        EXPECT_EQ(c.report,
                  printedOnError([&] { out = printed([&] { lc.analyse_rednoise(2.5); }); }));
        // The table is printed all the same.
        EXPECT_EQ(table, out);
        ASSERT_EQ(0, std::system("rm -r corrspec.tbl"));
    }
}

TEST(LightcurveRedNoise, RefusedInputs)
{
    Lightcurve back(doubles({0, 2, 1}), doubles({1, 2, 3}), doubles({1, 1, 1}));
    orv::MArray<double, 2> table;
    EXPECT_EQ("error: times do not increase!\n",
              printed([&] { table.makeReference(back.analyze_rednoise2(1)); }));
    EXPECT_EQ(0, table.length(1));
    Lightcurve same(doubles({0, 1, 1}), doubles({1, 2, 3}), doubles({1, 1, 1}));
    EXPECT_EQ("error: times do not increase!\n", printed([&] { same.analyze_rednoise2(1); }));
    Lightcurve one(doubles({0}), doubles({1}), doubles({1}));
    EXPECT_EQ("error: at least two points needed!\n", printed([&] { one.analyze_rednoise2(1); }));
    EXPECT_EQ("error: at least two points needed!\n",
              printed([&] { one.analyze_rednoise(1, 2, 1); }));
    // Without the flux without transits there is nothing to analyse.
    EXPECT_EQ("error: transit is not removed!\n", printed([&] { same.analyse_rednoise(2); }));
}
