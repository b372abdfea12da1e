// Box-shaped transit search over a grid of trial frequencies, and what its
// peaks tell about their transits.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <optional>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/filled.h"
#include "lightcurve/guards.h"
#include "lightcurve/phase.h"
#include "lightcurve/weights.h"

namespace {

constexpr int kPeaks = 10;
// Peaks closer than this many frequency steps belong to one signal.
constexpr double kPeakSeparation = 5;
// A spread of the SR spectrum below this fraction of its mean is rounding:
// equal residues summed in another order differ by some 1e-15, a real
// spectrum by far more than this.
constexpr double kFlatSpectrum = 1e-10;

// The best box of one trial frequency: its signal residue, the flux levels
// outside and inside it, its width and its centre in phase.
struct Box {
    double sr = 0, out = 0, in = 0, width = 0, centre = 0;
};

// The phased entries (points or bins) of one trial fold, 1..m in ascending
// phase, with the prefix sums R[k] of their weights (which sum to 1) and S[k]
// of weight times flux (which sum to 0); R[0] = S[0] = 0.
struct Phased {
    std::vector<double> phase, R, S;
    int m = 0;

    explicit Phased(int n) : phase(n + 1), R(n + 1, 0.0), S(n + 1, 0.0) {}
};

// The box of largest signal residue over the runs j..k of entries (j and k
// ascending, the first of equal ones kept) whose phase width d lies in
// [qmin, qmax], or, taken as the complement of the run through phase 0, whose
// width 1 - d does; only dips count.
//
// For each j the runs of either kind form a range of k that moves forward
// with j, so only those are visited; the sums of a run come from the prefix
// sums. A cheap test (the sign of the run's weighted flux and its squared
// residue against a bound kept just below the best) passes every run that
// can beat the best, and only those get the full computation.
Box bestBox(const Phased &f, double qmin, double qmax)
{
    const int m = f.m;
    const double *ph = f.phase.data();
    const double *R = f.R.data();
    const double *S = f.S.data();
    Box best;
    double bound = 0; // below best.sr^2 by more than rounding
    int a = 1, b = 0; // runs j..a..b: qmin <= d <= qmax
    int c = 1, e = 0; // runs j..c..e: qmin <= 1 - d <= qmax
    for (int j = 1; j <= m; ++j) {
        const double pj = ph[j];
        a = std::max(a, j);
        while (a <= m && !(qmin <= ph[a] - pj))
            ++a;
        b = std::max(b, a - 1);
        while (b < m && ph[b + 1] - pj <= qmax)
            ++b;
        c = std::max(c, j);
        while (c <= m && !(1 - (ph[c] - pj) <= qmax))
            ++c;
        e = std::max(e, c - 1);
        while (e < m && qmin <= 1 - (ph[e + 1] - pj))
            ++e;

        int k = m + 1, last = 0;
        if (a <= b)
            k = a, last = b;
        if (c <= e)
            k = std::min(k, c), last = std::max(last, e);
        const double r0 = R[j - 1], s0 = S[j - 1];
        for (; k <= last; ++k) {
            const bool inside = a <= k && k <= b;
            if (!inside && !(c <= k && k <= e)) {
                // Between the two ranges: on to the start of the later one.
                k = (a > k && a <= b ? a : c) - 1;
                continue;
            }
            const double r = R[k] - r0, s = S[k] - s0;
            const double den = r * (1 - r);
            // A dip has s < 0 inside the run, s > 0 outside it.
            if (!((inside ? s < 0 : s > 0) & (den > 0) & (s * s > bound * den)))
                continue;
            const double sr = std::fabs(r - 1) <= 1e-9 ? 0 : std::sqrt(s * s / den);
            const double low = -s / (1 - r), high = s / r; // levels outside and inside the run
            if (!(sr > best.sr))
                continue;
            const double d = ph[k] - pj, centre = (pj + ph[k]) / 2;
            if (inside && low > high) {
                best = Box{sr, low, high, d, centre};
            } else if (!inside && high > low) {
                best = Box{sr, high, low, 1 - d, centre - 0.5};
            } else {
                continue;
            }
            bound = sr * sr * (1 - 1e-12);
        }
    }
    return best;
}

// The phases of times t[0..n) (no NaN among them) in a fold at period P and
// epoch T whose cycle counts stay below 2^31: the steps of foldedPhase in a
// form the compiler turns into vector instructions.
void phasesOf(const double *t, int n, double P, double T, double *phase)
{
    for (int i = 0; i < n; ++i) {
        double x = (t[i] - T) / P;
        x -= static_cast<double>(static_cast<std::int32_t>(x));
        x += x < 0 ? 1.0 : 0.0;
        x -= x >= 1 ? 1.0 : 0.0;
        x += 0.5;
        x -= x >= 1 ? 1.0 : 0.0;
        phase[i] = x;
    }
}

// A point's phase and place, ordered by phase and then by place.
struct PhasedPoint {
    double phase;
    int point;
    bool operator<(const PhasedPoint &o) const
    {
        return phase < o.phase || (phase == o.phase && point < o.point);
    }
};

// The answer of a question about peak c that needs no peak: -1 when peak c
// cannot be read (reported), 0 when its slot holds no peak; none when there
// is a peak to look at.
std::optional<int> answerWithoutPeak(bool boxfitted, const orv::MArray<double, 1> &period_box,
                                     int c)
{
    if (!peakReady(boxfitted, c, period_box.length(1)))
        return -1;
    if (period_box(c) == 0)
        return 0;
    return std::nullopt;
}

// Folds lc at peak c; the transit window of the peak in phase is
// lower <= phase < upper.
void foldAtPeak(Lightcurve &lc, int c, double &lower, double &upper)
{
    lc.fold(lc.getPeriod_box(c), lc.getT0_box(c));
    const double q = lc.getTau_box(c);
    lower = kTransitWindowLow - q / 2;
    upper = q / 2 + kTransitWindowHigh;
}

} // namespace

