// The vector code of the maps (psf_chi.h, Kernels): the amplitude fit of
// several positions at once for LaneFit, lane j being the position at pixel
// centre + j, and the smoothing and minimum test of find over a run of cells.
// Internal to psftools: each file that includes it gets its own copy (the
// anonymous namespace), compiled with that file's instruction set, so the
// same code serves the portable build and, where the processor has it, the
// AVX2 build of psf_lanes_avx2.cc.
//
// Every lane goes through exactly the operations of the one-position code,
// in the same order: a term that does not count for a lane adds +0.0 to that
// lane's sums (chosen, never multiplied, so that an infinite or NaN term of
// a bad pixel stays out), which leaves a sum that started at +0.0 as it is.
#ifndef PSFTOOLS_PSF_LANES_H
#define PSFTOOLS_PSF_LANES_H

#include <cmath>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "psftools/psf_chi.h"

// The vector types stay inside the inline kernel of the including file, so
// the calling convention of 32-byte vectors without AVX is of no concern.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace psf_chi {

namespace {

// Four lanes in one value of the compiler's vector type (one AVX2
// register), whose operations act on every element as the scalar
// operation would; a fit of eight lanes takes two of them per step.
constexpr int kWidth = 4;
typedef double Doubles __attribute__((vector_size(8 * kWidth), aligned(8), may_alias));
typedef long long Mask __attribute__((vector_size(8 * kWidth), aligned(8), may_alias));

#define PSF_LANES_INLINE inline __attribute__((always_inline))

PSF_LANES_INLINE Doubles load(const double *p)
{
    return *reinterpret_cast<const Doubles *>(p);
}

PSF_LANES_INLINE void store(double *p, Doubles v)
{
    *reinterpret_cast<Doubles *>(p) = v;
}

// The square root of every lane, as std::sqrt gives it (both are correctly
// rounded), with the vector instruction where there is one.
PSF_LANES_INLINE Doubles sqrtLanes(Doubles v)
{
#if defined(__AVX__)
    return reinterpret_cast<Doubles>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(v)));
#elif defined(__SSE2__)
    double d[kWidth];
    store(d, v);
    _mm_storeu_pd(d, _mm_sqrt_pd(_mm_loadu_pd(d)));
    _mm_storeu_pd(d + 2, _mm_sqrt_pd(_mm_loadu_pd(d + 2)));
    return load(d);
#else
    for (int j = 0; j < kWidth; ++j)
        v[j] = std::sqrt(v[j]);
    return v;
#endif
}

// The first pass of the fit of W·kWidth lanes: the sums spp and sip and the
// count of fit pixels, and with Keep the mask of every tap for the second.
template <int W, bool Keep>
PSF_LANES_INLINE void firstPass(LaneJob &job, Doubles *spp, Doubles *sip, Mask *n)
{
    constexpr int L = W * kWidth;
    // Local copies: the scratch stores could alias the job's fields.
    const double *const value = job.rows.value, *const weight = job.rows.weight,
                        *const skip = job.rows.skip;
    const Tap *const taps = job.taps;
    const long count = job.count, centre = job.centre;
    double *const squares = job.squares;
    Mask *const masks = reinterpret_cast<Mask *>(job.masks);
    const Doubles zero{}, r2 = zero + job.r2;
    // (a − dx)² of the block's columns, as AmplitudeFit squares them.
    for (long c = 0; c < job.columns; ++c)
        for (int h = 0; h < W; ++h) {
            const Doubles da =
                static_cast<double>(job.first_column + c) - load(job.dx + h * kWidth);
            store(squares + c * L + h * kWidth, da * da);
        }
    for (int h = 0; h < W; ++h) {
        spp[h] = sip[h] = zero;
        n[h] = Mask{};
    }
    for (long i = 0; i < count; ++i) {
        // The tap's fields once: the mask stores could alias them.
        const double p = taps[i].p, db2 = taps[i].db2;
        const long pixel = centre + taps[i].pixel;
        const double *const d2 = squares + taps[i].column * L;
        for (int h = 0; h < W; ++h) {
            const long at = pixel + h * kWidth;
            const Mask m = load(d2 + h * kWidth) + db2 + load(skip + at) < r2;
            if (Keep)
                masks[i * W + h] = m;
            const Doubles pw = p * load(weight + at);
            spp[h] += m ? p * pw : zero;
            sip[h] += m ? load(value + at) * pw : zero;
            n[h] -= m;
        }
    }
}

