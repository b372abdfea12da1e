// The sub-grid PSF built from standard stars: per star a stamp cleared of
// its sky plane, resampled onto the sub-grid at the star's exact position
// and summed; optionally a Moffat wing beyond the star box.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"
#include "psftools/psf.h"
#include "psftools/psf_index.h"

using orv::MArray;
using orv::Range;

namespace {

// Marks a sub-grid point on which a used star had no data.
constexpr double kInvalid = -10000000000.0;
constexpr double kFitIt = 12345; // a sky term to be fitted

// The stamp of half-size h around pixel (F, G) and its errors. A pixel
// without data, outside the image or with a value or an error that is not
// finite, is blank (0) and masked (error −1).
struct Stamp {
    MArray<float, 2> value, error;
};

Stamp cut(const MArray<float, 2> &image, const MArray<float, 2> &error, long F, long G, int h)
{
    Stamp s{MArray<float, 2>{Range(-h, h), Range(-h, h)},
            MArray<float, 2>{Range(-h, h), Range(-h, h)}};
    for (int i = -h; i <= h; ++i)
        for (int k = -h; k <= h; ++k) {
            const long x = F + i, y = G + k;
            const bool known = psf_index::inside(error, x, y);
            const bool data = psf_index::inside(image, x, y) && std::isfinite(image(x, y)) &&
                              !(known && !std::isfinite(error(x, y)));
            s.value(i, k) = data ? image(x, y) : 0.0f;
            s.error(i, k) = data && known ? error(x, y) : -1.0f;
        }
    return s;
}

template <class T>
void writeStamp(const MArray<T, 2> &a, const char *format, int star)
{
    char name[64];
    std::snprintf(name, sizeof name, format, star);
    std::cout << name << std::endl;
    orv::FitsOut out(name);
    out << a;
}

bool coversStars(const MArray<double, 1> &a, int n)
{
    return n == 0 || (a.firstIndex(1) <= 1 && a.lastIndex(1) >= n);
}

bool coversSquare(const MArray<double, 2> &a, int h)
{
    return a.firstIndex(1) <= -h && a.lastIndex(1) >= h && a.firstIndex(2) <= -h &&
           a.lastIndex(2) >= h;
}

void rule(char c)
{
    std::cout << std::string(156, c) << std::endl;
}

} // namespace

