#include "psftools/psf_chi.h"

#include <sys/mman.h>

#include <algorithm>
#include <cfloat>
#include <cstdint>

#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "psftools/psf.h"

using orv::MArray;

namespace psf_chi {

void Planes::reset(std::size_t count, psf_index::Span a, psf_index::Span b)
{
    a_ = a;
    b_ = b;
    size_ = static_cast<std::size_t>(a.hi - a.lo + 1) * (b.hi - b.lo + 1);
    p_.resize(count * size_);
    m2_.resize(count * size_);
    skip_.resize(count * size_);
}

Plane Planes::view(std::size_t k) const
{
    Plane q;
    q.a = a_;
    q.b = b_;
    q.row = a_.hi - a_.lo + 1;
    // Element (0, 0) of plane k.
    const std::size_t centre = k * size_ + static_cast<std::size_t>(-b_.lo * q.row - a_.lo);
    q.p = p_.data() + centre;
    q.m2 = m2_.data() + centre;
    q.skip = skip_.data() + centre;
    return q;
}

SinglePlane::SinglePlane(const MArray<double, 2> &p, const MArray<double, 2> &e2)
{
    const psf_index::Span a = psf_index::common(p, 1, e2, 1), b = psf_index::common(p, 2, e2, 2);
    if (a.lo > 0 || a.hi < 0 || b.lo > 0 || b.hi < 0)
        return;
    store_.reset(1, a, b);
    store_.set(
        0, [&](int i, int j) { return p(i, j); }, [&](int i, int j) { return e2(i, j); });
    plane_ = store_.view(0);
}

ShiftTables::ShiftTables(const MArray<double, 4> &values, const MArray<double, 4> &errors2,
                         int subpixel, bool all)
    : values_(values), errors2_(errors2), subpixel_(subpixel),
      sx_(psf_index::common(values, 1, errors2, 1)), sy_(psf_index::common(values, 2, errors2, 2)),
      a_(psf_index::common(values, 3, errors2, 3)), b_(psf_index::common(values, 4, errors2, 4)),
      all_(all)
{
    ok_ = values.elementCount() > 0 && errors2.elementCount() > 0 && sx_.lo <= sx_.hi &&
          sy_.lo <= sy_.hi && a_.lo <= 0 && a_.hi >= 0 && b_.lo <= 0 && b_.hi >= 0;
    if (!ok_)
        return;
    const std::size_t ny = sy_.hi - sy_.lo + 1;
    planes_.reset(all ? (sx_.hi - sx_.lo + 1) * ny : 1, a_, b_);
    if (!all)
        return;
    for (int sx = sx_.lo; sx <= sx_.hi; ++sx)
        for (int sy = sy_.lo; sy <= sy_.hi; ++sy)
            lay((sx - sx_.lo) * ny + (sy - sy_.lo), sx, sy);
}

void ShiftTables::lay(std::size_t k, int sx, int sy) const
{
    planes_.set(
        k, [&](int i, int j) { return values_(sx, sy, i, j); },
        [&](int i, int j) { return errors2_(sx, sy, i, j); });
}

Plane ShiftTables::plane(int sx, int sy) const
{
    if (!ok_)
        return Plane();
    if (all_)
        return planes_.view(static_cast<std::size_t>(sx - sx_.lo) * (sy_.hi - sy_.lo + 1) +
                            (sy - sy_.lo));
    lay(0, sx, sy);
    return planes_.view(0);
}

Pixels::Pixels(const MArray<float, 2> &image, const MArray<float, 2> &error)
    : x_(psf_index::common(image, 1, error, 1)), y_(psf_index::common(image, 2, error, 2))
{
    fill(image, error);
}

Pixels::Pixels(const MArray<float, 2> &image, const MArray<float, 2> &error, long x, long y, long r)
{
    const psf_index::Span cx = psf_index::common(image, 1, error, 1),
                          cy = psf_index::common(image, 2, error, 2);
    // A block off the images holds nothing (and keeps x ± r in range).
    if (r < 0 || x < cx.lo - r || x > cx.hi + r || y < cy.lo - r || y > cy.hi + r) {
        x_ = y_ = {0, -1};
        return;
    }
    x_ = {static_cast<int>(std::max<long>(cx.lo, x - r)),
          static_cast<int>(std::min<long>(cx.hi, x + r))};
    y_ = {static_cast<int>(std::max<long>(cy.lo, y - r)),
          static_cast<int>(std::min<long>(cy.hi, y + r))};
    fill(image, error);
}

void Pixels::rows(const MArray<float, 2> &image, const MArray<float, 2> &error, long y0, long y1)
{
    x_ = psf_index::common(image, 1, error, 1);
    const psf_index::Span cy = psf_index::common(image, 2, error, 2);
    y_ = {static_cast<int>(std::max<long>(cy.lo, y0)), static_cast<int>(std::min<long>(cy.hi, y1))};
    fill(image, error);
}

void Pixels::fill(const MArray<float, 2> &image, const MArray<float, 2> &error)
{
    if (image.elementCount() == 0 || error.elementCount() == 0 || x_.lo > x_.hi || y_.lo > y_.hi) {
        x_ = y_ = {0, -1};
        return;
    }
    const long width = x_.hi - x_.lo + 1;
    const std::size_t n = static_cast<std::size_t>(width) * (y_.hi - y_.lo + 1),
                      stride = n + kLanes - 1;
    reserve(n);
    double *const value = data_.get(), *const weight = value + stride,
                  *const variance = weight + stride, *const skip = variance + stride;
    rows_ = {value, weight, variance, skip, width};
    bad_.resize(static_cast<std::size_t>(width + 1) * (y_.hi - y_.lo + 1));
    std::size_t i = 0;
    int *bad = bad_.data();
    for (long y = y_.lo; y <= y_.hi; ++y) {
        *bad = 0;
        for (long x = x_.lo; x <= x_.hi; ++x, ++i, ++bad) {
            const double e = error(x, y), v = image(x, y);
            // A value that is not a number (or infinite) is no data: the
            // pixel is as bad as one without a positive error.
            const bool finite = std::isfinite(v);
            value[i] = finite ? v : 0.0;
            variance[i] = e * e;
            weight[i] = 1 / variance[i];
            skip[i] = e > 0 && finite ? 0.0 : HUGE_VAL;
            bad[1] = bad[0] + (skip[i] != 0);
        }
        ++bad;
    }
    // The spare elements only ever feed lanes whose results are dropped.
    for (; i < stride; ++i) {
        value[i] = weight[i] = variance[i] = 0;
        skip[i] = HUGE_VAL;
    }
}

void Pixels::reserve(std::size_t count)
{
    const std::size_t stride = count + kLanes - 1;
    if (4 * stride > capacity_) {
        data_.reset(new double[4 * stride]);
        capacity_ = 4 * stride;
        adviseHugePages(data_.get(), capacity_);
    }
}

void adviseHugePages(double *data, std::size_t count)
{
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t huge = std::uintptr_t(1) << 21;
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + huge - 1) & ~(huge - 1);
    const std::uintptr_t last = (begin + count * sizeof(double)) & ~(huge - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)count;
#endif
}

