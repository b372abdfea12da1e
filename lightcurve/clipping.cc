// Removing points: those inside the transit window of a known period and
// epoch, and those whose flux or error lies far from the median.
#include <cmath>
#include <iostream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/filled.h"
#include "lightcurve/guards.h"
#include "lightcurve/phase.h"

namespace {

// A new array, indexed from 1, of the elements i = 1..n of a whose keep[i-1]
// is set, in order.
template <class T>
orv::MArray<T, 1> kept(const orv::MArray<T, 1> &a, const std::vector<char> &keep, int n, int m)
{
    orv::MArray<T, 1> to(m);
    for (int i = 1, k = 0; i <= n; ++i)
        if (keep[i - 1])
            to(++k) = a(i);
    return to;
}

// Moves the elements i = 1..n of a whose keep[i-1] is set, in order, to the
// places 1, 2, ...
template <class T>
void compact(orv::MArray<T, 1> &a, const std::vector<char> &keep, int n)
{
    for (int i = 1, k = 0; i <= n; ++i)
        if (keep[i - 1] && ++k != i)
            a(k) = std::move(a(i));
}

} // namespace

void Lightcurve::maskTransit(double P, double T, double q)
{
    if (!pointsReady(has_data, length) || !foldable(P, T))
        return;
    // A width that is not finite puts every phase, or none, in the window; a
    // negative one narrows the window's margins or removes it.
    if (!(q >= 0 && std::isfinite(q))) {
        std::cout << "error: box width must be finite and not negative!" << std::endl;
        return;
    }
    const int n = length;
    std::vector<char> keep(n);
    int m = 0;
    for (int i = 1; i <= n; ++i) {
        const double phi = foldedPhase(jd(i), P, T);
        // Outside the window (a point without a phase is removed as well).
        keep[i - 1] = phi < kTransitWindowLow - q / 2 || phi > kTransitWindowHigh + q / 2;
        m += keep[i - 1];
    }
    // The weights go with their points, so that they stay usable until the
    // next calc_weights.
    jd.makeReference(kept(jd, keep, n, m));
    flux.makeReference(kept(flux, keep, n, m));
    error.makeReference(kept(error, keep, n, m));
    weights.makeReference(kept(weights, keep, n, m));
    nchi.makeReference(kept(nchi, keep, n, m));
    boxval.makeReference(kept(boxval, keep, n, m));
    filename.makeReference(kept(filename, keep, n, m));
    length = m;
}

int Lightcurve::clipping(double kappa)
{
    return clipAbout(false, kappa);
}
int Lightcurve::error_clipping(double kappa)
{
    return clipAbout(true, kappa);
}

int Lightcurve::clipAbout(bool errors, double kappa)
{
    if (!pointsReady(has_data, length))
        return 0;
    // A factor of 0 or less would find every point far from the median.
    if (!(kappa > 0)) {
        std::cout << "error: clipping factor must be positive!" << std::endl;
        return 0;
    }
    // The median and the scale come from the points that count alone;
    // every other point lies inside no band and goes.
    const int n = length;
    const orv::MArray<double, 1> &values = errors ? error : flux;
    std::vector<char> keep(n, 0);
    const std::vector<int> points = countedPoints();
    for (int i : points)
        keep[i - 1] = 1;
    const int finite = static_cast<int>(points.size());
    const double m = finite > 0 ? orv::median_exact(atPoints(values, points))
                                : std::numeric_limits<double>::quiet_NaN();
    double sum = 0;
    for (int i = 1; i <= n; ++i)
        if (keep[i - 1])
            sum += (values(i) - m) * (values(i) - m);
    // Fluxes scatter by their standard deviation, errors by their
    // root-mean-square deviation from the median.
    const double s = errors ? (finite > 0 ? std::sqrt(sum / finite) : 0)
                            : (finite > 1 ? std::sqrt(sum / (finite - 1)) : 0);
    std::cout << m << " " << s << std::endl;
    // With every value at the median (s = 0) no point is far from it.
    int removed = 0;
    for (int i = 1; i <= n; ++i) {
        const double deviation = errors ? values(i) - m : std::fabs(values(i) - m);
        keep[i - 1] = keep[i - 1] && !(s > 0 && deviation >= kappa * s);
        removed += !keep[i - 1];
    }
    if (removed > 0) {
        for (orv::MArray<double, 1> *a : {&jd, &flux, &error, &weights, &nchi, &boxval})
            compact(*a, keep, n);
        compact(filename, keep, n);
        length = n - removed;
    }
    calc_weights();
    renorm();
    return removed;
}
