#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "lightcurve/Lightcurve.h"
#include "phases.h"
#include "printed.h"

using namespace test_common;

namespace {

struct Series {
    std::vector<double> t, flux, error;
    Lightcurve make() const { return Lightcurve(arrayOf(t), arrayOf(flux), arrayOf(error)); }
};

// Flux 1 with error 0.01 every 0.25 from time 0 for three periods of 4, and
// 0.99 at the times whose remainder modulo 4 is listed.
Series boxes(const std::vector<double> &dips)
{
    Series s;
    for (int i = 0; i < 48; ++i) {
        const double t = 0.25 * i;
        bool dip = false;
        for (double d : dips)
            dip = dip || std::fmod(t, 4) == d;
        s.t.push_back(t);
        s.flux.push_back(dip ? 0.99 : 1);
        s.error.push_back(0.01);
    }
    return s;
}

// A periodic box-shaped dip with Gaussian noise at random times.
struct Injected {
    double period, duration, depth, epoch;
};

Series injected(const Injected &in, int n, double span, double noise, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, span);
    std::normal_distribution<double> g(0, noise);
    std::vector<double> times(n);
    for (double &t : times)
        t = u(rng);
    std::sort(times.begin(), times.end());
    Series s;
    for (double t : times) {
        const double x =
            std::remainder(t - in.epoch, in.period); // time from the nearest mid-transit
        s.t.push_back(t);
        s.flux.push_back(1000 * (1 - (std::fabs(x) < in.duration / 2 ? in.depth : 0)) + g(rng));
        s.error.push_back(noise);
    }
    return s;
}

// Distance in phase of two epochs of one period.
double epochOffset(double a, double b, double period)
{
    const double x = (a - b) / period;
    return std::fabs(x - std::round(x));
}

// The peaks of a search, computed step by step the direct way: a fold (and
// binning) per frequency and every run of entries summed afresh.
struct Peaks {
    std::vector<double> period, tau, t0, out, in, sde;
};

Peaks directSearch(const Series &s, int nf, double pshort, double plong, double qmin, double qmax,
                   int nb)
{
    const int n = static_cast<int>(s.t.size());
    double wsum = 0, mean = 0;
    for (double e : s.error)
        wsum += 1 / (e * e);
    for (int i = 0; i < n; ++i)
        mean += s.flux[i] / (s.error[i] * s.error[i]) / wsum;
    std::vector<double> y(n);
    for (int i = 0; i < n; ++i)
        y[i] = s.flux[i] - mean;
    Lightcurve lc(arrayOf(s.t), arrayOf(y), arrayOf(s.error));

    struct Best {
        double sr = 0, out = 0, in = 0, width = 0, centre = 0;
    };
    std::vector<Best> best(nf + 1);
    std::vector<double> freq(nf + 1);
    const double df = (1 / pshort - 1 / plong) / (nf - 1);
    double f = 1 / plong;
    for (int i = 1; i <= nf; ++i, f += df) {
        freq[i] = f;
        lc.fold(1 / f);
        if (nb)
            lc.binning_phased(nb);
        const std::vector<double> ph = valuesOf(lc.getPhase()), fl = valuesOf(lc.getPhased_Flux()),
                                  er = valuesOf(lc.getPhased_Error());
        const int m = static_cast<int>(ph.size());
        std::vector<double> w(m);
        double total = 0;
        for (int k = 0; k < m; ++k)
            total += w[k] = 1 / (er[k] * er[k]);
        for (double &x : w)
            x /= total;
        for (int j = 0; j < m; ++j)
            for (int k = j; k < m; ++k) {
                double r = 0, sum = 0;
                for (int l = j; l <= k; ++l)
                    r += w[l], sum += w[l] * fl[l];
                if (std::fabs(r - 1) <= 1e-9)
                    continue;
                const double sr = std::sqrt(sum * sum / (r * (1 - r)));
                const double low = -sum / (1 - r), high = sum / r, d = ph[k] - ph[j];
                if (qmin <= d && d <= qmax) {
                    if (sr > best[i].sr && low > high)
                        best[i] = {sr, low, high, d, (ph[j] + ph[k]) / 2};
                } else if (qmin <= 1 - d && 1 - d <= qmax) {
                    if (sr > best[i].sr && high > low)
                        best[i] = {sr, high, low, 1 - d, (ph[j] + ph[k]) / 2 - 0.5};
                }
            }
    }
    std::vector<int> slot;
    for (int j = 0; j < 10; ++j) {
        int pick = 0;
        for (int k = 1; k <= nf; ++k) {
            bool excluded = false;
            for (int p : slot)
                excluded = excluded || std::fabs(freq[k] - freq[p]) <= 5 * df;
            if (!excluded && best[k].sr > 0 && (pick == 0 || best[k].sr >= best[pick].sr))
                pick = k;
        }
        slot.push_back(pick);
    }
    const double top = best[slot[0]].sr;
    double a = 0, d = 0;
    for (int k = 1; k <= nf; ++k)
        a += best[k].sr / top / nf;
    for (int k = 1; k <= nf; ++k)
        d += std::fabs(best[k].sr / top - a) / (nf - 1);
    Peaks peaks;
    for (int p : slot) {
        peaks.period.push_back(1 / freq[p]);
        peaks.tau.push_back(best[p].width);
        peaks.t0.push_back(best[p].centre / freq[p] + s.t[0]);
        peaks.out.push_back(best[p].out + mean);
        peaks.in.push_back(best[p].in + mean);
        peaks.sde.push_back(std::max(0.0, (best[p].sr / top - a) / d));
    }
    return peaks;
}

} // namespace

