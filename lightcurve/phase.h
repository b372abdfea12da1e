// Folding arithmetic shared by the folds, the box search and the transit
// mask: the phase of a time, the transit window around phase 0.5, the phase
// bin a phase falls into, and weighted sums per phase bin.
#ifndef LIGHTCURVE_PHASE_H
#define LIGHTCURVE_PHASE_H

#include <cmath>
#include <cstdint>
#include <vector>

// Position in [0, 1) of time t within its cycle of period P that starts at
// epoch T (NaN when t, P or T is not a number).
inline double cyclePhase(double t, double period, double epoch)
{
    double x = (t - epoch) / period;
    // Whole cycles by truncation toward zero as a 32-bit count; beyond its
    // range the same by trunc, which also passes NaN through.
    x -= std::fabs(x) < 2147483648.0 ? static_cast<double>(static_cast<std::int32_t>(x))
                                     : std::trunc(x);
    if (x < 0)
        x += 1;
    // A tiny negative remainder plus 1 rounds to 1.
    if (x >= 1)
        x -= 1;
    return x;
}

// Phase in [0, 1) of time t in a fold at period P and epoch T, which puts
// T + kP at 0.5.
inline double foldedPhase(double t, double period, double epoch)
{
    const double x = cyclePhase(t, period, epoch) + 0.5;
    return x >= 1 ? x - 1 : x;
}

// Margins of the transit window of a box of width q (a fraction of the
// period) centred at phase 0.5: 0.4999 - q/2 .. 0.5001 + q/2.
constexpr double kTransitWindowLow = 0.4999, kTransitWindowHigh = 0.5001;

// Whether phase phi lies in that window, both ends included (NaN does not).
inline bool inTransitWindow(double phi, double q)
{
    return kTransitWindowLow - q / 2 <= phi && phi <= kTransitWindowHigh + q / 2;
}

// Weighted sums of points per phase bin: each point enters its bin with the
// weight v = 1/error^2, adding v*phase, v*flux and v. The bin of phase p
// among n equal bins of width w = 1/n is the first bin j whose upper edge
// j*w lies above p, or the last bin for a phase at or above its edge (which
// rounding can put slightly below 1).
class PhaseBins {
public:
    // n bins (n >= 1), all sums 0; keeps its storage for later calls.
    void reset(int n);
    // Adds points 0..count-1 with phases p, weights v and weighted fluxes vf
    // (v*flux). Points without a phase (NaN) enter no bin. Allocates only
    // when more points come than ever before.
    void add(const double *p, const double *v, const double *vf, int count);
    // The bins with a weight sum other than 0, in phase order: their mean
    // phase, mean flux and weight sum go to phase[k], flux[k] and weight[k],
    // k = 0..m-1 (room for every bin is the caller's). Returns m.
    int means(double *phase, double *flux, double *weight) const;

private:
    // Sets of sums that take the points in turn, so that neighbouring points
    // of one bin do not wait for each other's additions.
    static constexpr int kSets = 4;

    int n_ = 0;
    double w_ = 0;
    std::vector<int> bin_; // of each point added; 0 for none
    // Sums of bin j in set k: phase, flux and weight at (k * (n + 1) + j) * 3.
    std::vector<double> sums_;
};

#endif
