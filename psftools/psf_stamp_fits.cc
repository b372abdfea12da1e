#include <cmath>
#include <iostream>
#include <utility>

#include "psftools/fit_models.h"
#include "psftools/printF.h"
#include "psftools/psf.h"
#include "psftools/psf_index.h"

using orv::MArray;

namespace {

constexpr double kFitIt = 12345; // a background or slope to be fitted
constexpr double kPi = 3.141592653589793;

// A pixel the fits can use: a value that is not 0 (blank) and finite, an
// error above 0.
template <class T>
bool usable(T value, T error)
{
    return value != 0 && std::isfinite(value) && error > 0;
}

// The usable pixels inside the fitting circle around (x, y), as the fitter's
// points, in scan order (first index outer). P is the precision of the
// position and the circle.
struct Points {
    MArray<double, 1> x, y, z, s;
    int n = 0;
};

template <class T, class P>
Points circle(const MArray<T, 2> &stamp, const MArray<T, 2> &err, P x, P y, bool strict)
{
    const P R = static_cast<P>((stamp.length(1) - 1) * 0.5);
    const P RR = (R + 1) * R;
    const psf_index::Span is = psf_index::common(stamp, 1, err, 1),
                          js = psf_index::common(stamp, 2, err, 2);
    const auto in = [&](int i, int j) {
        if (!usable(stamp(i, j), err(i, j)))
            return false;
        const double di = static_cast<P>(i) - x, dj = static_cast<P>(j) - y;
        const double d2 = di * di + dj * dj;
        return strict ? RR > d2 : RR >= d2;
    };
    Points p;
    for (int i = is.lo; i <= is.hi; ++i)
        for (int j = js.lo; j <= js.hi; ++j)
            p.n += in(i, j);
    p.x.makeReference(MArray<double, 1>(p.n));
    p.y.makeReference(MArray<double, 1>(p.n));
    p.z.makeReference(MArray<double, 1>(p.n));
    p.s.makeReference(MArray<double, 1>(p.n));
    int k = 0;
    for (int i = is.lo; i <= is.hi; ++i)
        for (int j = js.lo; j <= js.hi; ++j)
            if (in(i, j)) {
                ++k;
                p.x(k) = i;
                p.y(k) = j;
                p.z(k) = stamp(i, j);
                p.s(k) = err(i, j);
            }
    return p;
}

// Smallest and largest usable value, and where the first largest is.
struct Extremes {
    double vmin = 1e100, vmax = -1e100;
    int imax = 0, jmax = 0;
    void see(double v, int i, int j)
    {
        if (v < vmin)
            vmin = v;
        if (v > vmax) {
            vmax = v;
            imax = i;
            jmax = j;
        }
    }
};

template <class T>
bool usableAt(const MArray<T, 2> &stamp, const MArray<T, 2> &err, long i, long j)
{
    return psf_index::inside(stamp, i, j) && psf_index::inside(err, i, j) &&
           usable(stamp(i, j), err(i, j));
}

void printBlocks(marquardt &m)
{
    m.print_title();
    m.print_a();
    m.print_ia();
    m.print_sa();
}

// What a Moffat stamp fit gives its three front ends.
struct MoffatFit {
    int status;
    double a[11]; // slots 1..10
    double rms_dof;
};

// The Moffat fit, with x and y already replaced by their offsets from
// (x0, y0); P the precision of the position and the circle.
template <class T, class P>
MoffatFit moffat(const MArray<T, 2> &stamp, const MArray<T, 2> &err, double background,
                 double slope_x, double slope_y, double beta_low, double beta_high, double fwhm_low,
                 double fwhm_high, P x, P y, long x0, long y0, int verbose)
{
    MoffatFit r;
    const Points pts = circle(stamp, err, x, y, false);
    r.status = stamp.length(1) >= 1 && pts.n >= 10 ? 0 : -2;

    Extremes ex;
    const psf_index::Span is = psf_index::common(stamp, 1, err, 1),
                          js = psf_index::common(stamp, 2, err, 2);
    for (int i = is.lo; i <= is.hi; ++i)
        for (int j = js.lo; j <= js.hi; ++j)
            if (usable(stamp(i, j), err(i, j)))
                ex.see(stamp(i, j), i, j);

    MArray<double, 1> a(10);
    MArray<int, 1> ia(10);
    ia = 1;
    a(1) = ex.vmin;
    a(2) = ex.vmax - ex.vmin;
    a(3) = 1.1305 / ((fwhm_low + fwhm_high) * 0.5);
    a(4) = a(3) + 0.1;
    a(5) = ex.imax;
    a(6) = ex.jmax;
    a(7) = 10;
    a(8) = 3;
    a(9) = 0.01;
    a(10) = 0.01;
    // A background to be fitted starts at the stamp's minimum.
    if (background != kFitIt) {
        a(1) = background;
        ia(1) = 0;
    }
    if (slope_x != kFitIt) {
        a(9) = slope_x;
        ia(9) = 0;
    }
    if (slope_y != kFitIt) {
        a(10) = slope_y;
        ia(10) = 0;
    }
    if (beta_low == beta_high) {
        a(8) = beta_low;
        ia(8) = 0;
    }

    Class_moffat_fit fit(pts.x, pts.y, pts.z, pts.s, a, ia);
    if (verbose > 3)
        printBlocks(fit);
    fit.maxiter = 1000;
    // calc keeps the start or fitted values when it fails; they are no fit.
    const bool failed = fit.calc() == -1;
    const int iterations = fit.iterations;
    if (verbose > 3)
        printBlocks(fit);
    double *s = r.a;
    double sa[11];
    for (int k = 1; k <= 10; ++k) {
        s[k] = fit.a(k);
        sa[k] = fit.sa(k);
    }

    // Normal form: positive inverse widths, angle in [−π/4, π/4].
    s[3] = std::fabs(s[3]);
    s[4] = std::fabs(s[4]);
    s[7] = std::fmod(std::fmod(s[7], kPi) + kPi, kPi);
    if (0.7853981633974483 < s[7] && s[7] < 2.356194490192345) {
        std::swap(s[3], s[4]);
        std::swap(sa[3], sa[4]);
        s[7] -= 1.5707963267948966;
    } else if (s[7] >= 2.356194490192345) {
        s[7] -= kPi;
    }
    r.rms_dof = fit.rms_dof;

    const double k = 2 * std::sqrt(std::pow(2.0, 1.0 / s[8]) - 1);
    const double w1 = k / s[3], w2 = k / s[4];
    if (failed)
        r.status = -3;
    else if (fwhm_low > w1 || fwhm_low > w2 || w1 > fwhm_high || w2 > fwhm_high)
        r.status = -3;
    else if (s[8] < beta_low || s[8] > beta_high)
        r.status = -4;
    else if (s[5] < stamp.firstIndex(1) || s[5] > stamp.lastIndex(1) ||
             s[6] < stamp.firstIndex(2) || s[6] > stamp.lastIndex(2))
        r.status = -5;
    // The pixel that owns the centre: pixel centres are whole indices.
    else if (usableAt(stamp, err, std::lrint(std::floor(s[5] + 0.5)),
                      std::lrint(std::floor(s[6] + 0.5))) &&
             sa[2] > std::fabs(s[2]))
        r.status = -6;

    if (verbose > 2) {
        std::cout.unsetf(std::ios::scientific);
        std::cout.setf(std::ios::fixed);
        const double row[13] = {r.rms_dof,
                                double(iterations),
                                double(pts.n),
                                s[1] + s[5] * s[9] + s[6] * s[10],
                                s[9],
                                s[10],
                                s[2],
                                x0 + s[5],
                                y0 + s[6],
                                w1,
                                w2,
                                s[7] * 180 / kPi,
                                s[8]};
        for (int c = 0; c < 13; ++c)
            printF{12, c == 1 || c == 2 ? 0 : 2, row[c], 1}(std::cout);
        std::cout << "\n";
    }
    return r;
}

// The front ends of the Moffat fit: x and y become their offsets at once, the
// results go out in the caller's precision P only on success.
template <class T, class P>
int moffatInto(const MArray<T, 2> &stamp, const MArray<T, 2> &estamp, P &background, P &slope_x,
               P &slope_y, P beta_low, P beta_high, P fwhm_low, double fwhm_high, P &x, P &y,
               P &amplitude, P &p, P &q, P &angle, P &beta, P &rms_dof, int verbose)
{
    const long x0 = std::lrint(x), y0 = std::lrint(y);
    x -= x0;
    y -= y0;
    const MoffatFit r = moffat<T, P>(stamp, estamp, background, slope_x, slope_y, beta_low,
                                     beta_high, fwhm_low, fwhm_high, x, y, x0, y0, verbose);
    rms_dof = static_cast<P>(r.rms_dof);
    if (r.status != 0)
        return r.status;
    background = static_cast<P>(r.a[1]);
    slope_x = static_cast<P>(r.a[9]);
    slope_y = static_cast<P>(r.a[10]);
    x = static_cast<P>(r.a[5]);
    y = static_cast<P>(r.a[6]);
    amplitude = static_cast<P>(r.a[2]);
    p = static_cast<P>(r.a[3]);
    q = static_cast<P>(r.a[4]);
    angle = static_cast<P>(r.a[7]);
    beta = static_cast<P>(r.a[8]);
    return 0;
}

} // namespace

