// A point whose time or flux is not finite, or whose error cannot weigh it,
// changes nothing about the others: every operation leaves the other points
// of a light curve with such a point exactly as it leaves the same light
// curve without it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "common/scratch.h"
#include "lightcurve/Lightcurve.h"
#include "planet.h"
#include "printed.h"

using namespace test_common;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Points {
    std::vector<double> t, flux, error;
    std::vector<std::string> names;

    Lightcurve make() const
    {
        const int n = static_cast<int>(t.size());
        return Lightcurve(arrayOf(t), arrayOf(flux), arrayOf(error),
                          arrayOf(std::vector<double>(n, 0.0)), arrayOf(names));
    }
};

// 300 points at uneven times over 21 days, flux 1 with a dip of 1 % and
// width 0.1 d every 2.3 d, Gaussian noise of 0.2 %, errors that differ
// from point to point; each point named by its place.
Points dipped()
{
    std::mt19937 rng(44);
    std::uniform_real_distribution<double> jitter(0, 0.05), spread(0.8, 1.2);
    std::normal_distribution<double> noise(0, 0.002);
    Points p;
    for (int i = 0; i < 300; ++i) {
        const double t = 0.07 * i + jitter(rng);
        const bool dip = std::fabs(std::remainder(t - 1.1, 2.3)) < 0.05;
        p.t.push_back(t);
        p.flux.push_back((dip ? 0.99 : 1.0) + noise(rng));
        p.error.push_back(0.002 * spread(rng));
        p.names.push_back("p" + std::to_string(i));
    }
    return p;
}

enum class Field { time, flux, error };

// p with a point "bad" put in at place `at` (0-based), between its
// neighbours in time, whose field holds the value.
Points withBad(Points p, int at, Field field, double value)
{
    const double t = at == 0 ? p.t[0] - 0.03 : p.t[at - 1] + 0.01;
    p.t.insert(p.t.begin() + at, field == Field::time ? value : t);
    p.flux.insert(p.flux.begin() + at, field == Field::flux ? value : 1.0);
    p.error.insert(p.error.begin() + at, field == Field::error ? value : 0.002);
    p.names.insert(p.names.begin() + at, "bad");
    return p;
}

// Elements 1..n of a whose name (in names) is not "bad".
std::vector<double> good(const orv::MArray<double, 1> &a, const orv::MArray<std::string, 1> &names,
                         int n)
{
    std::vector<double> v;
    for (int i = 1; i <= n; ++i)
        if (names(i) != "bad")
            v.push_back(a(i));
    return v;
}

// The points other than "bad" are the same in both light curves, and so is
// their fold when there is one: entry by entry, or, binned, bin by bin.
void expectSamePoints(const Lightcurve &with, const Lightcurve &without, bool binned)
{
    const int n = with.getLength(), m = without.getLength();
    const orv::MArray<std::string, 1> names = with.getFilename();
    EXPECT_EQ(firstValues(without.getJD(), m), good(with.getJD(), names, n));
    EXPECT_EQ(firstValues(without.getFlux(), m), good(with.getFlux(), names, n));
    EXPECT_EQ(firstValues(without.getError(), m), good(with.getError(), names, n));
    EXPECT_EQ(without.isFolded(), with.isFolded());
    if (!with.isFolded())
        return;
    EXPECT_EQ(without.getT0(), with.getT0());
    const auto folded = [&](const orv::MArray<double, 1> &a) {
        return binned ? valuesOf(a) : good(a, with.getPhased_Filename(), n);
    };
    EXPECT_EQ(valuesOf(without.getPhase()), folded(with.getPhase()));
    EXPECT_EQ(valuesOf(without.getPhased_Flux()), folded(with.getPhased_Flux()));
    EXPECT_EQ(valuesOf(without.getPhased_Error()), folded(with.getPhased_Error()));
}