AmplitudeFit::AmplitudeFit(double radius, int reach) : r2_(radius * radius)
{
    // The integer part of |radius| + 0.5, no farther than the reach.
    const double whole = std::trunc(std::fabs(radius) + 0.5);
    R_ = std::max(0, whole < reach ? static_cast<int>(whole) : reach);
    const std::size_t side = 2 * static_cast<std::size_t>(R_) + 1;
    terms_.resize(side * side);
    squares_.resize(side);
}

bool AmplitudeFit::fit(const Plane &q, const Pixels &pixels, long ix, long iy, double dx, double dy,
                       Result &r)
{
    if (!pixels.holds(ix, iy) || !q.holds(0, 0))
        return false;
    const Pixels::Rows &px = pixels.rows();
    if (q.skip[0] != 0 || px.skip[pixels.index(ix, iy)] != 0)
        return false;
    // The block: the circle's, within the plane and the pixels.
    const psf_index::Span xs = pixels.xs(), ys = pixels.ys();
    const long alo = std::max<long>({-R_, q.a.lo, xs.lo - ix}),
               ahi = std::min<long>({R_, q.a.hi, xs.hi - ix});
    const long blo = std::max<long>({-R_, q.b.lo, ys.lo - iy}),
               bhi = std::min<long>({R_, q.b.hi, ys.hi - iy});
    double *da2 = squares_.data() - alo;
    for (long a = alo; a <= ahi; ++a) {
        const double da = a - dx;
        da2[a] = da * da;
    }
    // Every block pixel is written at the end of the list, which grows only
    // for a fit pixel: (a − dx)² + (b − dy)² < r², its exclusion terms 0.
    Term *t = terms_.data();
    long n = 0;
    for (long b = blo; b <= bhi; ++b) {
        const double db = b - dy, db2 = db * db;
        const long row = pixels.index(ix, iy + b);
        const double *p = q.p + b * q.row;
        const double *m2 = q.m2 + b * q.row;
        const double *skip = q.skip + b * q.row;
        for (long a = alo; a <= ahi; ++a) {
            t[n] = {p[a], m2[a], row + a};
            n += da2[a] + db2 + px.skip[row + a] + skip[a] < r2_;
        }
    }
    double spp = 0, sip = 0;
    for (long i = 0; i < n; ++i) {
        const double pw = t[i].p * px.weight[t[i].pixel];
        spp += t[i].p * pw;
        sip += px.value[t[i].pixel] * pw;
    }
    const double A = sip / spp, A2 = A * A;
    double chi2 = 0;
    for (long i = 0; i < n; ++i) {
        const double d = A * t[i].p - px.value[t[i].pixel];
        chi2 += d * d / (px.variance[t[i].pixel] + A2 * t[i].m2);
    }
    r.amplitude = A;
    r.amplitude_error = std::sqrt(1 / spp);
    r.nchi = std::sqrt(chi2 / static_cast<double>(n - 1));
    n_ = n;
    return true;
}