void Lightcurve::boxfitting(int nf, double pshort, double plong, double qmin, double qmax,
                            int nbins)
{
    if (!pointsReady(has_data, length))
        return;
    if (nf < 1) {
        std::cout << "error: at least one trial frequency needed!" << std::endl;
        return;
    }
    if (nbins != 0 && !binCountReady(nbins))
        return;
    // One bin holds all the weight: no box can be told from the rest.
    if (nbins == 1) {
        std::cout << "error: at least two phase bins needed!" << std::endl;
        return;
    }
    if (!(pshort > 0 && std::isfinite(pshort) && plong > 0 && std::isfinite(plong))) {
        std::cout << "error: trial periods must be positive and finite!" << std::endl;
        return;
    }
    if (!(0 <= qmin && qmin <= qmax && qmax < 1)) {
        std::cout << "error: box widths must satisfy 0 <= qmin <= qmax < 1!" << std::endl;
        return;
    }
    // A box width is a difference of two phases: one width other than 0 is
    // essentially never met.
    if (qmin == qmax && qmax > 0) {
        std::cout << "error: box widths qmin = qmax > 0 are met by no box; give qmin < qmax!"
                  << std::endl;
        return;
    }
    // The search, and the epoch of its folds, take the points that count
    // alone (as they are before the mean is subtracted).
    bool alike = false;
    const std::vector<int> use = countedPoints(&alike);
    if (!finitePointsReady(!use.empty()))
        return;
    boxfitted = true;
    // The fluxes come back exactly as they were, not by adding the mean back.
    std::vector<double> saved(length);
    for (int i = 0; i < length; ++i)
        saved[i] = flux(i + 1);
    calc_weights();
    renorm();

    // Per finite point: time, weight (summing to 1), flux (weighted mean 0)
    // and, for the bins, 1/error^2 and flux/error^2.
    std::vector<double> t, w, y, v, vf;
    for (std::vector<double> *a : {&t, &w, &y, &v, &vf})
        a->reserve(length);
    for (int i : use) {
        t.push_back(jd(i));
        w.push_back(weights(i));
        y.push_back(flux(i));
        v.push_back(weightOf(error(i), alike));
        vf.push_back(y.back() * v.back());
    }
    const int n = static_cast<int>(t.size());
    std::vector<double> phases(n);
    const double first = jd(use[0]);
    // The cycle counts of a fold stay below (reach + |P|/2) / |P|, reach the
    // largest distance from the first point (infinite when it overflows).
    double reach = 0;
    for (double x : t)
        reach = std::max(reach, std::fabs(x - first));

    // Work space of every trial frequency, made once.
    const int entries = nbins > 0 ? nbins : n;
    Phased folded(entries);
    PhaseBins bins;
    std::vector<double> binFlux(entries), binWeight(entries);
    std::vector<PhasedPoint> order;
    order.reserve(n);

    orv::MArray<double, 1> freq(nf), residue(nf);
    std::vector<Box> best(nf + 1);
    const double df = nf > 1 ? (1 / pshort - 1 / plong) / (nf - 1) : 0;
    double f = 1 / plong;
    for (int i = 1; i <= nf; ++i) {
        freq(i) = f;
        // The default epoch of a fold: the first finite point at phase 0.
        const double P = 1 / f, T = first + P / 2;
        if ((reach + std::fabs(P) / 2) / std::fabs(P) < 2147483647.0) {
            phasesOf(t.data(), n, P, T, phases.data());
        } else {
            for (int p = 0; p < n; ++p)
                phases[p] = foldedPhase(t[p], P, T);
        }
        if (nbins > 0) {
            bins.reset(nbins);
            bins.add(phases.data(), v.data(), vf.data(), n);
            const int m = bins.means(folded.phase.data() + 1, binFlux.data(), binWeight.data());
            double total = 0;
            for (int k = 0; k < m; ++k)
                total += binWeight[k];
            // Weight of a bin: its share of the total; weight times mean flux
            // is its flux sum over the total.
            for (int k = 1; k <= m; ++k) {
                folded.R[k] = folded.R[k - 1] + binWeight[k - 1] / total;
                folded.S[k] = folded.S[k - 1] + binFlux[k - 1] * binWeight[k - 1] / total;
            }
            folded.m = m;
        } else {
            // Points without a phase lie in no box.
            order.clear();
            for (int p = 0; p < n; ++p)
                if (!std::isnan(phases[p]))
                    order.push_back(PhasedPoint{phases[p], p});
            std::sort(order.begin(), order.end());
            const int m = static_cast<int>(order.size());
            for (int k = 1; k <= m; ++k) {
                const int p = order[k - 1].point;
                folded.phase[k] = order[k - 1].phase;
                folded.R[k] = folded.R[k - 1] + w[p];
                folded.S[k] = folded.S[k - 1] + w[p] * y[p];
            }
            folded.m = m;
        }
        best[i] = bestBox(folded, qmin, qmax);
        f += df;
    }

    // The light curve is left folded (and binned) at the last trial
    // frequency, with the mean-subtracted flux.
    foldAt(1 / freq(nf), first + 1 / freq(nf) / 2);
    if (nbins > 0) {
        binning_phased(nbins);
        calc_phased_weights();
    }

    // Peaks: the strongest frequencies more than kPeakSeparation steps apart
    // (the later of equal ones). A frequency without a box is no peak.
    std::vector<int> slot(kPeaks + 1, 0);
    for (int j = 1; j <= kPeaks; ++j) {
        int pick = 0;
        for (int k = 1; k <= nf; ++k) {
            if (!(best[k].sr > 0) || (pick != 0 && best[k].sr < best[pick].sr))
                continue;
            bool excluded = false;
            for (int s = 1; s < j && !excluded; ++s)
                excluded =
                    slot[s] != 0 && std::fabs(freq(k) - freq(slot[s])) <= kPeakSeparation * df;
            if (!excluded)
                pick = k;
        }
        slot[j] = pick;
    }

    // Residues relative to the strongest peak; all 0 without any box.
    if (slot[1] == 0)
        std::cout << "warning: no box qualified at any trial frequency!" << std::endl;
    const double top = slot[1] != 0 ? best[slot[1]].sr : 0;
    double mean = 0;
    for (int k = 1; k <= nf; ++k) {
        residue(k) = top > 0 ? best[k].sr / top : 0;
        mean += residue(k);
    }
    mean /= nf;
    double deviation = 0;
    for (int k = 1; k <= nf; ++k)
        deviation += std::fabs(residue(k) - mean);
    if (nf > 1)
        deviation /= nf - 1;

    frequency.makeReference(freq);
    sr.makeReference(residue);
    for (orv::MArray<double, 1> *a :
         {&sde, &period_box, &reserved_box, &tau_box, &t0_box, &out_level_box, &in_level_box})
        a->makeReference(filled(kPeaks, 0.0));
    for (int j = 1; j <= kPeaks; ++j) {
        const int p = slot[j];
        if (p == 0)
            continue;
        // A flat spectrum (or a single frequency) singles out nothing.
        sde(j) =
            deviation > kFlatSpectrum * mean ? std::max(0.0, (residue(p) - mean) / deviation) : 0;
        period_box(j) = 1 / freq(p);
        tau_box(j) = best[p].width;
        t0_box(j) = best[p].centre / freq(p) + first;
        out_level_box(j) = best[p].out;
        in_level_box(j) = best[p].in;
    }
    upscale();
    for (int j = 1; j <= kPeaks; ++j)
        if (slot[j] == 0)
            out_level_box(j) = in_level_box(j) = 0;
    for (int i = 0; i < length; ++i)
        flux(i + 1) = saved[i];
}