// The results of a box search and of the accessors of its first peak.
std::vector<double> searchResults(Lightcurve &lc)
{
    std::vector<double> r = valuesOf(lc.getSDE());
    for (int j = 1; j <= 10; ++j)
        for (double x : {lc.getPeriod_box(j), lc.getT0_box(j), lc.getTau_box(j), lc.getDrop_box(j)})
            r.push_back(x);
    r.push_back(lc.getNumber_box(1, 1));
    r.push_back(lc.getNumber_transit_box(1));
    r.push_back(lc.getNchi_box(1));
    r.push_back(lc.getSNR_box(1));
    return r;
}

// Every element of a table, to full precision.
std::string text(const orv::MArray<double, 2> &a)
{
    std::ostringstream out;
    out.precision(17);
    out << a.length(1) << " x " << a.length(2) << ":";
    for (int j = 1; j <= a.length(2); ++j)
        for (int i = 1; i <= a.length(1); ++i)
            out << " " << a(i, j);
    return out.str();
}

// What the parameter header of a light curve's text file says: its noise,
// the scatter without transits, the transits and their points.
std::string header(Lightcurve &lc)
{
    test_common::ScratchDir scratch;
    const std::string file = scratch.file("lc.txt");
    lc.write(file, false, false, false, true);
    std::istringstream lines(test_common::slurp(file));
    std::string said, line;
    while (std::getline(lines, line) && line.compare(0, 1, "#") == 0)
        said += line + "\n";
    return said;
}

} // namespace

TEST(FinitePoints, APointThatDoesNotCountChangesNoOther)
{
    KeepPrecision keep;
    const Points plain = dipped();
    struct Bad {
        Field field;
        double value;
        const char *name;
    };
    // An error weighs its point when 1/error^2 is a finite number above 0.
    const Bad bads[] = {
        {Field::time, kNaN, "time NaN"},       {Field::time, -kInf, "time -inf"},
        {Field::flux, kNaN, "flux NaN"},       {Field::flux, kInf, "flux inf"},
        {Field::error, kNaN, "error NaN"},     {Field::error, kInf, "error inf"},
        {Field::error, 0, "error 0"},          {Field::error, 1e-200, "error 1e-200"},
        {Field::error, -0.002, "error -0.002"}};
    // What an operation prints; the clippings also remove the bad point.
    struct Operation {
        const char *name;
        std::function<std::string(Lightcurve &, int &)> run;
        int removes;
        bool binned, search;
    };
    const auto quiet = [](std::function<void(Lightcurve &)> f) {
        return [f](Lightcurve &lc, int &) { return printed([&] { f(lc); }); };
    };
    const auto clip = [](int (Lightcurve::*f)(double), double kappa) {
        return [f, kappa](Lightcurve &lc, int &removed) {
            return printed([&] { removed = (lc.*f)(kappa); });
        };
    };
    // What a red-noise analysis prints (from the precision it starts with)
    // and returns.
    const auto table = [](std::function<orv::MArray<double, 2>(Lightcurve &)> f) {
        return [f](Lightcurve &lc, int &) {
            std::cout.precision(6);
            orv::MArray<double, 2> t;
            const std::string said = printed([&] { t.makeReference(f(lc)); });
            return said + text(t);
        };
    };
    const Planet planet{2.3, 1.1};
    const Operation operations[] = {
        {"normalize", quiet([](Lightcurve &lc) { lc.normalize(); }), 0, false, false},
        {"convert2mag", quiet([](Lightcurve &lc) { lc.convert2mag(10); }), 0, false, false},
        {"clipping", clip(&Lightcurve::clipping, 3), 1, false, false},
        {"error_clipping", clip(&Lightcurve::error_clipping, 1), 1, false, false},
        {"fold", quiet([](Lightcurve &lc) { lc.fold(2.3); }), 0, false, false},
        {"binning", quiet([](Lightcurve &lc) {
             lc.calc_weights();
             lc.fold(2.3);
             lc.binning_phased(40);
         }),
         0, true, false},
        {"boxfitting", quiet([](Lightcurve &lc) { lc.boxfitting(300, 1.5, 4, 0.01, 0.1, 0); }), 0,
         false, true},
        {"boxfitting in bins",
         quiet([](Lightcurve &lc) { lc.boxfitting(300, 1.5, 4, 0.01, 0.1, 50); }), 0, true, true},
        {"analyze_rednoise2", table([](Lightcurve &lc) { return lc.analyze_rednoise2(0.2); }), 0,
         false, false},
        {"analyze_rednoise", table([](Lightcurve &lc) { return lc.analyze_rednoise(0.5, 3, 3); }),
         0, false, false},
        {"add_rednoise", quiet([](Lightcurve &lc) {
             long seed = -5;
             lc.add_rednoise(doubles({0.001}), doubles({9}), doubles({0}), seed);
         }),
         0, false, false},
        // The transit, its counts and signal-to-noise ratio, then the red
        // noise of the flux without it (written to "corrspec.tbl").
        {"add_analytical, analyse_rednoise",
         [&planet](Lightcurve &lc, int &) {
             planet.addTo(lc);
             test_common::ScratchDir scratch;
             test_common::InDir here(scratch.path());
             std::cout.precision(6);
             const std::string said = printed([&] { lc.analyse_rednoise(0.3); });
             return header(lc) + said + test_common::slurp("corrspec.tbl");
         },
         0, false, false},
    };
    for (const Operation &op : operations) {
        for (const Bad &bad : bads) {
            for (int at : {0, 150, 300}) {
                SCOPED_TRACE(testing::Message() << op.name << ", " << bad.name << " at " << at);
                Lightcurve with = withBad(plain, at, bad.field, bad.value).make();
                Lightcurve without = plain.make();
                int removedWith = 0, removedWithout = 0;
                const std::string saidWith = op.run(with, removedWith);
                EXPECT_EQ(op.run(without, removedWithout), saidWith);
                EXPECT_EQ(removedWithout + op.removes, removedWith);
                expectSamePoints(with, without, op.binned);
                if (op.search) {
                    EXPECT_GT(with.getSDE(1), 5);
                    EXPECT_NEAR(2.3, with.getPeriod_box(1), 0.01);
                    EXPECT_EQ(searchResults(without), searchResults(with));
                }
            }
        }
    }
}

