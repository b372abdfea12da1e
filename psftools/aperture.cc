#include "psftools/aperture.h"

#include <cmath>
#include <iomanip>
#include <iostream>

#include "psftools/psf_index.h"

using orv::MArray;

namespace {

// A star's nearest pixel and its offset from it.
struct Centre {
    long lx, ly;
    double fx, fy;
    Centre(double x, double y) : lx(std::lrint(x)), ly(std::lrint(y)), fx(x - lx), fy(y - ly) {}
    double d2(int k, int l) const { return (k - fx) * (k - fx) + (l - fy) * (l - fy); }
};

// The star is at least r from the image edge.
bool awayFromEdge(const MArray<float, 2> &image, const Centre &c, double r)
{
    const double bx = image.firstIndex(1), nx = image.length(1);
    const double by = image.firstIndex(2), ny = image.length(2);
    return bx + r < c.lx && c.lx < bx + nx - r && by + r < c.ly && c.ly < by + ny - r;
}

// Half-size of the square of offsets that holds a circle of radius r.
int halfSize(double r)
{
    return static_cast<int>(1 + r) + 2;
}

struct Sum {
    double flux = 0;
    double variance = 0;
    int n = 0;
    bool bad = false;
};

// Adds up the aperture of radius r; the first pixel that is outside the
// image, blank, not finite or without a positive error spoils the whole
// measurement.
Sum sumAperture(const MArray<float, 2> &image, const MArray<float, 2> &error, const Centre &c,
                double r, double blank)
{
    const int R = halfSize(r);
    Sum s;
    for (int l = -R; l <= R && !s.bad; ++l)
        for (int k = -R; k <= R && !s.bad; ++k) {
            if (!(r * r > c.d2(k, l)))
                continue;
            const long px = c.lx + k, py = c.ly + l;
            if (!psf_index::inside(image, px, py) || !psf_index::inside(error, px, py)) {
                s.bad = true;
                continue;
            }
            const double v = image(px, py);
            const double e = error(px, py);
            if (v == blank || !std::isfinite(v) || !(e > 0)) {
                s.bad = true;
                continue;
            }
            s.flux += v;
            s.variance += e * e;
            ++s.n;
        }
    return s;
}

void flag(double &flux, double &flux_error)
{
    flux = 0;
    flux_error = -1;
}

// The sky-subtracted flux; its error is that of the sum of the pixels.
void finish(const Sum &s, double sky, double &flux, double &flux_error)
{
    if (s.bad)
        return flag(flux, flux_error);
    flux = s.flux - s.n * sky;
    flux_error = std::sqrt(s.variance);
}

} // namespace

void aperture(MArray<float, 2> image, MArray<float, 2> error, double x, double y, double &flux,
              double &flux_error, double r, double sky, double blank, int verbose)
{
    const Centre c(x, y);
    if (!awayFromEdge(image, c, r))
        return flag(flux, flux_error);
    const Sum s = sumAperture(image, error, c, r, blank);
    if (verbose > 1)
        std::cout << "sky flux per pixel: " << std::setw(9) << sky
                  << " number of pixel in object aperture: " << std::setw(5) << s.n << std::endl;
    finish(s, sky, flux, flux_error);
}

void aperture_sky(MArray<float, 2> image, MArray<float, 2> error, double x, double y, double &flux,
                  double &flux_error, double r, double r_in, double r_out, double blank,
                  int verbose)
{
    const Centre c(x, y);
    if (!awayFromEdge(image, c, r))
        return flag(flux, flux_error);
    // Annulus pixels outside the image are left out like unusable ones, so
    // the square searched need not reach beyond it: an outer radius far
    // larger than the image would overflow the square's int size.
    const int R =
        halfSize(std::fmin(r_out, static_cast<double>(image.length(1)) + image.length(2)));
    const auto sky_pixel = [&](int k, int l) {
        const double d2 = c.d2(k, l);
        const long px = c.lx + k, py = c.ly + l;
        return r_out * r_out > d2 && d2 >= r_in * r_in && psf_index::inside(image, px, py) &&
               psf_index::inside(error, px, py) && static_cast<double>(image(px, py)) != blank &&
               std::isfinite(image(px, py)) && error(px, py) > 0;
    };
    int m = 0;
    for (int l = -R; l <= R; ++l)
        for (int k = -R; k <= R; ++k)
            m += sky_pixel(k, l);
    if (m == 0)
        return flag(flux, flux_error);
    MArray<double, 1> values(m);
    int i = 0;
    for (int l = -R; l <= R; ++l)
        for (int k = -R; k <= R; ++k)
            if (sky_pixel(k, l))
                values(++i) = image(c.lx + k, c.ly + l);
    const double sky = orv::median_exact(values);
    const Sum s = sumAperture(image, error, c, r, blank);
    if (verbose > 1)
        std::cout << "sky flux per pixel: " << std::setw(9) << sky
                  << " number of pixel in object aperture: " << std::setw(5) << s.n << " "
                  << " number of pixel in sky aperture: " << std::setw(5) << m << std::endl;
    finish(s, sky, flux, flux_error);
}

MArray<int, 1> span(int a, int b, int n)
{
    MArray<int, 1> s(n < 1 ? 0 : n);
    if (n < 1)
        return s;
    const float step = static_cast<float>((b - a) / (n - 1.0));
    s(1) = a;
    for (int k = 2; k <= n - 1; ++k)
        s(k) = static_cast<int>((k - 1) * static_cast<double>(step) + a);
    s(n) = b;
    return s;
}

MArray<double, 1> span(double a, double b, int n)
{
    MArray<double, 1> s(n < 1 ? 0 : n);
    if (n < 1)
        return s;
    s(1) = a;
    for (int k = 2; k <= n - 1; ++k)
        s(k) = (b - a) / (n - 1) * (k - 1) + a;
    s(n) = b;
    return s;
}
