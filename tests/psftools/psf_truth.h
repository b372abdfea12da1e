// Independent truth for the PSF tests: exact pixel integrals of a Gaussian
// (erf) and sub-grid PSFs made of such integrals.
#ifndef TESTS_PSFTOOLS_PSF_TRUTH_H
#define TESTS_PSFTOOLS_PSF_TRUTH_H

#include <cmath>

#include "orv/MArray.h"

namespace psftruth {

// Integral of the unit normal density of standard deviation sigma, centred
// at 0, over [a, b].
inline double gaussIntegral(double a, double b, double sigma)
{
    const double s = sigma * std::sqrt(2.0);
    return 0.5 * (std::erf(b / s) - std::erf(a / s));
}

// Integral of a unit-flux round Gaussian centred at (cx, cy) over the pixel
// with centre (i, j) (side 1).
inline double pixelIntegral(double i, double j, double cx, double cy, double sigma)
{
    return gaussIntegral(i - cx - 0.5, i - cx + 0.5, sigma) *
           gaussIntegral(j - cy - 0.5, j - cy + 0.5, sigma);
}

// Fills p (indices −s..s) with the integrals of a unit Gaussian of sigma
// pixels over the sub-grid cells of side 1/g around each sample.
inline void fillSubgridGaussian(orv::MArray<double, 2> p, int g, double sigma)
{
    const auto cell = [&](int k) { return gaussIntegral((k - 0.5) / g, (k + 0.5) / g, sigma); };
    for (int k = p.firstIndex(1); k <= p.lastIndex(1); ++k)
        for (int l = p.firstIndex(2); l <= p.lastIndex(2); ++l)
            p(k, l) = cell(k) * cell(l);
}

} // namespace psftruth

#endif