template <class T>
int psf::fmoffat(const MArray<T, 2> &stamp, const MArray<T, 2> &estamp, double &background,
                 double &slope_x, double &slope_y, double beta_low, double beta_high,
                 double fwhm_low, double fwhm_high, double &x, double &y, double &amplitude,
                 double &p, double &q, double &angle, double &beta, double &rms_dof, int verbose)
{
    return moffatInto(stamp, estamp, background, slope_x, slope_y, beta_low, beta_high, fwhm_low,
                      fwhm_high, x, y, amplitude, p, q, angle, beta, rms_dof, verbose);
}

template int psf::fmoffat<float>(const MArray<float, 2> &, const MArray<float, 2> &, double &,
                                 double &, double &, double, double, double, double, double &,
                                 double &, double &, double &, double &, double &, double &,
                                 double &, int);
template int psf::fmoffat<double>(const MArray<double, 2> &, const MArray<double, 2> &, double &,
                                  double &, double &, double, double, double, double, double &,
                                  double &, double &, double &, double &, double &, double &,
                                  double &, int);

int fmoffat(const MArray<float, 2> &stamp, const MArray<float, 2> &estamp, float &background,
            float &slope_x, float &slope_y, float beta_low, float beta_high, float fwhm_low,
            double fwhm_high, float &x, float &y, float &amplitude, float &p, float &q,
            float &angle, float &beta, float &rms_dof, int verbose)
{
    return moffatInto(stamp, estamp, background, slope_x, slope_y, beta_low, beta_high, fwhm_low,
                      fwhm_high, x, y, amplitude, p, q, angle, beta, rms_dof, verbose);
}

