#include "psftools/psf_chi.h"

#include <algorithm>

#include "psftools/psf.h"

using orv::MArray;

namespace psf_chi {

Plane plane(const MArray<double, 2>& p, const MArray<double, 2>& e2) {
    Plane q;
    q.a = psf_index::common(p, 1, e2, 1);
    q.b = psf_index::common(p, 2, e2, 2);
    if (q.a.lo > 0 || q.a.hi < 0 || q.b.lo > 0 || q.b.hi < 0) return Plane();
    q.p = &p(0, 0);
    q.e2 = &e2(0, 0);
    q.pa = p.stride(1);
    q.pb = p.stride(2);
    q.ea = e2.stride(1);
    q.eb = e2.stride(2);
    return q;
}

ShiftTables::ShiftTables(const MArray<double, 4>& values, const MArray<double, 4>& errors2, int subpixel)
    : values_(values),
      errors2_(errors2),
      subpixel_(subpixel),
      sx_(psf_index::common(values, 1, errors2, 1)),
      sy_(psf_index::common(values, 2, errors2, 2)),
      a_(psf_index::common(values, 3, errors2, 3)),
      b_(psf_index::common(values, 4, errors2, 4)) {
    ok_ = values.elementCount() > 0 && errors2.elementCount() > 0 && sx_.lo <= sx_.hi && sy_.lo <= sy_.hi &&
          a_.lo <= 0 && a_.hi >= 0 && b_.lo <= 0 && b_.hi >= 0;
}

Plane ShiftTables::plane(int sx, int sy) const {
    Plane q;
    if (!ok_) return q;
    q.p = &values_(sx, sy, 0, 0);
    q.e2 = &errors2_(sx, sy, 0, 0);
    q.pa = values_.stride(3);
    q.pb = values_.stride(4);
    q.ea = errors2_.stride(3);
    q.eb = errors2_.stride(4);
    q.a = a_;
    q.b = b_;
    return q;
}

AmplitudeFit::AmplitudeFit(const MArray<float, 2>& image, const MArray<float, 2>& error, double radius, int reach)
    : img_(image.dataFirst()),
      err_(error.dataFirst()),
      is1_(image.stride(1)),
      is2_(image.stride(2)),
      es1_(error.stride(1)),
      es2_(error.stride(2)),
      ib1_(image.firstIndex(1)),
      ib2_(image.firstIndex(2)),
      eb1_(error.firstIndex(1)),
      eb2_(error.firstIndex(2)),
      x_(psf_index::common(image, 1, error, 1)),
      y_(psf_index::common(image, 2, error, 2)),
      r2_(radius * radius) {
    // The integer part of |radius| + 0.5, no farther than the reach.
    const double whole = std::trunc(std::fabs(radius) + 0.5);
    R_ = std::max(0, whole < reach ? static_cast<int>(whole) : reach);
    if (image.elementCount() == 0 || error.elementCount() == 0) x_ = {0, -1};
    const std::size_t side = 2 * static_cast<std::size_t>(R_) + 1;
    terms_.resize(side * side);
}

bool AmplitudeFit::fit(const Plane& q, long ix, long iy, double dx, double dy, Result& r) {
    if (ix < x_.lo || ix > x_.hi || iy < y_.lo || iy > y_.hi || !q.holds(0, 0)) return false;
    if (q.value(0, 0) == 0 || !(err_[(ix - eb1_) * es1_ + (iy - eb2_) * es2_] > 0)) return false;
    // The block: the circle's, within the plane and both images.
    const long alo = std::max<long>({-R_, q.a.lo, x_.lo - ix}), ahi = std::min<long>({R_, q.a.hi, x_.hi - ix});
    const long blo = std::max<long>({-R_, q.b.lo, y_.lo - iy}), bhi = std::min<long>({R_, q.b.hi, y_.hi - iy});
    Term* t = terms_.data();
    double spp = 0, sip = 0;
    for (long a = alo; a <= ahi; ++a) {
        const double da = a - dx;
        const float* im = img_ + (ix + a - ib1_) * is1_ + (iy - ib2_) * is2_;
        const float* er = err_ + (ix + a - eb1_) * es1_ + (iy - eb2_) * es2_;
        for (long b = blo; b <= bhi; ++b) {
            const double db = b - dy;
            if (!(da * da + db * db < r2_)) continue;
            const double p = q.value(a, b);
            if (p == 0) continue;
            const double e = er[b * es2_];
            if (!(e > 0)) continue;
            const double v = im[b * is2_];
            const double e2 = e * e;
            spp += p * p / e2;
            sip += v * p / e2;
            *t++ = {p, v, e2, q.error2(a, b)};
        }
    }
    const double A = sip / spp;
    double chi2 = 0;
    for (const Term* u = terms_.data(); u != t; ++u) {
        const double d = A * u->p - u->v;
        chi2 += d * d / (u->e2 + A * A * u->m2);
    }
    const long n = t - terms_.data();
    r.amplitude = A;
    r.amplitude_error = std::sqrt(1 / spp);
    r.nchi = std::sqrt(chi2 / static_cast<double>(n - 1));
    return true;
}

}  // namespace psf_chi

double psf::nchi_calc(const MArray<float, 2>& image, const MArray<float, 2>& error, double x, double y,
                      double& amplitude, double& amplitude_error, double radius, int) const {
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel);
    psf_chi::AmplitudeFit fit(image, error, radius, _analyt);
    const long ix = std::lrint(x), iy = std::lrint(y);
    const double dx = x - ix, dy = y - iy;
    psf_chi::Result r;
    if (!tables.ok() || !fit.fit(tables.plane(tables.shiftX(dx), tables.shiftY(dy)), ix, iy, dx, dy, r)) {
        amplitude = 0;
        amplitude_error = psf_chi::kFailed;
        return psf_chi::kFailed;
    }
    amplitude = r.amplitude;
    amplitude_error = r.amplitude_error;
    return r.nchi;
}

double psf::nchi_calc(const MArray<float, 2>& image, const MArray<float, 2>& error, double x, double y,
                      double& amplitude, double radius, int verbose) const {
    double amplitude_error;
    return nchi_calc(image, error, x, y, amplitude, amplitude_error, radius, verbose);
}

double psf::nchi_calc(const MArray<float, 2>& image, const MArray<float, 2>& error, double x, double y,
                      double radius, int verbose) const {
    double amplitude, amplitude_error;
    return nchi_calc(image, error, x, y, amplitude, amplitude_error, radius, verbose);
}

double psf::nchi_calc_fast(const MArray<float, 2>& image, const MArray<float, 2>& error, double x, double y,
                           double& amplitude, double radius) const {
    const psf_chi::ShiftTables tables(_all_binned_psf, _all_e2binned_psf, _subpixel);
    psf_chi::AmplitudeFit fit(image, error, radius, _analyt);
    const long ix = std::lrint(x), iy = std::lrint(y);
    const double dx = x - ix, dy = y - iy;
    psf_chi::Result r;
    // A failure must not read as a perfect fit (0).
    if (!tables.ok() || !fit.fit(tables.plane(tables.shiftX(dx), tables.shiftY(dy)), ix, iy, dx, dy, r))
        return psf_chi::kFailed;
    amplitude = r.amplitude;
    return r.nchi;
}