int Lightcurve::getNumber_box(int c, int K) const
{
    if (const auto none = answerWithoutPeak(boxfitted, period_box, c))
        return *none;
    const double T = t0_box(c), P = period_box(c), q = tau_box(c);
    std::vector<double> times;
    for (int i : countedPoints())
        times.push_back(jd(i));
    std::sort(times.begin(), times.end());
    const double half = q * P / 2;
    int count = 0;
    double last = -1e99;
    for (double t : times) {
        const double phi = foldedPhase(t, P, T);
        if (!(inTransitWindow(phi, q) && t - last >= (1 - q / 2) * P))
            continue;
        // Mid-time of the transit nearest to t.
        last = T + (t < T ? -1 : 1) * std::floor(std::fabs(t - T) / P + 0.5) * P;
        // Points within half a box width of it: t - last is monotone in t.
        const auto from = std::partition_point(times.begin(), times.end(),
                                               [&](double x) { return x - last < -half; });
        const auto to =
            std::partition_point(from, times.end(), [&](double x) { return x - last <= half; });
        if (to - from >= K)
            ++count;
    }
    return count;
}

int Lightcurve::getNumber_transit_box(int c)
{
    if (const auto none = answerWithoutPeak(boxfitted, period_box, c))
        return *none;
    double lower, upper;
    foldAtPeak(*this, c, lower, upper);
    int inside = 0;
    for (int k : countedEntries())
        inside += lower <= phase(k) && phase(k) < upper;
    return inside;
}

