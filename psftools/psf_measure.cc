#include <cmath>
#include <iostream>
#include <utility>
#include <vector>

#include "dornel/conversions.h"
#include "psftools/fit_models.h"
#include "psftools/psf.h"
#include "psftools/psf_chi.h"
#include "psftools/psf_index.h"
#include "psftools/psf_io.h"

using orv::MArray;
using orv::Range;

namespace {

// The Gaussian of the position fit has seven parameters; fewer cells cannot
// fix them.
constexpr int kGaussParameters = 7;

// A chi of the local map that the fit can use: not a failure, not NaN.
bool fitted(double chi)
{
    return chi >= 0 && chi < psf_chi::kFailed;
}

// Pixel x lies more than `low` pixels from the first pixel of dimension d of
// the image and more than `high` from its last.
bool wellInside(const MArray<float, 2> &image, int d, long x, long low, long high)
{
    const long first = image.firstIndex(d), last = first + image.length(d) - 1;
    return x > first + low && x < last - high;
}

} // namespace

int psf::measure_pos(const MArray<float, 2> &image, const MArray<float, 2> &error, double &x,
                     double &y, double &flux, double &flux_error, double radius, int n, int number,
                     int verbose) const
{
    const long ix = std::lrint(x), iy = std::lrint(y);
    const long low = _analyt + 2L, high = _analyt + 1L;
    if (_subpixel < 1 || !wellInside(image, 1, ix, low, high) ||
        !wellInside(image, 2, iy, low, high))
        return 1;
    MArray<double, 2> C, F, E;
    mapping(image, error, x, y, C, F, E, n, n, radius, 1);
    if (verbose > 2) {
        psf_io::writeImage(C, "nchi_" + int2str(number, 5) + ".fits");
        psf_io::writeImage(F, "flux_" + int2str(number, 5) + ".fits");
    }
    // The lowest cell, the first of equal ones.
    long mx, my;
    double lowest;
    if (!psf_chi::lowestCell(C, {C.firstIndex(1), C.lastIndex(1)},
                             {C.firstIndex(2), C.lastIndex(2)}, mx, my, lowest))
        return 1;
    // The cells around it that hold a chi, as points of the Gaussian fit.
    const int P = n / 2;
    const double Q = P * (P + 1.0);
    std::vector<std::pair<long, long>> cells;
    double hi = -1e100, lo = 1e100;
    for (long k = C.firstIndex(1); k <= C.lastIndex(1); ++k)
        for (long l = C.firstIndex(2); l <= C.lastIndex(2); ++l) {
            const double dk = k - mx, dl = l - my, c = C(k, l);
            if (!(Q > dl * dl + dk * dk) || !fitted(c))
                continue;
            cells.emplace_back(k, l);
            if (c != 0) {
                hi = std::max(hi, c);
                lo = std::min(lo, c);
            }
        }
    if (cells.size() < static_cast<std::size_t>(kGaussParameters))
        return 1;
    const int np = static_cast<int>(cells.size());
    MArray<double, 1> px(np), py(np), pz(np), ps(np), a(kGaussParameters);
    MArray<int, 1> ia(kGaussParameters);
    for (int i = 1; i <= np; ++i) {
        px(i) = cells[i - 1].first;
        py(i) = cells[i - 1].second;
        pz(i) = C(cells[i - 1].first, cells[i - 1].second);
        ps(i) = 1;
    }
    // A dip below the level of the largest value, falling to half depth one
    // cell from the centre, hardly turned.
    a(1) = hi;
    a(2) = lo - hi;
    a(3) = 0.6931471805599453;
    a(4) = 0.44317102453383117;
    a(5) = mx;
    a(6) = my;
    a(7) = 1.7453292519943296e-4;
    ia = 1;
    Class_gauss_fit fit(px, py, pz, ps, a, ia);
    fit.maxiter = 1000;
    // A failed fit keeps its start or last values, which place no minimum;
    // a fitted depth that cancels the level has none either.
    if (fit.calc() < 0 || fit.a(1) + fit.a(2) == 0)
        return 1;
    const double step = 1.0 / _subpixel;
    const double xn = ix + fit.a(5) * step, yn = iy + fit.a(6) * step;
    // NaN fails the distance test as well.
    if (!(std::sqrt((xn - x) * (xn - x) + (yn - y) * (yn - y)) <= 0.75 * n / _subpixel))
        return 1;
    const long kx = std::lrint(fit.a(5)), ky = std::lrint(fit.a(6));
    if (!psf_index::inside(F, kx, ky))
        return 1;
    x = xn;
    y = yn;
    flux = F(kx, ky);
    flux_error = E(kx, ky);
    return 0;
}

int psf::measure_pos(const MArray<float, 2> &image, const MArray<float, 2> &error, double &x,
                     double &y, double radius, int n, int number, int verbose) const
{
    double flux, flux_error;
    return measure_pos(image, error, x, y, flux, flux_error, radius, n, number, verbose);
}