TEST(LightcurveBoxSearch, FindsAnInjectedTransit)
{
    const Injected in{2.73, 0.11, 0.01, 3.1};
    const double pshort = 1.5, plong = 5;
    // Binned, and (fewer points, as every run of points is tried) unbinned.
    struct Case {
        int nb, points;
        double span;
        int nf;
    };
    for (const Case &c : {Case{200, 3000, 60, 2000}, Case{0, 800, 40, 800}}) {
        SCOPED_TRACE(c.nb);
        const Series s = injected(in, c.points, c.span, 2, 11);
        const int nf = c.nf, nb = c.nb;
        const double df = (1 / pshort - 1 / plong) / (nf - 1);
        Lightcurve lc = s.make();
        lc.boxfitting(nf, pshort, plong, 0.01, 0.1, nb);
        EXPECT_TRUE(lc.isBoxfitted());
        EXPECT_LE(std::fabs(1 / lc.getPeriod_box(1) - 1 / in.period), df);
        EXPECT_NEAR(in.duration / in.period, lc.getTau_box(1), 0.01);
        EXPECT_NEAR(in.depth, lc.getDrop_box(1), 0.0015);
        EXPECT_LT(epochOffset(lc.getT0_box(1), in.epoch, in.period), 0.01);
        EXPECT_GT(lc.getSDE(1), 10);
        // The fluxes are back as they were; the light curve stays weighted and
        // folded at the last (shortest) trial period.
        EXPECT_EQ(s.flux, valuesOf(lc.getFlux()));
        EXPECT_TRUE(lc.isWeighted());
        EXPECT_NEAR(pshort, lc.getPeriod(), 1e-12);
        for (int j = 1; j <= 10; ++j) {
            EXPECT_GE(lc.getSDE(j), 0);
            for (int k = 1; k < j; ++k)
                EXPECT_GT(std::fabs(1 / lc.getPeriod_box(j) - 1 / lc.getPeriod_box(k)),
                          5 * df * (1 - 1e-9));
        }
    }
}

TEST(LightcurveBoxSearch, PeaksMatchADirectSearch)
{
    const Series s = injected({1.9, 0.15, 0.003, 0.4}, 150, 20, 2, 5);
    for (int nb : {0, 40}) {
        SCOPED_TRACE(nb);
        Lightcurve lc = s.make();
        lc.boxfitting(120, 1.2, 4, 0.02, 0.15, nb);
        const Peaks want = directSearch(s, 120, 1.2, 4, 0.02, 0.15, nb);
        for (int j = 1; j <= 10; ++j) {
            SCOPED_TRACE(j);
            EXPECT_NEAR(want.period[j - 1], lc.getPeriod_box(j), 1e-9);
            EXPECT_NEAR(want.tau[j - 1], lc.getTau_box(j), 1e-9);
            EXPECT_NEAR(want.t0[j - 1], lc.getT0_box(j), 1e-9);
            EXPECT_NEAR((want.out[j - 1] - want.in[j - 1]) / want.out[j - 1], lc.getDrop_box(j),
                        1e-9);
            EXPECT_NEAR(want.sde[j - 1], lc.getSDE(j), 1e-9);
        }
    }
}