LaneFit::LaneFit(double radius, int reach)
    : r2_(radius * radius), R_(AmplitudeFit(radius, reach).block()), kernel_(kernels().fit),
      first_(kernels().first), firstInside_(kernels().firstInside), chiAbove_(kernels().chiAbove)
{
    const std::size_t side = 2 * static_cast<std::size_t>(R_) + 1;
    taps_.resize(side * side);
    squares_.resize(side * kLanes);
    masks_.resize(side * side * kLanes);
}

void LaneFit::prepare(const Plane &q, const Pixels &pixels, long iy, double dy, double dxlo,
                      double dxhi)
{
    pixels_ = &pixels;
    iy_ = iy;
    const long width = pixels.rows().width;
    // The taps depend on the plane, the offsets and the width of the rows
    // alone: the calls for one row of a map ask for the same ones.
    if (!(laid_ && q.p == laidFor_.p && dy == laidFor_.dy && dxlo == laidFor_.dxlo &&
          dxhi == laidFor_.dxhi && width == laidFor_.width))
        lay(q, width, dy, dxlo, dxhi);
    // Whether no row of the block holds a bad pixel.
    clean_ = centre_ && pixels.holds(pixels.xs().lo, iy + b_.lo) &&
             pixels.holds(pixels.xs().lo, iy + b_.hi) &&
             pixels.clean(pixels.xs().lo, pixels.xs().hi, iy + b_.lo, iy + b_.hi);
}

void LaneFit::lay(const Plane &q, long width, double dy, double dxlo, double dxhi)
{
    laid_ = true;
    laidFor_ = {q.p, dy, dxlo, dxhi, width};
    count_ = 0;
    insideReady_ = false;
    centre_ = q.holds(0, 0) && q.skip[0] == 0;
    if (!centre_)
        return;
    a_ = {std::max(-R_, q.a.lo), std::min(R_, q.a.hi)};
    b_ = {std::max(-R_, q.b.lo), std::min(R_, q.b.hi)};
    // An offset that the circle of every x offset in dxlo..dxhi misses is no
    // fit pixel of any position: the rounded squares (a − dx)² grow with the
    // distance, so the least of them over the range bounds every position's
    // from below. (The kernel's scratch holds them for now.)
    double *least = squares_.data() - a_.lo;
    for (long a = a_.lo; a <= a_.hi; ++a) {
        const double lo = a - dxhi, hi = a - dxlo;
        least[a] = lo <= 0 && hi >= 0 ? 0.0 : std::min(lo * lo, hi * hi);
    }
    Tap *t = taps_.data();
    for (long b = b_.lo; b <= b_.hi; ++b) {
        const double db = b - dy, db2 = db * db;
        const long row = b * q.row;
        for (long a = a_.lo; a <= a_.hi; ++a)
            // Nor is an offset where the plane is 0 (exclusion term +∞).
            if (least[a] + db2 < r2_ && q.skip[row + a] == 0)
                t[count_++] = {q.p[row + a], q.m2[row + a], db2, a + b * width, a - a_.lo};
    }
}

void LaneFit::job(LaneJob &job, long ix, const double *dx, int count) const
{
    job.taps = taps_.data();
    job.count = count_;
    job.rows = pixels_->rows();
    job.centre = pixels_->index(ix, iy_);
    job.lanes = count > 4 ? kLanes : 4;
    // Lanes beyond count repeat the last position; their results are dropped.
    for (int j = 0; j < kLanes; ++j)
        job.dx[j] = dx[std::min(j, count - 1)];
    job.first_column = a_.lo;
    job.columns = a_.hi - a_.lo + 1;
    job.r2 = r2_;
    job.squares = const_cast<double *>(squares_.data());
    job.masks = const_cast<long long *>(masks_.data());
}