// The fit of W·kWidth lanes; without Chi the first pass alone (amplitudes
// and their errors, no chi).
template <int W, bool Chi>
PSF_LANES_INLINE void fitLanesWith(LaneJob &job)
{
    Doubles spp[W], sip[W];
    Mask n[W];
    firstPass<W, Chi>(job, spp, sip, n);
    const Doubles zero{};
    Doubles A[W], A2[W], chi2[W];
    for (int h = 0; h < W; ++h) {
        A[h] = sip[h] / spp[h];
        A2[h] = A[h] * A[h];
        chi2[h] = zero;
    }
    if (Chi) {
        const double *const value = job.rows.value, *const variance = job.rows.variance;
        const Tap *const taps = job.taps;
        const long count = job.count, centre = job.centre;
        const Mask *const masks = reinterpret_cast<const Mask *>(job.masks);
        for (long i = 0; i < count; ++i) {
            const double p = taps[i].p, m2 = taps[i].m2;
            const long pixel = centre + taps[i].pixel;
            for (int h = 0; h < W; ++h) {
                const long at = pixel + h * kWidth;
                const Doubles d = A[h] * p - load(value + at);
                const Doubles term = d * d / (load(variance + at) + A2[h] * m2);
                // All bits of the mask set: the term; none: +0.0.
                chi2[h] +=
                    reinterpret_cast<Doubles>(reinterpret_cast<Mask>(term) & masks[i * W + h]);
            }
        }
    }
    for (int h = 0; h < W; ++h) {
        store(job.amplitude + h * kWidth, A[h]);
        store(job.amplitude_error + h * kWidth, sqrtLanes((zero + 1) / spp[h]));
        if (Chi)
            store(job.nchi + h * kWidth,
                  sqrtLanes(chi2[h] / __builtin_convertvector(n[h] - 1, Doubles)));
    }
}

// The first pass where every tap of the job counts for every lane: the
// lanes share their circle, the job holds only the taps inside it, and no
// pixel of the block is bad. A tap that does not count adds +0.0 to the
// sums of the general pass, which leaves them as they are (neither starts
// at or becomes −0.0), so these sums are those of the general pass. The
// sums of the lanes at pixels centre + j.
template <int W>
PSF_LANES_INLINE void insideSums(const LaneJob &job, long centre, Doubles *spp, Doubles *sip)
{
    const double *const value = job.rows.value, *const weight = job.rows.weight;
    const Tap *const taps = job.taps;
    const long count = job.count;
    const Doubles zero{};
    for (int h = 0; h < W; ++h)
        spp[h] = sip[h] = zero;
    for (long i = 0; i < count; ++i) {
        const double p = taps[i].p;
        const long pixel = centre + taps[i].pixel;
        for (int h = 0; h < W; ++h) {
            const long at = pixel + h * kWidth;
            const Doubles pw = p * load(weight + at);
            spp[h] += p * pw;
            sip[h] += load(value + at) * pw;
        }
    }
}

// Amplitudes from the sums, lanes h·kWidth.. to a, and whether each is at
// least significance times its error √(1/spp) to f.
template <int W>
PSF_LANES_INLINE void significant(const Doubles *spp, const Doubles *sip, double significance,
                                  double *a, unsigned char *f)
{
    const Doubles one = Doubles{} + 1;
    for (int h = 0; h < W; ++h) {
        const Doubles A = sip[h] / spp[h];
        const Mask m = A >= significance * sqrtLanes(one / spp[h]);
        store(a + h * kWidth, A);
        for (int j = 0; j < kWidth; ++j)
            f[h * kWidth + j] = m[j] != 0;
    }
}

// The first pass of count positions at the pixels centre.. where every tap
// counts for every lane (see insideSums): amplitude[j], and significant[j]
// whether it is at least significance times its error.
PSF_LANES_INLINE void firstInsideRow(const LaneJob &job, long count, double significance,
                                     double *amplitude, unsigned char *significant)
{
    constexpr int W = kLanes / kWidth;
    Doubles spp[2 * W], sip[2 * W];
    long j = 0;
    // Twice the lanes of a fit where there are enough positions: the taps
    // are read once for all of them.
    for (; j + 2 * kLanes <= count; j += 2 * kLanes) {
        insideSums<2 * W>(job, job.centre + j, spp, sip);
        psf_chi::significant<2 * W>(spp, sip, significance, amplitude + j, significant + j);
    }
    for (; j + kLanes <= count; j += kLanes) {
        insideSums<W>(job, job.centre + j, spp, sip);
        psf_chi::significant<W>(spp, sip, significance, amplitude + j, significant + j);
    }
    if (j == count)
        return;
    // The last positions; lanes beyond them are dropped.
    double a[kLanes];
    unsigned char f[kLanes];
    if (count - j > kWidth) {
        insideSums<W>(job, job.centre + j, spp, sip);
        psf_chi::significant<W>(spp, sip, significance, a, f);
    } else {
        insideSums<1>(job, job.centre + j, spp, sip);
        psf_chi::significant<1>(spp, sip, significance, a, f);
    }
    for (long i = j; i < count; ++i) {
        amplitude[i] = a[i - j];
        significant[i] = f[i - j];
    }
}