TEST(LightcurveBoxSearch, FoldsOfMoreThan2To31CyclesMatchADirectSearch)
{
    // Trial periods so short that a fold counts more than 2^31 cycles.
    const Series s = injected({2.5e-9, 0.3e-9, 0.003, 0.4}, 60, 20, 2, 7);
    Lightcurve lc = s.make();
    lc.boxfitting(120, 2e-9, 3e-9, 0.02, 0.15, 0);
    const Peaks want = directSearch(s, 120, 2e-9, 3e-9, 0.02, 0.15, 0);
    for (int j = 1; j <= 10; ++j) {
        SCOPED_TRACE(j);
        EXPECT_NEAR(want.period[j - 1], lc.getPeriod_box(j), 1e-9 * want.period[j - 1]);
        EXPECT_NEAR(want.tau[j - 1], lc.getTau_box(j), 1e-9);
        EXPECT_NEAR((want.out[j - 1] - want.in[j - 1]) / want.out[j - 1], lc.getDrop_box(j), 1e-9);
        EXPECT_NEAR(want.sde[j - 1], lc.getSDE(j), 1e-9);
    }
}

TEST(LightcurveBoxSearch, BoxOfARunOfPoints)
{
    // Dips at phases 0.5, 0.5625 and 0.625 of the default fold: the box runs
    // from the first to the last of them.
    Lightcurve lc = boxes({2, 2.25, 2.5}).make();
    lc.boxfitting(1, 4, 4, 0.1, 0.15, 0);
    EXPECT_EQ(4, lc.getPeriod_box(1));
    EXPECT_EQ(0.125, lc.getTau_box(1));
    EXPECT_EQ(2.25, lc.getT0_box(1));
    EXPECT_NEAR(0.01, lc.getDrop_box(1), 1e-12);
    // A single frequency singles out nothing; the other slots are empty.
    EXPECT_EQ(0, lc.getSDE(1));
    for (int j = 2; j <= 10; ++j) {
        EXPECT_EQ(0, lc.getPeriod_box(j));
        EXPECT_EQ(0, lc.getT0_box(j));
        EXPECT_EQ(0, lc.getTau_box(j));
        EXPECT_EQ(0, lc.getDrop_box(j));
        EXPECT_EQ(0, lc.getNumber_box(j, 0));
        EXPECT_EQ(0, lc.getNumber_transit_box(j));
        EXPECT_EQ(0, lc.getNchi_box(j));
        EXPECT_EQ(0, lc.getSNR_box(j));
    }
}

TEST(LightcurveBoxSearch, BoxThroughPhaseZero)
{
    // Dips around the first point (default phases 0.9375, 0 and 0.0625): the
    // box is the complement of the run from phase 0.125 to 0.875.
    Lightcurve lc = boxes({3.75, 0, 0.25}).make();
    lc.boxfitting(1, 4, 4, 0.2, 0.3, 0);
    EXPECT_EQ(0.25, lc.getTau_box(1));
    EXPECT_EQ(0, lc.getT0_box(1));
    EXPECT_NEAR(0.01, lc.getDrop_box(1), 1e-12);
}

TEST(LightcurveBoxSearch, TheThreeTransitWindowsOfAPeak)
{
    // The box of BoxOfARunOfPoints: period 4, mid-transit 2.25, width 0.125.
    // Three probes of flux 1, all outside the box of the search: one just
    // beyond the box edge (within the 0.0001 margin of the windows) and one
    // exactly at each end of the margined window.
    Series s = boxes({2, 2.25, 2.5});
    const double q = 0.125, lower = 0.4999 - q / 2, upper = q / 2 + 0.5001;
    const double nearProbe = 6.25 + (q / 2 + 0.00005) * 4;          // cycle of the second transit
    const double upperProbe = timeAtPhase(upper, -5.4996, 4, 2.25); // a cycle of its own
    const double lowerProbe = timeAtPhase(lower, 5.9996, 4, 2.25);  // cycle of the second transit
    for (double t : {nearProbe, upperProbe, lowerProbe}) {
        s.t.push_back(t);
        s.flux.push_back(1);
        s.error.push_back(0.01);
    }
    Lightcurve lc = s.make();
    lc.boxfitting(1, 4, 4, 0.1, 0.15, 0);
    ASSERT_EQ(2.25, lc.getT0_box(1));
    ASSERT_EQ(q, lc.getTau_box(1));

    // lower <= phase < upper: the nine dips, the near probe and the lower one.
    EXPECT_EQ(11, lc.getNumber_transit_box(1));
    EXPECT_EQ(4, lc.getPeriod()); // folded at the peak
    // Residuals against the level inside for those eleven, outside for the
    // rest: 1 for each of the two probes, 0 elsewhere.
    EXPECT_NEAR(2.0 / 51, lc.getNchi_box(1), 1e-9);
    // lower <= phase <= upper opens a transit, which counts with at least K
    // points within half a box width of its middle: the upper probe opens
    // one of its own, without points; each transit of the dips has three.
    EXPECT_EQ(4, lc.getNumber_box(1, 0));
    EXPECT_EQ(3, lc.getNumber_box(1, 3));
    EXPECT_EQ(0, lc.getNumber_box(1, 4));
    // |phase - 0.5| < q/2: only the middle dip of each transit (the outer ones
    // lie on the box edges); the error of their mean is 0.01/sqrt(3).
    EXPECT_NEAR(std::sqrt(3.0), lc.getSNR_box(1), 1e-9);
}