void LaneFit::fit(long ix, const double *dx, int count, Result *r, bool *fitted, bool chi)
{
    if (!centre_) {
        std::fill(fitted, fitted + count, false);
        return;
    }
    LaneJob j;
    job(j, ix, dx, count);
    (chi ? kernel_ : first_)(j);
    // The centre test of AmplitudeFit::fit, lane by lane.
    const double *centre = pixels_->rows().skip + j.centre;
    for (int i = 0; i < count; ++i) {
        fitted[i] = centre[i] == 0;
        if (!fitted[i])
            continue;
        r[i].amplitude = j.amplitude[i];
        r[i].amplitude_error = j.amplitude_error[i];
        if (chi)
            r[i].nchi = j.nchi[i];
    }
}

void LaneFit::first(long ix, const double *dx, const long *same, long count, double significance,
                    double *amplitude, unsigned char *significant)
{
    for (long m = 0; m < count;) {
        const long n = std::min(same[m], count - m);
        // Most positions of a row share their x offset with many others,
        // and most blocks hold no bad pixel: then the taps outside the
        // circle, which add +0.0 to the sums, are left out, no tap needs a
        // mask, and every centre pixel is good.
        if (centre_ && dx[m] == dx[m] &&
            (clean_ ||
             pixels_->clean(ix + m + a_.lo, ix + m + n - 1 + a_.hi, iy_ + b_.lo, iy_ + b_.hi))) {
            inside(dx[m]);
            LaneJob j;
            job(j, ix + m, dx + m, 1);
            j.taps = inside_.data();
            j.count = static_cast<long>(inside_.size());
            firstInside_(j, n, significance, amplitude + m, significant + m);
            m += n;
            continue;
        }
        for (const long end = m + n; m < end;) {
            Result r[kLanes];
            bool fitted[kLanes];
            const int k = static_cast<int>(std::min<long>(kLanes, end - m));
            fit(ix + m, dx + m, k, r, fitted, false);
            for (int i = 0; i < k; ++i) {
                amplitude[m + i] = fitted[i] ? r[i].amplitude : 0;
                significant[m + i] =
                    fitted[i] && r[i].amplitude >= significance * r[i].amplitude_error;
            }
            m += k;
        }
    }
}

void LaneFit::passes(long ix, const double *dx, int count, const double *amplitude, double largest,
                     bool *passes)
{
    if (!centre_) {
        std::fill(passes, passes + count, false);
        return;
    }
    if (std::all_of(dx, dx + count, [dx](double d) { return d == dx[0]; }) && dx[0] == dx[0] &&
        (clean_ || pixels_->clean(ix + a_.lo, ix + count - 1 + a_.hi, iy_ + b_.lo, iy_ + b_.hi))) {
        // As in first(): the taps inside the circle alone, and every centre
        // pixel good.
        inside(dx[0]);
        LaneJob j;
        job(j, ix, dx, count);
        j.taps = inside_.data();
        j.count = static_cast<long>(inside_.size());
        for (int i = 0; i < kLanes; ++i)
            j.amplitude[i] = amplitude[std::min(i, count - 1)];
        chiAbove_(j, count, insideGrows_ ? limit(largest, j.count) : HUGE_VAL);
        for (int i = 0; i < count; ++i)
            passes[i] = j.nchi[i] <= largest;
        return;
    }
    Result r[kLanes];
    bool fitted[kLanes];
    fit(ix, dx, count, r, fitted, true);
    for (int i = 0; i < count; ++i)
        passes[i] = fitted[i] && r[i].nchi <= largest;
}

double LaneFit::limit(double largest, long n)
{
    if (n < 2 || !(largest >= 0) || !std::isfinite(largest))
        return HUGE_VAL;
    // The chi √(chi²/(n − 1)), rounded as the fit rounds it, grows with
    // chi²: the least chi² found here whose chi exceeds largest bounds
    // every other such chi² from below.
    const double n1 = static_cast<double>(n - 1);
    double chi2 = largest * largest * n1;
    for (int i = 0; !(std::sqrt(chi2 / n1) > largest); ++i)
        chi2 = i < 4 ? std::nextafter(chi2, HUGE_VAL) : 2 * chi2 + DBL_MIN;
    return chi2;
}

