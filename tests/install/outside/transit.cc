// A light curve with a periodic 1 % dip, searched for it, and written as a
// FITS table.
#include <cmath>
#include <cstdio>
#include <random>

#include "lightcurve/Lightcurve.h"

int main()
{
    const int n = 1500;
    const double period = 2.3, width = 0.1;
    orv::MArray<double, 1> t(n), flux(n), error(n);
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 0.002);
    for (int i = 1; i <= n; ++i) {
        t(i) = 0.02 * i;
        const double phase = std::fmod(t(i), period) / period;
        flux(i) = (phase < width / period ? 0.99 : 1.0) + noise(rng);
        error(i) = 0.002;
    }
    Lightcurve lc(t, flux, error);
    lc.boxfitting(2000, 1, 5, 0.02, 0.1, 200);
    std::printf("period %.3f d, depth %.4f\n", lc.getPeriod_box(1), lc.getDrop_box(1));
    lc.write_binary("transit.fits", false, false, false, false);
    const bool right = std::fabs(lc.getPeriod_box(1) - period) < 0.01 &&
                       std::fabs(lc.getDrop_box(1) - 0.01) < 0.002;
    std::puts(right ? "transit: found" : "transit: not found");
    return right ? 0 : 1;
}
