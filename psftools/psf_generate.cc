#include <cmath>
#include <functional>
#include <iostream>

#include "psftools/psf.h"

using orv::MArray;

namespace {

// The profile on the rotated axes u, v of sub-grid point (j, k).
using Profile = std::function<double(double u, double v)>;

// Fills p with profile / norm and e with 1 over their index ranges; norm is
// the profile's sum over the samples that binning at shift 0 gathers into
// pixel (0, 0), and is returned.
double fill(MArray<double, 2> &p, MArray<double, 2> &e, int g, double theta, const Profile &f)
{
    const double st = std::sin(theta), ct = std::cos(theta);
    const auto at = [&](int j, int k) { return f(k * st + j * ct, k * ct - j * st); };
    double norm = 0;
    for (int j = -(g / 2); j <= g / 2; ++j)
        for (int k = -(g / 2); k <= g / 2; ++k)
            norm += at(j, k);
    for (int j = p.firstIndex(1); j <= p.lastIndex(1); ++j)
        for (int k = p.firstIndex(2); k <= p.lastIndex(2); ++k)
            p(j, k) = at(j, k) / norm;
    if (e.elementCount() > 0)
        e = 1.0;
    return norm;
}

// Whether a profile of these sizes can be tabulated, with the refusal
// printed when not: the profiles divide by the widths in sub-grid steps, so
// any other would fill the PSF with NaN.
bool tabulable(int subgrid, double fwhm_x, double fwhm_y, double theta)
{
    if (subgrid < 1) {
        std::cout << "error: the subgrid value must be at least 1!" << std::endl;
        return false;
    }
    const auto usable = [](double w) { return w > 0 && std::isfinite(w); };
    if (!usable(fwhm_x) || !usable(fwhm_y)) {
        std::cout << "error: the FWHM must be positive and finite!" << std::endl;
        return false;
    }
    if (!std::isfinite(theta)) {
        std::cout << "error: the position angle must be finite!" << std::endl;
        return false;
    }
    return true;
}

} // namespace

void psf::generate_gauss(double fwhm_x, double fwhm_y, double theta, int verbose)
{
    if (!tabulable(_subgrid, fwhm_x, fwhm_y, theta))
        return;
    const int g = _subgrid;
    const double sx = fwhm_x * g / 2.3548200450309493, sy = fwhm_y * g / 2.3548200450309493;
    const double norm = fill(_psf, _epsf, g, theta, [&](double u, double v) {
        return std::exp(-(u * u / (2 * sx * sx) + v * v / (2 * sy * sy)));
    });
    std::cout << "norm=" << norm << std::endl;
    if (verbose <= 2)
        return;
    binning(0, 0);
    write_binned_psf("psftest00.fits");
    double x = 0, y = 0, amplitude = 0;
    const int r = fgauss(_binned_psf, _ebinned_psf, x, y, amplitude, 0.0, verbose);
    std::cout << "amplitude=" << amplitude << ", x=" << x << ", y=" << y << std::endl;
    if (r != 0)
        std::cout << " err" << r << " in fgauss" << std::endl;
}

void psf::generate_moffat(double fwhm_x, double fwhm_y, double theta, double beta, int verbose)
{
    if (!tabulable(_subgrid, fwhm_x, fwhm_y, theta))
        return;
    if (!(beta > 0 && std::isfinite(beta))) {
        std::cout << "error: beta must be positive and finite!" << std::endl;
        return;
    }
    const int g = _subgrid;
    const double wx = fwhm_x * g, wy = fwhm_y * g;
    const double kappa = std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0);
    const double norm = fill(_psf, _epsf, g, theta, [&](double u, double v) {
        const double a = u * 2 * kappa / wx, b = v * 2 * kappa / wy;
        return std::pow(1 + a * a + b * b, -beta);
    });
    std::cout << norm << std::endl;
    if (verbose <= 2)
        return;
    binning(0, 0);
    write_binned_psf("psftest00.fits");
    double background = 0, slope_x = 0, slope_y = 0, x = 0, y = 0;
    double amplitude, p, q, angle, b, rms_dof;
    const int r = fmoffat(_binned_psf, _ebinned_psf, background, slope_x, slope_y, beta, beta, 0.0,
                          2 * std::sqrt(wx * wx + wy * wy), x, y, amplitude, p, q, angle, b,
                          rms_dof, verbose);
    if (r != 0)
        std::cout << " err" << r << " in fmoffat" << std::endl;
}
