// Simulated light curves with box-shaped transits, and added white and red
// noise.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/filled.h"
#include "lightcurve/random.h"

namespace {

constexpr double kTwoPi = 6.28318530717958;

// Element i (counted from 1) of a, whatever a's index base.
double at(const orv::MArray<double, 1> &a, int i)
{
    return a(a.firstIndex(1) + i - 1);
}

// Position of t within its period, in [0, 1): taken from below, so that
// times before 0 are treated like those after it.
double cyclePhase(double t, double period)
{
    return (t - std::floor(t / period) * period) / period;
}

} // namespace

bool Lightcurve::levelsCover(const orv::MArray<double, 1> &levels, int n)
{
    if (levels.length(1) >= n)
        return true;
    std::cout << "error: fewer noise levels than times!" << std::endl;
    return false;
}

void Lightcurve::startSimulation(const orv::MArray<double, 1> &t,
                                 const orv::MArray<double, 1> &levels)
{
    const int n = t.length(1);
    length = n;
    has_data = true;
    magnitudes = false;
    jd.makeReference(orv::MArray<double, 1>(n, false));
    flux.makeReference(orv::MArray<double, 1>(n, false));
    error.makeReference(orv::MArray<double, 1>(n, false));
    for (int i = 1; i <= n; ++i) {
        jd(i) = at(t, i);
        error(i) = at(levels, i);
    }
    weights.makeReference(filled(n, 0.0));
    nchi.makeReference(filled(n, 0.0));
    boxval.makeReference(filled(n, 0.0));
    filename.makeReference(noFileNames(n));

    // What was derived from the old data does not describe the new.
    weighted = folded = boxfitted = false;
    phased_length = 0;
    for (orv::MArray<double, 1> *a :
         {&phase, &phased_flux, &phased_error, &phased_weights, &phased_nchi, &phased_boxval, &sr,
          &frequency, &sde, &period_box, &reserved_box, &out_level_box, &in_level_box, &tau_box,
          &t0_box})
        a->makeReference(orv::MArray<double, 1>());
    phased_filename.makeReference(orv::MArray<std::string, 1>());
    points_per_transit.makeReference(orv::MArray<int, 1>());
    norm = 0;
    rednoise = 0;
    source_file.clear();
}

void Lightcurve::simulate(double period_, double t0_, double q, double depth,
                          orv::MArray<double, 1> t, orv::MArray<double, 1> sigma, long &seed)
{
    const int n = t.length(1);
    if (!levelsCover(sigma, n))
        return;
    startSimulation(t, sigma);
    transits_removed = true;
    nonoise = true;
    analytical = false;
    period = period_;
    t0 = t0_;
    tau = q;
    number_transit_points = 0;
    number_transits = 0;
    removed_flux.makeReference(orv::MArray<double, 1>(n, false));
    nonoise_flux.makeReference(orv::MArray<double, 1>(n, false));

    const double epochPhase = cyclePhase(t0, period);
    const auto inTransit = [&](int i) {
        const double x = std::fabs(cyclePhase(jd(i), period) - epochPhase);
        return x <= q / 2 || x >= 1 - q / 2;
    };
    // One draw for every time given, whether its point counts or not.
    for (int i = 1; i <= n; ++i) {
        flux(i) = 1 + rangau(seed) * error(i);
        removed_flux(i) = flux(i);
        nonoise_flux(i) = 1;
        if (inTransit(i)) {
            flux(i) -= depth;
            nonoise_flux(i) -= depth;
        }
    }
    // The points that count are counted.
    const std::vector<int> points = countedPoints();
    double last = -1e99;
    for (int i : points) {
        if (!inTransit(i))
            continue;
        ++number_transit_points;
        if (std::fabs(jd(i) - last) >= (1 - q) * period) {
            ++number_transits;
            last = jd(i);
        }
    }
    noise = meanCountedError(points);
}

void Lightcurve::simulate(double period_, double t0_, double q, double depth,
                          orv::MArray<double, 1> t, double percent, long &seed)
{
    simulate(period_, t0_, q, depth, t, filled(t.length(1), percent / 100), seed);
}

void Lightcurve::simulate(double period_, double t0_, double q, double depth, double percent,
                          int periods, int n, long &seed)
{
    n = std::max(n, 0);
    std::vector<double> drawn(n);
    for (double &x : drawn)
        x = ran3(seed) * periods * period_;
    // In time order: the transits are counted along the times.
    std::sort(drawn.begin(), drawn.end());
    orv::MArray<double, 1> t(n, false);
    for (int i = 1; i <= n; ++i)
        t(i) = drawn[i - 1];
    simulate(period_, t0_, q, depth, t, percent, seed);
}

void Lightcurve::simulate_noise(orv::MArray<double, 1> t, orv::MArray<double, 1> sigma, long &seed)
{
    if (!levelsCover(sigma, t.length(1)))
        return;
    startSimulation(t, sigma);
    analytical = transits_removed = nonoise = false;
    // No transits: counts of the old data would mislead.
    number_transit_points = number_transits = -1;
    for (int i = 1; i <= length; ++i)
        flux(i) = 1 + rangau(seed) * error(i);
    noise = meanCountedError(countedPoints());
}

void Lightcurve::simulate_noise(orv::MArray<double, 1> t, double sigma, long &seed)
{
    simulate_noise(t, filled(t.length(1), sigma), seed);
}

void Lightcurve::add_whitenoise(double s, long &seed)
{
    for (int i = 1; i <= length; ++i) {
        flux(i) += rangau(seed) * s;
        error(i) = std::sqrt(error(i) * error(i) + s * s);
    }
}

void Lightcurve::add_rednoise(orv::MArray<double, 1> amplitude, orv::MArray<double, 1> omega,
                              orv::MArray<double, 1> phases, long &seed)
{
    const int k = amplitude.length(1);
    if (omega.length(1) < k || phases.length(1) < k) {
        std::cout << "error: fewer frequencies or phases than amplitudes!" << std::endl;
        return;
    }
    if (length < 1)
        return;
    std::vector<double> psi(k);
    // Given phases stay; a phase of 0 is drawn anew, in component order.
    auto drawPhases = [&] {
        for (int j = 1; j <= k; ++j) {
            const double given = at(phases, j);
            psi[j - 1] = given != 0 ? given : ran3(seed) * kTwoPi;
        }
    };
    drawPhases();
    rednoise = 0;
    for (int j = 1; j <= k; ++j)
        rednoise += at(amplitude, j) * at(amplitude, j);
    // Segments begin and end at the points that count; the others take the
    // phases of the segment they lie in.
    const std::vector<int> points = countedPoints();
    std::size_t next = 0; // the first of them from point i on
    double segmentStart = points.empty() ? 0 : jd(points[0]);
    for (int i = 1; i <= length; ++i) {
        double r = 0;
        for (int j = 1; j <= k; ++j)
            r += at(amplitude, j) * std::sin(jd(i) * at(omega, j) + psi[j - 1]);
        flux(i) += r;
        if (transits_removed)
            removed_flux(i) += r;
        if (next >= points.size() || points[next] != i)
            continue;
        if (++next < points.size()) {
            const double later = jd(points[next]);
            if (later - jd(i) > 0.25 || later - segmentStart >= 1) {
                drawPhases();
                segmentStart = later;
            }
        }
    }
}