TEST(LightcurveBoxSearch, NoQualifyingBoxGivesZerosAndSaysSo)
{
    // Without a dip no box qualifies: the weights (1/8 each) and the mean
    // are exact, so every flux is exactly 0 during the search.
    const Series flat{{0, 1.1, 2.3, 3.2, 4.7, 5.1, 6.6, 7.4},
                      std::vector<double>(8, 3),
                      std::vector<double>(8, 1)};
    // A dip of 1 % and 0.04 of the period, searched with widths that no run
    // of 50 bins spans.
    const Series dip = injected({2.3, 0.04 * 2.3, 0.01, 1.2}, 1000, 60, 2, 3);
    const struct {
        const Series &series;
        double qmin, qmax;
        int nbins;
    } cases[] = {{flat, 0.1, 0.2, 0}, {flat, 0.1, 0.2, 4}, {dip, 0.05 * 0.999, 0.05 * 1.001, 50}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.qmin << " " << c.nbins);
        Lightcurve lc = c.series.make();
        EXPECT_EQ("warning: no box qualified at any trial frequency!\n",
                  printed([&] { lc.boxfitting(200, 2, 3, c.qmin, c.qmax, c.nbins); }));
        EXPECT_TRUE(lc.isBoxfitted());
        for (int j = 1; j <= 10; ++j) {
            EXPECT_EQ(0, lc.getSDE(j));
            EXPECT_EQ(0, lc.getPeriod_box(j));
            EXPECT_EQ(0, lc.getDrop_box(j));
        }
    }
    // The same dip with widths a run of bins spans is found, without a word.
    Lightcurve lc = dip.make();
    EXPECT_EQ("", printed([&] { lc.boxfitting(200, 2, 3, 0.03, 0.05, 50); }));
    EXPECT_NEAR(2.3, lc.getPeriod_box(1), 0.01);
}

TEST(LightcurveBoxSearch, AFlatSpectrumSinglesOutNoPeak)
{
    // One low point and a box that may hold one point: the best box of every
    // frequency is that point alone, so every SR is the same but for the last
    // bits, and no peak stands out.
    for (double step : {1.0, 0.37}) {
        for (int low : {0, 25}) {
            SCOPED_TRACE(std::to_string(step) + " " + std::to_string(low));
            Series s;
            for (int i = 0; i < 50; ++i) {
                s.t.push_back(2450000 + step * i);
                s.flux.push_back(i == low ? 0.9 : 1);
                s.error.push_back(0.001);
            }
            Lightcurve lc = s.make();
            lc.boxfitting(200, 1, 10, 0.0, 0.05, 0);
            for (int j = 1; j <= 10; ++j) {
                EXPECT_GT(lc.getPeriod_box(j), 0) << j;
                EXPECT_EQ(0, lc.getSDE(j)) << j;
            }
        }
    }
}