void LaneFit::inside(double dx)
{
    if (insideReady_ && dx == insideDx_)
        return;
    inside_.clear();
    insideGrows_ = true;
    // The test of the vector fit with the exclusion term 0: (a − dx)² +
    // (b − dy)² < r², rounded as the fit rounds it.
    for (long i = 0; i < count_; ++i) {
        const double da = static_cast<double>(a_.lo + taps_[i].column) - dx;
        if (da * da + taps_[i].db2 < r2_) {
            inside_.push_back(taps_[i]);
            // A negative PSF variance could make a chi term negative.
            insideGrows_ = insideGrows_ && taps_[i].m2 >= 0;
        }
    }
    insideDx_ = dx;
    insideReady_ = true;
}

bool LaneFit::covers(long ix, long count) const
{
    if (!centre_)
        return true;
    const psf_index::Span xs = pixels_->xs(), ys = pixels_->ys();
    return ix + a_.lo >= xs.lo && ix + count - 1 + a_.hi <= xs.hi && iy_ + b_.lo >= ys.lo &&
           iy_ + b_.hi <= ys.hi;
}

namespace {

std::atomic<int> threads_set{0};

} // namespace

void setThreads(int n)
{
    threads_set = std::max(0, n);
}

int threads()
{
    if (threads_set > 0)
        return threads_set;
    if (const char *v = std::getenv("OMP_NUM_THREADS")) {
        char *end;
        const long n = std::strtol(v, &end, 10);
        if (end != v && n > 0)
            return static_cast<int>(std::min(n, 1024L));
    }
    return static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
}

void together(const std::function<void()> &work)
{
    std::mutex m;
    std::exception_ptr failure;
    const auto guarded = [&] {
        try {
            work();
        } catch (...) {
            const std::lock_guard<std::mutex> lock(m);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    const int n = threads();
    helpers.reserve(n - 1);
    // Fewer threads when the system gives no more: the work is shared all
    // the same.
    for (int i = 1; i < n; ++i)
        try {
            helpers.emplace_back(guarded);
        } catch (const std::system_error &) {
            break;
        }
    guarded();
    for (std::thread &t : helpers)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace psf_chi

namespace {

// One fit at (x, y) with the tabulated shift nearest to it.
bool fitAt(const MArray<double, 4> &values, const MArray<double, 4> &errors2, int subpixel,
           int analyt, const MArray<float, 2> &image, const MArray<float, 2> &error, double x,
           double y, double radius, psf_chi::Result &r)
{
    const psf_chi::ShiftTables tables(values, errors2, subpixel);
    psf_chi::AmplitudeFit fit(radius, analyt);
    const long ix = std::lrint(x), iy = std::lrint(y);
    if (!tables.ok())
        return false;
    const psf_chi::Pixels pixels(image, error, ix, iy, fit.block());
    const double dx = x - ix, dy = y - iy;
    return fit.fit(tables.plane(tables.shiftX(dx), tables.shiftY(dy)), pixels, ix, iy, dx, dy, r);
}

} // namespace

double psf::nchi_calc(const MArray<float, 2> &image, const MArray<float, 2> &error, double x,
                      double y, double &amplitude, double &amplitude_error, double radius,
                      int) const
{
    psf_chi::Result r;
    if (!fitAt(_all_binned_psf, _all_e2binned_psf, _subpixel, _analyt, image, error, x, y, radius,
               r)) {
        amplitude = 0;
        amplitude_error = psf_chi::kFailed;
        return psf_chi::kFailed;
    }
    amplitude = r.amplitude;
    amplitude_error = r.amplitude_error;
    return r.nchi;
}

double psf::nchi_calc(const MArray<float, 2> &image, const MArray<float, 2> &error, double x,
                      double y, double &amplitude, double radius, int verbose) const
{
    double amplitude_error;
    return nchi_calc(image, error, x, y, amplitude, amplitude_error, radius, verbose);
}

double psf::nchi_calc(const MArray<float, 2> &image, const MArray<float, 2> &error, double x,
                      double y, double radius, int verbose) const
{
    double amplitude, amplitude_error;
    return nchi_calc(image, error, x, y, amplitude, amplitude_error, radius, verbose);
}

double psf::nchi_calc_fast(const MArray<float, 2> &image, const MArray<float, 2> &error, double x,
                           double y, double &amplitude, double radius) const
{
    psf_chi::Result r;
    // A failure must not read as a perfect fit (0).
    if (!fitAt(_all_binned_psf, _all_e2binned_psf, _subpixel, _analyt, image, error, x, y, radius,
               r))
        return psf_chi::kFailed;
    amplitude = r.amplitude;
    return r.nchi;
}