void psf::create_psf(MArray<float, 2> image, MArray<float, 2> error, MArray<double, 1> x,
                     MArray<double, 1> y, MArray<double, 1> sky, MArray<double, 1> sky_x,
                     MArray<double, 1> sky_y, MArray<double, 1> weight, double beta_min,
                     double beta_max, double fwhm_min, double fwhm_max, bool fit, int verbose)
{
    const int n = x.length(1);
    if (!coversStars(x, n) || !coversStars(y, n) || !coversStars(sky, n) ||
        !coversStars(sky_x, n) || !coversStars(sky_y, n) || !coversStars(weight, n)) {
        std::cout << "error in create_psf: every star array needs the indices 1.." << n
                  << std::endl;
        return;
    }
    if (_slen < 0 || !coversSquare(_psf, _slen) || !coversSquare(_epsf, _slen)) {
        std::cout << "error in create_psf: the psf arrays do not cover -" << _slen << ".." << _slen
                  << std::endl;
        return;
    }
    if (verbose > 2)
        std::cout << "constructing PSF using " << n << " standard stars..." << std::endl
                  << std::endl;
    _psf = 0.0;
    _epsf = 0.0;
    if (verbose > 2) {
        std::cout << "        nchi  iterations        good     surface          ax          ay   "
                     "amplitude"
                  << "        xcen        ycen       xfwhm       yfwhm       angle        beta"
                  << std::endl;
        if (fit)
            rule('-');
    }
    const int g = _subgrid, A = _analyt, S = _slen;
    double wacc = 0;
    // One star's share of the sub-grid; divvy clears it for every star.
    MArray<double, 2> P = psf_index::zeroSquare(S), E = psf_index::zeroSquare(S);
    for (int j = 1; j <= n; ++j) {
        const long F = psf_index::nearestPixel(x(j)), G = psf_index::nearestPixel(y(j));
        const double dx = x(j) - F, dy = y(j) - G;
        bool planeKnown = true;
        if (fit) {
            const Stamp fitStamp = cut(image, error, F, G, _boxlen);
            const MArray<float, 2> &s = fitStamp.value, &es = fitStamp.error;
            double xs = x(j), ys = y(j), amplitude = 0, p = 0, q = 0, angle = 0, beta = 0,
                   quality = 0;
            const int status =
                fmoffat<float>(s, es, sky(j), sky_x(j), sky_y(j), beta_min, beta_max, fwhm_min,
                               fwhm_max, xs, ys, amplitude, p, q, angle, beta, quality, verbose);
            if (status != 0) {
                if (verbose > 2)
                    std::cout << " err" << status << " in fmoffat" << std::endl;
                // A term the fit was to find has no value: the marker is no sky.
                planeKnown = sky(j) != kFitIt && sky_x(j) != kFitIt && sky_y(j) != kFitIt;
            }
        }
        const Stamp stamp = cut(image, error, F, G, A);
        MArray<float, 2> o = stamp.value, m = stamp.error;
        if (verbose > 7) {
            writeStamp(o, "starpsf0_%3.3i.fits", j);
            writeStamp(m, "e.starpsf0_%3.3i.fits", j);
        }
        if (!planeKnown)
            continue;
        const double T[7] = {0, double(g), 0, 0, double(g), -g * dx, -g * dy};
        const double s0 = sky(j), sx = sky_x(j), sy = sky_y(j);
        for (int i = -A; i <= A; ++i)
            for (int k = -A; k <= A; ++k)
                if (o(i, k) != 0)
                    o(i, k) = static_cast<float>(o(i, k) - ((i * sx + s0) + k * sy));
        const double w = weight(j);
        if (w != 0) {
            long blank = 0;
            for (int i = -A; i <= A; ++i)
                for (int k = -A; k <= A; ++k)
                    blank += o(i, k) == 0;
            const double side = 2 * A + 1;
            if (!(side * side / 10.0 > blank) || o(0, 0) == 0)
                continue;
        }
        divvy(o, m, P, E, T, verbose);
        if (w != 0 && verbose > 7) {
            writeStamp(P, "starpsf_%3.3i.fits", j);
            writeStamp(E, "e.starpsf_%3.3i.fits", j);
        }
        for (int i = -S; i <= S; ++i)
            for (int k = -S; k <= S; ++k) {
                double &v = _psf(i, k);
                double &e = _epsf(i, k);
                v = v == kInvalid || P(i, k) == 0 ? kInvalid : v + P(i, k);
                e = e == kInvalid || E(i, k) < 0 ? kInvalid : e + E(i, k) * E(i, k);
            }
        if (w != 0)
            wacc += w;
    }

    // Scaled up for the weight of the stars left out.
    const bool scaled = wacc != 0;
    const double wtot = scaled ? orv::sum(weight) : 0;
    for (int i = -S; i <= S; ++i)
        for (int k = -S; k <= S; ++k) {
            double &v = _psf(i, k);
            double &e = _epsf(i, k);
            v = v == kInvalid ? 0 : scaled ? v / wacc * wtot : v;
            e = e == kInvalid ? 0 : scaled ? std::sqrt(e) / wacc * wtot : std::sqrt(e);
        }

    if (_boxlen < A) {
        // The star box on the sub-grid, in sub-grid steps like the fit.
        const int hw = std::max(0, std::min(_boxlen * g, S));
        MArray<double, 2> box = psf_index::zeroSquare(hw), ebox = psf_index::zeroSquare(hw);
        for (int i = -hw; i <= hw; ++i)
            for (int k = -hw; k <= hw; ++k) {
                box(i, k) = _psf(i, k);
                ebox(i, k) = _epsf(i, k);
            }
        double s0 = 0, sx = 0, sy = 0, x0 = 0, y0 = 0, a = 0, p = 0, q = 0, theta = 0, beta = 0,
               quality = 0;
        const int status = fmoffat<double>(box, ebox, s0, sx, sy, beta_min, beta_max, fwhm_min * g,
                                           fwhm_max * g, x0, y0, a, p, q, theta, beta, quality, 0);
        // Without a fit there is no wing to put there.
        if (status == 0) {
            const double W = static_cast<double>(_boxlen) * g;
            const double ct = std::cos(theta), st = std::sin(theta);
            for (int j = -S; j <= S; ++j)
                for (int k = -S; k <= S; ++k) {
                    if (!(double(j) * j + double(k) * k >= W * (W - 1)))
                        continue;
                    // The fitted model itself: p and q are inverse widths.
                    const double u = (ct * (j - x0) + st * (k - y0)) * p;
                    const double v = (ct * (k - y0) - st * (j - x0)) * q;
                    _psf(j, k) = a * std::pow((u * u + 1) + v * v, -beta);
                    _epsf(j, k) = std::sqrt(_psf(j, k));
                }
        }
    }

    if (verbose <= 2)
        return;
    if (verbose != 3)
        rule('=');
    binning(0, 0);
    write_binned_psf("psftest00.fits");
    double s0 = 0, sx = 0, sy = 0, x0 = 0, y0 = 0, a = 0, p = 0, q = 0, theta = 0, beta = 0,
           quality = 0;
    const int status =
        fmoffat<double>(_binned_psf, _ebinned_psf, s0, sx, sy, beta_min, beta_max, fwhm_min,
                        fwhm_max, x0, y0, a, p, q, theta, beta, quality, verbose);
    if (status != 0)
        std::cout << " err" << status << " in fmoffat" << std::endl;
}

void psf::create_psf(MArray<float, 2> image, MArray<float, 2> error, MArray<double, 1> x,
                     MArray<double, 1> y, MArray<double, 1> sky, MArray<double, 1> sky_x,
                     MArray<double, 1> sky_y, double beta_min, double beta_max, double fwhm_min,
                     double fwhm_max, bool fit, int verbose)
{
    MArray<double, 1> weight(x.shape());
    if (weight.elementCount() > 0)
        weight = 0.0;
    create_psf(image, error, x, y, sky, sky_x, sky_y, weight, beta_min, beta_max, fwhm_min,
               fwhm_max, fit, verbose);
}

void psf::create_psf(MArray<float, 2> image, MArray<float, 2> error, MArray<double, 1> x,
                     MArray<double, 1> y, double sky, double sky_x, double sky_y, double beta_min,
                     double beta_max, double fwhm_min, double fwhm_max, bool fit, int verbose)
{
    MArray<double, 1> s(x.shape()), sx(x.shape()), sy(x.shape()), weight(x.shape());
    if (x.elementCount() > 0) {
        s = sky;
        sx = sky_x;
        sy = sky_y;
        weight = 0.0;
    }
    create_psf(image, error, x, y, s, sx, sy, weight, beta_min, beta_max, fwhm_min, fwhm_max, fit,
               verbose);
}