int psf::measure_pos(const MArray<float, 2> &image, const MArray<float, 2> &error,
                     MArray<double, 1> &x, MArray<double, 1> &y, MArray<double, 1> &flux,
                     MArray<double, 1> &flux_error, double radius, int n, int verbose) const
{
    const psf_index::Span stars = psf_index::items(x, y, flux, flux_error);
    for (int i = stars.lo; i <= stars.hi; ++i)
        measure_pos(image, error, x(i), y(i), flux(i), flux_error(i), radius, n, i, verbose);
    return 0;
}

int psf::measure_pos(const MArray<float, 2> &image, const MArray<float, 2> &error,
                     MArray<double, 1> &x, MArray<double, 1> &y, double radius, int n,
                     int verbose) const
{
    MArray<double, 1> flux(x.shape()), flux_error(x.shape());
    if (x.elementCount() > 0) {
        flux = 0.0;
        flux_error = 0.0;
    }
    return measure_pos(image, error, x, y, flux, flux_error, radius, n, verbose);
}

void psf::measure_flux(MArray<float, 2> image, MArray<float, 2> error, double x, double y,
                       double radius, double &flux, double &flux_error, double &nchi, int number,
                       int verbose)
{
    // The toolbox's flags of an unmeasurable star.
    flux = 0;
    flux_error = -1;
    nchi = psf_chi::kFailed;
    // A circle whose radius is not finite names no set of pixels.
    if (!std::isfinite(radius))
        return;
    const long ix = std::lrint(x), iy = std::lrint(y);
    const long margin = _boxlen + 1L;
    if (!wellInside(image, 1, ix, margin, margin) || !wellInside(image, 2, iy, margin, margin))
        return;
    const double dx = x - ix, dy = y - iy;
    binning(dx, dy);
    if (verbose > 3) {
        const std::string num = int2str(number, 5);
        write_binned_psf("shifted_psf_" + num + ".fits");
        const int B = std::max(0, _boxlen);
        MArray<float, 2> stamp{Range(-B, B), Range(-B, B)};
        stamp = 0.0f;
        for (int a = -B; a <= B; ++a)
            for (int b = -B; b <= B; ++b)
                if (psf_index::inside(image, ix + a, iy + b))
                    stamp(a, b) = image(ix + a, iy + b);
        psf_io::writeImage(stamp, "object_psf_" + num + ".fits");
    }
    MArray<double, 2> e2(_ebinned_psf.shape());
    if (e2.elementCount() > 0)
        e2 = _ebinned_psf * _ebinned_psf;
    psf_chi::AmplitudeFit fit(radius, _boxlen);
    const psf_chi::Pixels pixels(image, error, ix, iy, fit.block());
    psf_chi::Result r;
    const psf_chi::SinglePlane plane(_binned_psf, e2);
    // A circle that holds no usable pixel (a radius below about 0.71) fits
    // nothing: its 0/0 amplitude and chi of −0 would read as a perfect fit.
    if (!fit.fit(plane.plane(), pixels, ix, iy, dx, dy, r) || fit.pixels() == 0)
        return;
    flux = r.amplitude;
    flux_error = r.amplitude_error;
    // One fit pixel leaves no degree of freedom for the chi: +∞, also where
    // the amplitude fits that pixel exactly (0/0).
    nchi = fit.pixels() == 1 ? HUGE_VAL : r.nchi;
}

namespace {

// Sets idx(k) = k over the indices of v, moves the marked entries to the
// end and sorts the others by increasing value.
template <class Marked>
void sortIndices(const MArray<double, 1> &v, MArray<int, 1> &idx, Marked marked, const char *who)
{
    const int f = v.firstIndex(1), t = v.lastIndex(1);
    if (v.elementCount() == 0) {
        std::cout << "error: " << who << " on an empty list" << std::endl;
        return;
    }
    if (idx.firstIndex(1) > f || idx.lastIndex(1) < t) {
        std::cout << "error: " << who << ": the index list does not cover the values" << std::endl;
        return;
    }
    for (int k = f; k <= t; ++k)
        idx(k) = k;
    int k = f, end = t + 1, u;
    for (;;) {
        if (marked(idx(k))) {
            --end;
            std::swap(idx(k), idx(end));
            if (k >= end) {
                u = k - 1;
                break;
            }
        } else {
            if (k + 1 >= end) {
                u = k;
                break;
            }
            ++k;
        }
    }
    for (int i = f; i < u; ++i)
        for (int l = i + 1; l <= u; ++l)
            if (v(idx(i)) > v(idx(l)))
                std::swap(idx(i), idx(l));
}

} // namespace

void sortpos(MArray<double, 1> &v, MArray<int, 1> &idx, double marker)
{
    sortIndices(
        v, idx, [&](int i) { return v(i) == marker; }, "sortpos");
}

void sortpos_marker(const MArray<double, 1> &v, const MArray<int, 1> &marks, MArray<int, 1> &idx)
{
    if (v.elementCount() > 0 &&
        (marks.firstIndex(1) > v.firstIndex(1) || marks.lastIndex(1) < v.lastIndex(1))) {
        std::cout << "error: sortpos_marker: the marks do not cover the values" << std::endl;
        return;
    }
    sortIndices(
        v, idx, [&](int i) { return marks(i) < 0; }, "sortpos_marker");
}
