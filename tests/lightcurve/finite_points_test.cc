// A point whose time, flux or error is not finite changes nothing about the
// others: every operation leaves the finite points of a light curve with
// such a point exactly as it leaves the same light curve without it.
#include <gtest/gtest.h>

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

} // namespace

TEST(FinitePoints, ANonFinitePointChangesNoOther)
{
    const Points plain = dipped();
    struct Bad {
        Field field;
        double value;
        const char *name;
    };
    const Bad bads[] = {{Field::time, kNaN, "time NaN"},   {Field::time, -kInf, "time -inf"},
                        {Field::flux, kNaN, "flux NaN"},   {Field::flux, kInf, "flux inf"},
                        {Field::error, kNaN, "error NaN"}, {Field::error, kInf, "error inf"}};
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

TEST(FinitePoints, WithoutAFinitePointNothingIsMeasured)
{
    // Each point lacks one finite value.
    const auto make = [] {
        return Lightcurve(doubles({kNaN, 1, 2}), doubles({1, kNaN, 3}), doubles({0.1, 0.1, kInf}));
    };
    const std::string none = "error: no point with finite time, flux and error!\n";
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