// The chi pass where every tap counts for every lane (see insideSums),
// given the amplitudes, stopped once every lane that counts has reached
// limit: the squared sum only grows (its terms are not negative, and a NaN
// stays), and so does the chi with it.
template <int W>
PSF_LANES_INLINE void chiAboveWith(LaneJob &job, int lanes, double limit)
{
    const double *const value = job.rows.value, *const variance = job.rows.variance;
    const Tap *const taps = job.taps;
    const long count = job.count;
    const Doubles zero{}, reached = zero + limit;
    Doubles A[W], A2[W], chi2[W];
    Mask done[W]; // lanes that do not count, or have reached limit
    for (int h = 0; h < W; ++h) {
        A[h] = load(job.amplitude + h * kWidth);
        A2[h] = A[h] * A[h];
        chi2[h] = zero;
        for (int j = 0; j < kWidth; ++j)
            done[h][j] = h * kWidth + j < lanes ? 0 : -1;
    }
    for (long i = 0; i < count;) {
        for (const long end = std::min(count, i + 8); i < end; ++i) {
            const double p = taps[i].p, m2 = taps[i].m2;
            const long pixel = job.centre + taps[i].pixel;
            for (int h = 0; h < W; ++h) {
                const long at = pixel + h * kWidth;
                const Doubles d = A[h] * p - load(value + at);
                chi2[h] += d * d / (load(variance + at) + A2[h] * m2);
            }
        }
        Mask all = done[0] | (chi2[0] >= reached);
        for (int h = 1; h < W; ++h)
            all &= done[h] | (chi2[h] >= reached);
        bool stop = true;
        for (int j = 0; j < kWidth; ++j)
            stop = stop && all[j] != 0;
        if (stop) {
            for (int h = 0; h < W; ++h)
                store(job.nchi + h * kWidth, zero + HUGE_VAL);
            return;
        }
    }
    const Doubles n1 = zero + static_cast<double>(count - 1);
    for (int h = 0; h < W; ++h)
        store(job.nchi + h * kWidth, sqrtLanes(chi2[h] / n1));
}

PSF_LANES_INLINE void chiAbove(LaneJob &job, int lanes, double limit)
{
    if (lanes > kWidth)
        chiAboveWith<kLanes / kWidth>(job, lanes, limit);
    else
        chiAboveWith<1>(job, lanes, limit);
}

PSF_LANES_INLINE Mask hasValue(Doubles v)
{
    return (v != 0) & (v < kFailed);
}

// The smoothing of find, lane by lane in the diamond's order; a cell of the
// diamond without a chi adds +0.0, which leaves the sum as it is.
PSF_LANES_INLINE void smoothRow(const double *c, double *w, long count, const long *diamond)
{
    const Doubles zero{};
    long i = 0;
    for (; i + kWidth <= count; i += kWidth) {
        Doubles sum = zero, n = zero;
        for (int d = 0; d < 13; ++d) {
            const Doubles v = load(c + i + diamond[d]);
            const Mask has = hasValue(v);
            sum += has ? v : zero;
            n += has ? zero + 1 : zero;
        }
        store(w + i, hasValue(load(c + i)) ? sum / n : zero);
    }
    for (; i < count; ++i) {
        double sum = 0;
        int n = 0;
        for (int d = 0; d < 13; ++d) {
            const double v = c[i + diamond[d]];
            if (psf_chi::hasValue(v)) {
                sum += v;
                ++n;
            }
        }
        w[i] = psf_chi::hasValue(c[i]) ? sum / n : 0;
    }
}

// The minimum test of find.
PSF_LANES_INLINE long minimaRow(const double *c, const double *w, long count,
                                const long *neighbours, long *found)
{
    long n = 0, i = 0;
    for (; i + kWidth <= count; i += kWidth) {
        const Doubles here = load(w + i);
        Mask minimum = hasValue(load(c + i));
        for (int d = 0; d < 8; ++d) {
            const Doubles N = load(w + i + neighbours[d]);
            minimum &= (N > here) | (N == 0);
        }
        for (int j = 0; j < kWidth; ++j)
            if (minimum[j])
                found[n++] = i + j;
    }
    for (; i < count; ++i)
        if (psf_chi::isMinimum(c, w, i, neighbours))
            found[n++] = i;
    return n;
}

// The fit of the job's lanes: one vector when four will do.
PSF_LANES_INLINE void fitLanes(LaneJob &job)
{
    if (job.lanes > kWidth)
        fitLanesWith<kLanes / kWidth, true>(job);
    else
        fitLanesWith<1, true>(job);
}

// The same without the chi.
PSF_LANES_INLINE void firstLanes(LaneJob &job)
{
    if (job.lanes > kWidth)
        fitLanesWith<kLanes / kWidth, false>(job);
    else
        fitLanesWith<1, false>(job);
}

} // namespace

} // namespace psf_chi

#endif