double Lightcurve::getNchi_box(int c)
{
    if (const auto none = answerWithoutPeak(boxfitted, period_box, c))
        return *none;
    double lower, upper;
    foldAtPeak(*this, c, lower, upper);
    double chi = 0;
    int n = 0;
    for (int k : countedEntries()) {
        const bool inside = lower <= phase(k) && phase(k) < upper;
        const double level = inside ? in_level_box(c) : out_level_box(c);
        const double r = (phased_flux(k) - level) / phased_error(k);
        chi += r * r;
        ++n;
    }
    return chi / n;
}

double Lightcurve::getSNR_box(int c) const
{
    if (!peakReady(boxfitted, c, period_box.length(1)) || length <= 0)
        return -1.0;
    if (period_box(c) == 0)
        return 0;
    const double T = t0_box(c), P = period_box(c), q = tau_box(c);
    // Errors of 0 (a light curve without noise) give an infinite ratio.
    double S = 0;
    for (int i : countedPoints()) {
        // Mid-transit at 0 here.
        const double x = cyclePhase(jd(i), P, T);
        if (x > 1 - q / 2 || x < q / 2)
            S += 1 / (error(i) * error(i));
    }
    if (!(S > 0))
        return -1.0;
    const double out = out_level_box(c), in = in_level_box(c);
    return (out - in) / out * std::sqrt(S);
}

double Lightcurve::getRms_removed() const
{
    if (!removedFluxReady(transits_removed))
        return -1.0;
    double sum = 0;
    int n = 0;
    for (int i : countedPoints()) {
        if (!std::isfinite(removed_flux(i)))
            continue;
        sum += (removed_flux(i) - 1) * (removed_flux(i) - 1);
        ++n;
    }
    if (n <= 1)
        return -1.0;
    return std::sqrt(sum / (n - 1));
}