template <class T>
int psf::fgauss(const MArray<T, 2> &stamp, const MArray<T, 2> &estamp, double &x, double &y,
                double &amplitude, double background, int verbose)
{
    const long x0 = std::lrint(x), y0 = std::lrint(y);
    x -= x0;
    y -= y0;
    const Points pts = circle(stamp, estamp, x, y, true);
    int status = stamp.length(1) >= 1 && pts.n >= 10 ? 0 : -1;

    Extremes ex;
    for (int k = 1; k <= pts.n; ++k)
        ex.see(pts.z(k), static_cast<int>(pts.x(k)), static_cast<int>(pts.y(k)));

    MArray<double, 1> a(7);
    MArray<int, 1> ia(7);
    ia = 1;
    a(1) = ex.vmin;
    a(2) = ex.vmax - ex.vmin;
    a(3) = 0.6931471805599453;
    a(4) = 0.44317102453383117;
    a(5) = ex.imax;
    a(6) = ex.jmax;
    a(7) = 0.00017453292519943296;
    if (background != kFitIt) {
        a(1) = background;
        ia(1) = 0;
    }
    Class_gauss_fit fit(pts.x, pts.y, pts.z, pts.s, a, ia);
    fit.maxiter = 1000;
    // calc keeps the start or fitted values when it fails; they are no fit.
    if (fit.calc() == -1)
        status = -1;
    if (verbose > 3)
        printBlocks(fit);
    // Without a fit there is nothing to report: the start values of an
    // empty stamp would read as an amplitude of −2e100.
    if (status != 0)
        return status;
    amplitude = fit.a(2);
    x = fit.a(5);
    y = fit.a(6);
    return 0;
}

template int psf::fgauss<double>(const MArray<double, 2> &, const MArray<double, 2> &, double &,
                                 double &, double &, double, int);
