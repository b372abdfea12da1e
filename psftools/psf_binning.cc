#include <cmath>
#include <iostream>

#include "psftools/psf.h"
#include "psftools/psf_index.h"

using orv::MArray;
using orv::Range;

namespace {

// Rounds a shift in sub-grid steps: halves go up. Shifts far beyond any
// sub-grid are held to a bound at which every sample lies outside.
long roundShift(double v)
{
    const double w = v + 0.5;
    if (!(std::fabs(w) < 1e9))
        return w > 0 ? 1000000000L : -1000000000L;
    return w >= 0 ? static_cast<long>(w) : static_cast<long>(w - 1);
}

} // namespace

void psf::binning(double dx, double dy)
{
    const int L = _analyt;
    // The binned pair covers −_analyt.._analyt: a psf made without sizes, or
    // one whose _analyt was set later, gets arrays of that shape here.
    for (MArray<double, 2> *b : {&_binned_psf, &_ebinned_psf}) {
        if (L >= 0 && !(b->firstIndex(1) == -L && b->lastIndex(1) == L && b->firstIndex(2) == -L &&
                        b->lastIndex(2) == L))
            b->makeReference(psf_index::zeroSquare(L));
        psf_index::zero(*b);
    }
    const int g = _subgrid;
    const int h = g / 2;
    const long o = roundShift(dx * g);
    const long m = roundShift(dy * g);
    // Samples exist where both sub-grid arrays have them.
    const psf_index::Span kx = psf_index::common(_psf, 1, _epsf, 1);
    const psf_index::Span ky = psf_index::common(_psf, 2, _epsf, 2);
    for (int i = -L; i <= L; ++i)
        for (int j = -L; j <= L; ++j) {
            const long k0 = static_cast<long>(g) * i - o, l0 = static_cast<long>(g) * j - m;
            // A pixel reaching outside the sub-grid is unusable as a whole.
            if (k0 - h < kx.lo || k0 + h > kx.hi || l0 - h < ky.lo || l0 + h > ky.hi)
                continue;
            double sum = 0, var = 0;
            bool usable = true;
            for (long k = k0 - h; k <= k0 + h && usable; ++k)
                for (long l = l0 - h; l <= l0 + h; ++l) {
                    const double v = _psf(k, l), e = _epsf(k, l);
                    if (v == 0 || !(e > 0)) {
                        usable = false;
                        break;
                    }
                    sum += v;
                    var += e * e;
                }
            if (!usable)
                continue;
            _binned_psf(i, j) = sum;
            _ebinned_psf(i, j) = std::sqrt(var);
        }
}

void psf::calc_base(int n, int)
{
    if (n < 1) {
        // No shift at all: the tables would have no valid index range.
        std::cout << "error: the subpixel value must be at least 1!" << std::endl << std::endl;
        return;
    }
    // The setters may leave sizes that make no tables: without a sub-grid
    // point per pixel every pixel would take the same sample, and a negative
    // _analyt gives no pixel range.
    if (_subgrid < 1) {
        std::cout << "error: the subgrid value must be at least 1!" << std::endl << std::endl;
        return;
    }
    if (_analyt < 0) {
        std::cout << "error: the analyt value must be at least 0!" << std::endl << std::endl;
        return;
    }
    if (n % 2 == 0)
        std::cout << "error: please use an odd subpixel value!" << std::endl << std::endl;
    _subpixel = n;
    const int s = n / 2, L = _analyt;
    MArray<double, 4> t{Range(-s, s), Range(-s, s), Range(-L, L), Range(-L, L)};
    MArray<double, 4> e(t.shape()), e2(t.shape());
    t = 0.0;
    e = 0.0;
    e2 = 0.0;
    _all_binned_psf.makeReference(t);
    _all_ebinned_psf.makeReference(e);
    _all_e2binned_psf.makeReference(e2);
    if (_subpixel >= _subgrid)
        std::cerr << " _subpixel >= _subgrid !!!!!" << std::endl;
    const double q = 1.0 / n;
    for (int sx = -s; sx <= s; ++sx)
        for (int sy = -s; sy <= s; ++sy) {
            binning(sx * q, sy * q);
            for (int i = -L; i <= L; ++i)
                for (int j = -L; j <= L; ++j) {
                    const double eb = _ebinned_psf(i, j);
                    t(sx, sy, i, j) = _binned_psf(i, j);
                    e(sx, sy, i, j) = eb;
                    e2(sx, sy, i, j) = eb * eb;
                }
        }
}
