#include <cmath>
#include <iostream>

#include "lightcurve/random.h"
#include "psftools/psf.h"
#include "psftools/psf_index.h"

using orv::MArray;

namespace {

// Where a star falls: its nearest pixel, its offset from it and the shift
// indices of its table plane.
struct Place {
    long lx, ly;
    double fx, fy;
    int sx, sy;
    bool ok; // the tables hold the plane
};

int clamp(long v, int lo, int hi)
{
    return static_cast<int>(v < lo ? lo : v > hi ? hi : v);
}

// A star exactly halfway between pixels asks for the shift index one beyond
// the tables for some shift counts (3, 7, 11, ...): the nearest tabulated
// shift is taken instead.
Place place(const MArray<double, 4> &t, const MArray<double, 4> &e, int subpixel, int L, double x,
            double y)
{
    Place p;
    p.lx = psf_index::nearestPixel(x);
    p.ly = psf_index::nearestPixel(y);
    p.fx = x - p.lx;
    p.fy = y - p.ly;
    const psf_index::Span xs = psf_index::common(t, 1, e, 1), ys = psf_index::common(t, 2, e, 2);
    const psf_index::Span is = psf_index::common(t, 3, e, 3), js = psf_index::common(t, 4, e, 4);
    p.ok =
        xs.lo <= xs.hi && ys.lo <= ys.hi && is.lo <= -L && is.hi >= L && js.lo <= -L && js.hi >= L;
    p.sx = clamp(std::lrint(subpixel * p.fx), xs.lo, xs.hi);
    p.sy = clamp(std::lrint(subpixel * p.fy), ys.lo, ys.hi);
    if (!p.ok)
        std::cout << "error: no binned psf tables for this star, run calc_base first" << std::endl;
    return p;
}

// A flux or gain that is not finite would write NaN or infinities into the
// image, and a position that is not finite names no pixel: refused with a
// message.
bool finite(const char *what, double v)
{
    if (std::isfinite(v))
        return true;
    std::cout << "error: " << what << " is not finite (" << v << "), image left unchanged"
              << std::endl;
    return false;
}

void announce(const char *what, double x, double y, double flux, int verbose)
{
    if (verbose > 3)
        std::cout << what << " star at x = " << x << ", y = " << y << ", with flux = " << flux
                  << "..." << std::endl
                  << std::endl;
}

// The pixel may be changed: inside both images and not marked blank.
bool open(const MArray<float, 2> &image, const MArray<float, 2> &error, long px, long py,
          double blank, double eblank)
{
    return psf_index::inside(image, px, py) && psf_index::inside(error, px, py) &&
           static_cast<double>(image(px, py)) != blank &&
           static_cast<double>(error(px, py)) != eblank;
}

// Adds sign·flux times the table plane within the disc d² < disc2 around the
// star; the error grows by the table error times the flux, in quadrature.
void place_star(const MArray<double, 4> &t, const MArray<double, 4> &e, int subpixel, int L,
                MArray<float, 2> &image, MArray<float, 2> &error, double x, double y, double flux,
                double sign, double disc2, double blank, double eblank)
{
    if (!finite("flux", flux) || !finite("x", x) || !finite("y", y))
        return;
    const Place p = place(t, e, subpixel, L, x, y);
    if (!p.ok)
        return;
    for (int i = -L; i <= L; ++i)
        for (int j = -L; j <= L; ++j) {
            const double di = i - p.fx, dj = j - p.fy;
            if (!(disc2 > di * di + dj * dj))
                continue;
            const long px = p.lx + i, py = p.ly + j;
            if (!open(image, error, px, py, blank, eblank))
                continue;
            image(px, py) += static_cast<float>(sign * t(p.sx, p.sy, i, j) * flux);
            const double ef = e(p.sx, p.sy, i, j) * flux, old = error(px, py);
            error(px, py) = static_cast<float>(std::sqrt(ef * ef + old * old));
        }
}

} // namespace

void psf::add_psf(MArray<float, 2> &image, MArray<float, 2> &error, double x, double y, double flux,
                  double blank, double eblank, int verbose)
{
    announce("adding", x, y, flux, verbose);
    const double L = _analyt;
    place_star(_all_binned_psf, _all_ebinned_psf, _subpixel, _analyt, image, error, x, y, flux, 1.0,
               L * L, blank, eblank);
}

void psf::subtract_psf(MArray<float, 2> &image, MArray<float, 2> &error, double x, double y,
                       double flux, double blank, double eblank, int verbose)
{
    announce("subtracting", x, y, flux, verbose);
    const double L = _analyt;
    place_star(_all_binned_psf, _all_ebinned_psf, _subpixel, _analyt, image, error, x, y, flux,
               -1.0, L * (L - 1), blank, eblank);
}

void psf::add_psf_noise(MArray<float, 2> &image, MArray<float, 2> &error, double x, double y,
                        double flux, double gain, long &seed, double blank, double eblank,
                        int verbose)
{
    if (verbose > 3)
        std::cout << "adding noise for star at x = " << x << ", y = " << y
                  << ", with flux = " << flux << " and gain = " << gain << "..." << std::endl
                  << std::endl;
    if (!finite("flux", flux) || !finite("gain", gain) || !finite("x", x) || !finite("y", y))
        return;
    const int L = _analyt;
    const Place p = place(_all_binned_psf, _all_ebinned_psf, _subpixel, L, x, y);
    if (!p.ok)
        return;
    const double disc2 = static_cast<double>(L) * L;
    for (int i = -L; i <= L; ++i)
        for (int j = -L; j <= L; ++j) {
            // One deviate per box pixel, used or not, so that the noise a
            // pixel gets does not depend on blank pixels or the image edge.
            const double di = i - p.fx, dj = j - p.fy;
            const long px = p.lx + i, py = p.ly + j;
            if (!(disc2 > di * di + dj * dj) || !open(image, error, px, py, blank, eblank)) {
                rangau(seed);
                continue;
            }
            const double b = _all_binned_psf(p.sx, p.sy, i, j);
            const float value = static_cast<float>(b * flux);
            double s = 0;
            // Photon noise needs a positive expected count: a negative flux
            // or gain adds the star without noise instead of NaN.
            if (b > 0 && value * gain > 0)
                s = std::sqrt(value * gain);
            image(px, py) += value;
            const double r = rangau(seed);
            image(px, py) = static_cast<float>(image(px, py) + r * s);
            const double old = error(px, py);
            error(px, py) = static_cast<float>(std::sqrt(s * s + old * old));
        }
}

void psf::add_psf_exact(MArray<float, 2> &image, double x, double y, double flux, int verbose)
{
    announce("adding", x, y, flux, verbose);
    const long lx = psf_index::nearestPixel(x), ly = psf_index::nearestPixel(y);
    binning(x - lx, y - ly);
    const int L = _analyt;
    for (int i = -L; i <= L; ++i)
        for (int j = -L; j <= L; ++j) {
            if (!(L * (L - 1) > i * i + j * j))
                continue;
            const long px = lx + i, py = ly + j;
            if (!psf_index::inside(image, px, py))
                continue;
            image(px, py) += static_cast<float>(_binned_psf(i, j) * flux);
        }
}