TEST(FinitePoints, ASimulationCountsOnlyThePointsThatCount)
{
    std::vector<double> t;
    for (int i = 0; i < 300; ++i)
        t.push_back(0.07 * i);
    // One point more, given last (so that the others keep their draws), at a
    // time in transit but out of time order, that does not count.
    const struct {
        double time, level;
        const char *name;
    } extras[] = {{kNaN, 0.002, "time NaN"},
                  {12.6, kNaN, "level NaN"},
                  {12.6, -0.002, "level -0.002"},
                  {12.6, 0, "level 0"},
                  {12.6, 1e-200, "level 1e-200"}};
    const struct {
        const char *name;
        std::function<void(Lightcurve &, const orv::MArray<double, 1> &,
                           const orv::MArray<double, 1> &)>
            run;
    } simulations[] = {
        {"simulate",
         [](Lightcurve &lc, const orv::MArray<double, 1> &times,
            const orv::MArray<double, 1> &levels) {
             long seed = -5;
             lc.simulate(2.3, 1.1, 0.04, 0.01, times, levels, seed);
         }},
        {"simulate_analytical",
         [](Lightcurve &lc, const orv::MArray<double, 1> &times,
            const orv::MArray<double, 1> &levels) {
             long seed = -5;
             lc.simulate_analytical(2.3, 1.1, 88, 1, 1, 1, 0.4, 0.3, times, levels, false, seed);
         }},
        {"simulate_noise",
         [](Lightcurve &lc, const orv::MArray<double, 1> &times,
            const orv::MArray<double, 1> &levels) {
             long seed = -5;
             lc.simulate_noise(times, levels, seed);
         }},
    };
    // With noise, and without (levels of 0, among which one of 0 counts).
    for (double level : {0.002, 0.0}) {
        for (const auto &sim : simulations) {
            for (const auto &extra : extras) {
                if (level == 0 && extra.level == 0)
                    continue;
                SCOPED_TRACE(testing::Message()
                             << sim.name << ", level " << level << ", " << extra.name);
                std::vector<double> times = t, levels(300, level);
                times.push_back(extra.time);
                levels.push_back(extra.level);
                Lightcurve with, without;
                sim.run(with, arrayOf(times), arrayOf(levels));
                sim.run(without, arrayOf(t), arrayOf(std::vector<double>(300, level)));
                EXPECT_EQ(header(without), header(with));
                EXPECT_EQ(valuesOf(without.getFlux()), firstValues(with.getFlux(), 300));
            }
        }
    }
}