TEST(LightcurveBoxSearch, UnusableRangesAreRefusedAndEarlierResultsStay)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::string
        periods = "error: trial periods must be positive and finite!\n",
        widths = "error: box widths must satisfy 0 <= qmin <= qmax < 1!\n",
        oneWidth = "error: box widths qmin = qmax > 0 are met by no box; give qmin < qmax!\n",
        bins = "error: at least two phase bins needed!\n";
    struct Case {
        double pshort, plong, qmin, qmax;
        int nbins;
        std::string message;
    };
    Lightcurve lc = boxes({2}).make();
    lc.boxfitting(50, 2, 8, 0.05, 0.2, 0);
    const std::vector<double> period = valuesOf(lc.getPeriod_box()), sde = valuesOf(lc.getSDE());
    const std::vector<double> phase = valuesOf(lc.getPhase()), flux = valuesOf(lc.getFlux());
    const double folded = lc.getPeriod();
    for (const Case &c : {Case{0, 8, 0.05, 0.2, 0, periods}, Case{-1, 8, 0.05, 0.2, 0, periods},
                          Case{2, -8, 0.05, 0.2, 0, periods}, Case{2, 0, 0.05, 0.2, 0, periods},
                          Case{nan, 8, 0.05, 0.2, 0, periods}, Case{2, inf, 0.05, 0.2, 0, periods},
                          Case{2, 8, 0.2, 0.1, 0, widths}, Case{2, 8, -0.1, 0.2, 0, widths},
                          Case{2, 8, 0.05, 1, 0, widths}, Case{2, 8, 0.05, nan, 0, widths},
                          Case{2, 8, nan, 0.2, 0, widths}, Case{2, 8, 0.05, 0.2, 1, bins},
                          Case{2, 8, 0.02, 0.02, 0, oneWidth}, Case{2, 8, 0.04, 0.04, 50, oneWidth},
                          Case{2, 8, 0.05, 0.05, 200, oneWidth}}) {
        SCOPED_TRACE(testing::Message() << c.pshort << " " << c.plong << " " << c.qmin << " "
                                        << c.qmax << " " << c.nbins);
        EXPECT_EQ(c.message,
                  printed([&] { lc.boxfitting(50, c.pshort, c.plong, c.qmin, c.qmax, c.nbins); }));
        EXPECT_EQ(period, valuesOf(lc.getPeriod_box()));
        EXPECT_EQ(sde, valuesOf(lc.getSDE()));
        EXPECT_EQ(folded, lc.getPeriod());
        EXPECT_EQ(phase, valuesOf(lc.getPhase()));
        EXPECT_EQ(flux, valuesOf(lc.getFlux()));
    }
    // The widest range that is accepted: boxes of any width up to just
    // below the whole period, and two bins.
    EXPECT_EQ("", printed([&] { lc.boxfitting(50, 2, 8, 0, std::nextafter(1.0, 0.0), 2); }));
    // Boxes of width 0 alone: single points (or points of one phase).
    EXPECT_EQ("", printed([&] { lc.boxfitting(50, 2, 8, 0, 0, 0); }));
    EXPECT_EQ(0, lc.getTau_box(1));
    Lightcurve fresh = boxes({2}).make();
    EXPECT_EQ(periods, printed([&] { fresh.boxfitting(50, 0, 8, 0.05, 0.2, 0); }));
    EXPECT_FALSE(fresh.isBoxfitted());
}

TEST(LightcurveBoxSearch, ScatterOfTheFluxWithoutTransits)
{
    // Without a transit the simulated flux is the flux without transits.
    long seed = -3;
    Lightcurve lc;
    lc.simulate(5, 1, 0.05, 0, 1.0, 4, 300, seed);
    double squares = 0;
    for (double f : valuesOf(lc.getFlux()))
        squares += (f - 1) * (f - 1);
    EXPECT_NEAR(std::sqrt(squares / 299), lc.getRms_removed(), 1e-12);
    // A point without a finite time is left out.
    const double f = lc.getFlux()(100);
    lc.getJD()(100) = std::nan("");
    EXPECT_NEAR(std::sqrt((squares - (f - 1) * (f - 1)) / 298), lc.getRms_removed(), 1e-12);
}

TEST(LightcurveBoxSearch, GuardsPrintAndReturn)
{
    Lightcurve lc = boxes({2}).make();
    const std::string none = "no boxed-lightcurve available!\n";
    EXPECT_EQ(none, printed([&] { EXPECT_EQ(-1, lc.getNumber_box(1, 0)); }));
    EXPECT_EQ(none, printed([&] { EXPECT_EQ(-1, lc.getNumber_transit_box(1)); }));
    EXPECT_EQ(none, printed([&] { EXPECT_EQ(-1, lc.getNchi_box(1)); }));
    EXPECT_EQ(none, printed([&] { EXPECT_EQ(-1, lc.getSNR_box(1)); }));
    EXPECT_EQ("error: transit is not removed!\n",
              printed([&] { EXPECT_EQ(-1, lc.getRms_removed()); }));
    EXPECT_EQ("error: at least one trial frequency needed!\n",
              printed([&] { lc.boxfitting(0, 1, 2, 0.1, 0.2, 0); }));
    EXPECT_EQ("error: number of phase bins must be positive!\n",
              printed([&] { lc.boxfitting(5, 1, 2, 0.1, 0.2, -3); }));
    EXPECT_FALSE(lc.isBoxfitted());

    Lightcurve empty;
    EXPECT_EQ("lightcurve contains no data points!\n",
              printed([&] { empty.boxfitting(5, 1, 2, 0.1, 0.2, 0); }));
    EXPECT_FALSE(empty.isBoxfitted());

    lc.boxfitting(5, 3, 5, 0.05, 0.2, 0);
    EXPECT_EQ("error: number(11) out of range (1,10)!\n",
              printed([&] { EXPECT_EQ(-1, lc.getNumber_box(11, 0)); }));
}