TEST(FinitePoints, ALightCurveWithoutNoiseWeighsItsPointsAlike)
{
    // A simulation at noise level 0: errors all 0, a dip of 1 % every 2.3 d.
    std::vector<double> t;
    for (int i = 0; i < 300; ++i)
        t.push_back(0.07 * i);
    long seed = -5;
    Lightcurve lc;
    lc.simulate(2.3, 1.1, 0.04, 0.01, arrayOf(t), arrayOf(std::vector<double>(300, 0.0)), seed);
    // Points that weigh alike: the weighted mean is the plain one.
    lc.calc_weights();
    lc.renorm();
    double sum = 0;
    for (double f : valuesOf(lc.getFlux()))
        sum += f;
    EXPECT_NEAR(0, sum, 1e-10);
    lc.upscale();
    for (int bins : {0, 50}) {
        SCOPED_TRACE(bins);
        EXPECT_EQ("", printed([&] { lc.boxfitting(300, 1.5, 4, 0.01, 0.1, bins); }));
        EXPECT_NEAR(2.3, lc.getPeriod_box(1), 0.01);
        EXPECT_GT(lc.getSDE(1), 5);
        // Bins at the edges of a dip hold some of it.
        EXPECT_NEAR(0.01, lc.getDrop_box(1), 2e-3);
        EXPECT_TRUE(std::isinf(lc.getSNR_box(1)));
    }
    // Bins of values without noise have none.
    lc.fold(2.3);
    lc.binning_phased(20);
    EXPECT_EQ(std::vector<double>(20, 0.0), valuesOf(lc.getPhased_Error()));
    // Every error at the median 0: no scale, and none far from it.
    EXPECT_EQ("0 0\n", printed([&] { EXPECT_EQ(0, lc.error_clipping(3)); }));
    EXPECT_EQ(300, lc.getLength());
}

TEST(FinitePoints, WithoutAFinitePointNothingIsMeasured)
{
    // Each point lacks one finite value.
    const auto make = [] {
        return Lightcurve(doubles({kNaN, 1, 2}), doubles({1, kNaN, 3}), doubles({0.1, 0.1, kInf}));
    };
    const std::string none = "error: no point with finite time and flux and a usable error!\n";
    const struct {
        const char *name;
        std::function<void(Lightcurve &)> call;
    } refused[] = {
        {"normalize", [](Lightcurve &lc) { lc.normalize(); }},
        {"convert2mag", [](Lightcurve &lc) { lc.convert2mag(0); }},
        {"fold", [](Lightcurve &lc) { lc.fold(2.3); }},
        {"boxfitting", [](Lightcurve &lc) { lc.boxfitting(10, 1, 3, 0.01, 0.1, 0); }},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.name);
        Lightcurve lc = make();
        EXPECT_EQ(none, printed([&] { r.call(lc); }));
        EXPECT_EQ(1, lc.getFlux()(1));
        EXPECT_EQ(3, lc.getFlux()(3));
        EXPECT_EQ(0.1, lc.getError()(1));
        EXPECT_FALSE(lc.isFolded());
        EXPECT_FALSE(lc.isBoxfitted());
    }
    // A fold at a given epoch needs no such point; the point without a time
    // has no phase and comes last.
    Lightcurve lc = make();
    EXPECT_EQ("", printed([&] { lc.fold(2, 1); }));
    EXPECT_EQ((std::vector<double>{0, 0.5}), firstValues(lc.getPhase(), 2));
    EXPECT_TRUE(std::isnan(lc.getPhase()(3)));
    // The clippings remove every point, whose median and scale are none.
    EXPECT_EQ("nan 0\n", printed([&] { EXPECT_EQ(3, lc.clipping(3)); }));
    EXPECT_EQ(0, lc.getLength());
}
