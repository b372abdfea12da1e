// One-dimensional split-radix FFT: tables, complex, real, cosine and sine
// transforms (the kernels are in fftsg_kernels.h).
#include "numerics/fftsg.h"

#include "numerics/fftsg_core.h"
#include "numerics/fftsg_kernels.h"
#include "numerics/nrutil.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace fftcore {

namespace {

// Pre- and post-twiddle of the cosine transforms through the real transform:
// the pair (a[j], a[n-j]) turns by pi*j/(2n) - pi/4, a[n/2] scales by cos(pi/4).
void dctsub(int n, double *a, int nc, const double *c)
{
    const int m = n >> 1, ks = nc / n;
    int kk = 0;
    for (int j = 1; j < m; j++) {
        const int k = n - j;
        kk += ks;
        const double wkr = c[kk] - c[nc - kk], wki = c[kk] + c[nc - kk];
        const double xr = wki * a[j] - wkr * a[k];
        a[j] = wkr * a[j] + wki * a[k];
        a[k] = xr;
    }
    a[m] *= c[0];
}

// Reverses a[1..n-1]; a[0] stays.
void reverse_tail(int n, double *a)
{
    for (int i = 1, j = n - 1; i < j; i++, j--) {
        double x = a[i];
        a[i] = a[j];
        a[j] = x;
    }
}

void negate_odd(int n, double *a)
{
    for (int j = 1; j < n; j += 2)
        a[j] = -a[j];
}

void fatal(const char *who, const char *what)
{
    char text[200];
    snprintf(text, sizeof text, "%s: %s", who, what);
    nrerror(text);
}

} // namespace

void cftfsub(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub<false, 1>(n, a, ip, nw, w);
}

void cftbsub(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub<true, 1>(n, a, ip, nw, w);
}

template <int V>
void cftfsubv(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub<false, V>(n, a, ip, nw, w);
}

template <int V>
void cftbsubv(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub<true, V>(n, a, ip, nw, w);
}

template void cftfsubv<2>(int, double *, const int *, int, const double *);
template void cftbsubv<2>(int, double *, const int *, int, const double *);

// Four lanes take the AVX2 build of the kernels where there is one (the
// numbers are the same: no instruction fuses a multiply and an add).
namespace {
bool four_lanes_allowed = true;
}

void allow_four_lanes(bool allow)
{
    four_lanes_allowed = allow;
}

bool four_lanes_fast()
{
#if defined(FFTSG_AVX2)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && four_lanes_allowed;
#else
    return false;
#endif
}

namespace {

template <bool Back>
void cftsub4(int n, double *a, const int *ip, int nw, const double *w)
{
#if defined(FFTSG_AVX2)
    if (four_lanes_fast())
        return (Back ? cftbsub4_avx2 : cftfsub4_avx2)(n, a, ip, nw, w);
#endif
    cftsub<Back, 4>(n, a, ip, nw, w);
}

template <bool Back>
void rftsub4(int n, double *a, int nc, const double *c)
{
#if defined(FFTSG_AVX2)
    if (four_lanes_fast())
        return (Back ? rftbsub4_avx2 : rftfsub4_avx2)(n, a, nc, c);
#endif
    rftsub<Back, 4>(n, a, nc, c);
}

} // namespace

template <>
void cftfsubv<4>(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub4<false>(n, a, ip, nw, w);
}

template <>
void cftbsubv<4>(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub4<true>(n, a, ip, nw, w);
}

void rftfsub(int n, double *a, int nc, const double *c)
{
    rftsub<false, 1>(n, a, nc, c);
}

void rftbsub(int n, double *a, int nc, const double *c)
{
    rftsub<true, 1>(n, a, nc, c);
}

template <int V>
void rftfsubv(int n, double *a, int nc, const double *c)
{
    rftsub<false, V>(n, a, nc, c);
}

template <int V>
void rftbsubv(int n, double *a, int nc, const double *c)
{
    rftsub<true, V>(n, a, nc, c);
}

template void rftfsubv<2>(int, double *, int, const double *);
template void rftbsubv<2>(int, double *, int, const double *);

template <>
void rftfsubv<4>(int n, double *a, int nc, const double *c)
{
    rftsub4<false>(n, a, nc, c);
}

template <>
void rftbsubv<4>(int n, double *a, int nc, const double *c)
{
    rftsub4<true>(n, a, nc, c);
}

namespace {

// Complex transform of the n/2 pairs and the real-data step, forward; the
// pair of two points (n = 4) needs no real-data step, one point none at all.
void rftf(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c)
{
    if (n >= 4)
        cftfsub(n, a, ip, nw, w);
    if (n > 4)
        rftfsub(n, a, nc, c);
}

// The same backward, in reverse order.
void rftb(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c)
{
    if (n > 4)
        rftbsub(n, a, nc, c);
    if (n >= 4)
        cftbsub(n, a, ip, nw, w);
}

} // namespace

// The real transform on the tables at hand (rdft without its checks).
void rdftsub(int n, int isgn, double *a, const int *ip, int nw, const double *w, int nc,
             const double *c)
{
    if (isgn >= 0) {
        rftf(n, a, ip, nw, w, nc, c);
        const double xi = a[0] - a[1];
        a[0] += a[1];
        a[1] = xi;
    } else {
        a[1] = 0.5 * (a[0] - a[1]);
        a[0] -= a[1];
        rftb(n, a, ip, nw, w, nc, c);
    }
}

// C[2q] = Re F[q] + Im F[q] and C[2q-1] = Re F[q] - Im F[q], F the real
// transform of the pre-twiddled data.
void dct3(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c)
{
    if (n < 2)
        return;
    dctsub(n, a, nc, c);
    rftf(n, a, ip, nw, w, nc, c);
    const double xr = a[0] - a[1];
    a[0] += a[1];
    for (int j = 2; j < n; j += 2) {
        a[j - 1] = a[j] - a[j + 1];
        a[j] += a[j + 1];
    }
    a[n - 1] = xr;
}

// The transpose of dct3, step by step in reverse order.
void dct2(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c)
{
    if (n < 2)
        return;
    const double xr = a[n - 1];
    for (int j = n - 2; j >= 2; j -= 2) {
        a[j + 1] = a[j] - a[j - 1];
        a[j] += a[j - 1];
    }
    a[1] = a[0] - xr;
    a[0] += xr;
    rftb(n, a, ip, nw, w, nc, c);
    dctsub(n, a, nc, c);
}

// sin(pi*(n-j)*(k+1/2)/n) = (-1)^k cos(pi*j*(k+1/2)/n): the sine transform
// is the cosine transform of the reversed data with every other output
// negated.
void dst3(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c)
{
    reverse_tail(n, a);
    dct3(n, a, ip, nw, w, nc, c);
    negate_odd(n, a);
}

// sin(pi*(j+1/2)*(n-k)/n) = (-1)^j cos(pi*(j+1/2)*k/n).
void dst2(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c)
{
    negate_odd(n, a);
    dct2(n, a, ip, nw, w, nc, c);
    reverse_tail(n, a);
}

void ddxtsub(bool sine, int n, int isgn, double *a, const int *ip, const double *w,
             const Tables &tb)
{
    if (sine)
        (isgn >= 0 ? dst3 : dst2)(n, a, ip, tb.nw, w, tb.nc, tb.c);
    else
        (isgn >= 0 ? dct3 : dct2)(n, a, ip, tb.nw, w, tb.nc, tb.c);
}

bool is_pow2(long n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

long ip_entries(long nw)
{
    if (nw <= 8)
        return 2;
    long m = 2;
    for (long l = nw; l > 32; l >>= 2)
        m <<= 1;
    return 2 * m;
}

void check_length(const char *who, const char *what, long n, long min)
{
    if (n < min || !is_pow2(n)) {
        char text[120];
        snprintf(text, sizeof text, "%s must be a power of two of at least %ld, not %ld", what, min,
                 n);
        fatal(who, text);
    }
}

void check_pointer(const char *who, const char *what, const void *p)
{
    if (p == nullptr) {
        char text[80];
        snprintf(text, sizeof text, "%s is a null pointer", what);
        fatal(who, text);
    }
}

void check_work(const char *who, long need, long tsize)
{
    if (tsize >= 0 && tsize < need) {
        char text[120];
        snprintf(text, sizeof text, "work area t holds %ld doubles, the transform needs %ld", tsize,
                 need);
        fatal(who, text);
    }
}

namespace {

void check_fit(const char *who, long nw, long nc, long ipsize, long wsize)
{
    char text[160];
    if (ipsize >= 0 && ipsize < ip_entries(nw)) {
        snprintf(text, sizeof text, "table ip holds %ld entries, a cos/sin table of %ld needs %ld",
                 ipsize, nw, ip_entries(nw));
        fatal(who, text);
    }
    if (wsize >= 0 && wsize < nw + nc) {
        snprintf(text, sizeof text, "table w holds %ld doubles, the tables need %ld", wsize,
                 nw + nc);
        fatal(who, text);
    }
}

} // namespace

Tables prepare(const char *who, int *ip, double *w, long nwlen, long nwmul, long nclen, long ncmul,
               long ipsize, long wsize)
{
    check_pointer(who, "table ip", ip);
    check_pointer(who, "table w", w);
    if (ipsize >= 0 && ipsize < 2)
        fatal(who, "table ip needs at least 2 entries");
    long nw = ip[0], nc = ip[1];
    // An ip that was never set up would make the routine read and write w
    // wherever its first entries point.
    if (nw != 0 && !is_pow2(nw))
        fatal(who, "ip[0] is not a table size; set ip[0] = 0 before the first call");
    if (nclen > 0 && nc != 0 && !is_pow2(nc))
        fatal(who, "ip[1] is not a table size; set ip[1] = 0 before the first call");
    if (nwlen > nwmul * nw) {
        nw = nwlen / nwmul;
        check_fit(who, nw, 0, ipsize, wsize);
        makewt(static_cast<int>(nw), ip, w);
        nc = ip[1];
    }
    if (nclen > 0 && nclen > ncmul * nc) {
        nc = nclen / ncmul;
        check_fit(who, nw, nc, ipsize, wsize);
        makect(static_cast<int>(nc), ip, w + nw);
    }
    check_fit(who, nw, nclen > 0 ? nc : 0, ipsize, wsize);
    return Tables{static_cast<int>(nw), static_cast<int>(nc), w + nw};
}

} // namespace fftcore

using namespace fftcore;

void makewt(int nw, int *ip, double *w)
{
    if (nw != 0 && !is_pow2(nw))
        fatal("makewt", "the table size must be 0 or a power of two");
    ip[0] = nw;
    ip[1] = 1;
    if (nw <= 2)
        return;
    int nwh = nw >> 1;
    const double delta = std::atan(1.0) / nwh;
    const double wn4r = std::cos(delta * nwh);
    w[0] = 1;
    w[1] = wn4r;
    if (nwh == 4) {
        w[2] = std::cos(delta * 2);
        w[3] = std::sin(delta * 2);
    } else if (nwh > 4) {
        // Bit-reversal seeds: level m holds 8*m*rev(k) in ip[m + k].
        ip[2] = 0;
        ip[3] = 16;
        int m = 2;
        for (int l = nw; l > 32; l >>= 2) {
            for (int j = m; j < 2 * m; j++) {
                ip[m + j] = 4 * ip[j];
                ip[2 * m + j] = 4 * ip[j] + 16 * m;
            }
            m <<= 1;
        }
        w[2] = 0.5 / std::cos(delta * 2);
        w[3] = 0.5 / std::cos(delta * 6);
        for (int j = 4; j < nwh; j += 4) {
            w[j] = std::cos(delta * j);
            w[j + 1] = std::sin(delta * j);
            w[j + 2] = std::cos(3 * delta * j);
            w[j + 3] = -std::sin(3 * delta * j);
        }
    }
    // Sub-tables for the shorter blocks, each half the size of the one
    // before and holding every other entry of it.
    int nw0 = 0;
    while (nwh > 2) {
        const int nw1 = nw0 + nwh;
        nwh >>= 1;
        w[nw1] = 1;
        w[nw1 + 1] = wn4r;
        if (nwh == 4) {
            w[nw1 + 2] = w[nw0 + 4];
            w[nw1 + 3] = w[nw0 + 5];
        } else if (nwh > 4) {
            w[nw1 + 2] = 0.5 / w[nw0 + 4];
            w[nw1 + 3] = 0.5 / w[nw0 + 6];
            for (int j = 4; j < nwh; j += 4) {
                w[nw1 + j] = w[nw0 + 2 * j];
                w[nw1 + j + 1] = w[nw0 + 2 * j + 1];
                w[nw1 + j + 2] = w[nw0 + 2 * j + 2];
                w[nw1 + j + 3] = w[nw0 + 2 * j + 3];
            }
        }
        nw0 = nw1;
    }
}

void makect(int nc, int *ip, double *c)
{
    if (nc != 0 && !is_pow2(nc))
        fatal("makect", "the table size must be 0 or a power of two");
    ip[1] = nc;
    if (nc <= 1)
        return;
    const int nch = nc >> 1;
    const double delta = std::atan(1.0) / nch;
    c[0] = std::cos(delta * nch);
    c[nch] = 0.5 * c[0];
    for (int j = 1; j < nch; j++) {
        c[j] = 0.5 * std::cos(delta * j);
        c[nc - j] = 0.5 * std::sin(delta * j);
    }
}

void cdft(int n, int isgn, double *a, int *ip, double *w, long ipsize, long wsize)
{
    check_length("cdft", "the length n", n, 2);
    check_pointer("cdft", "the data a", a);
    Tables tb = prepare("cdft", ip, w, n, 4, 0, 0, ipsize, wsize);
    if (isgn >= 0)
        cftfsub(n, a, ip, tb.nw, w);
    else
        cftbsub(n, a, ip, tb.nw, w);
}

void rdft(int n, int isgn, double *a, int *ip, double *w, long ipsize, long wsize)
{
    check_length("rdft", "the length n", n, 2);
    check_pointer("rdft", "the data a", a);
    Tables tb = prepare("rdft", ip, w, n, 4, n, 4, ipsize, wsize);
    rdftsub(n, isgn, a, ip, tb.nw, w, tb.nc, tb.c);
}

namespace {

void ddxt(const char *who, bool sine, int n, int isgn, double *a, int *ip, double *w, long ipsize,
          long wsize)
{
    check_length(who, "the length n", n, 1);
    check_pointer(who, "the data a", a);
    Tables tb = prepare(who, ip, w, n, 4, n, 1, ipsize, wsize);
    ddxtsub(sine, n, isgn, a, ip, w, tb);
}

} // namespace

void ddct(int n, int isgn, double *a, int *ip, double *w, long ipsize, long wsize)
{
    ddxt("ddct", false, n, isgn, a, ip, w, ipsize, wsize);
}

void ddst(int n, int isgn, double *a, int *ip, double *w, long ipsize, long wsize)
{
    ddxt("ddst", true, n, isgn, a, ip, w, ipsize, wsize);
}

// C[2q+1] is the cosine transform (ddct, isgn >= 0) of the n/2 differences
// a[j] - a[n-j]; C[2q] is the same kind of transform of n/2 + 1 points, the
// sums a[j] + a[n-j], and is split again the same way.  The sums of every
// level are kept in t at t[n/2 - j], the differences of the next level go
// in front of them.
void dfct(int n, double *a, double *t, int *ip, double *w, long ipsize, long wsize, long tsize)
{
    check_length("dfct", "the length n", n, 2);
    check_pointer("dfct", "the data a", a);
    check_pointer("dfct", "the work area t", t);
    check_work("dfct", n / 2 + 1, tsize);
    Tables tb = prepare("dfct", ip, w, n, 8, n, 2, ipsize, wsize);
    const int m = n >> 1;
    for (int j = 0; j < m; j++) {
        const double x = a[j], y = a[n - j];
        a[j] = x - y;
        t[m - j] = x + y;
    }
    t[0] = a[m];
    dct3(m, a, ip, tb.nw, w, tb.nc, tb.c);
    for (int q = m - 1; q >= 0; q--)
        a[2 * q + 1] = a[q];
    int M = m, L = 2;
    while (M >= 2) {
        const int h = M >> 1;
        for (int j = 0; j < h; j++) {
            const double x = t[m - j], y = t[m - M + j];
            t[j] = x - y;
            t[m - j] = x + y;
        }
        dct3(h, t, ip, tb.nw, w, tb.nc, tb.c);
        for (int q = 0; q < h; q++)
            a[L * (2 * q + 1)] = t[q];
        M = h;
        L <<= 1;
    }
    a[0] = t[m] + t[m - 1];
    a[n] = t[m] - t[m - 1];
}

// S[2q+1] is the sine transform (ddst, isgn >= 0) of the n/2 sums
// a[j] + a[n-j] (with a[n/2] as the last point); S[2q] is the same kind of
// transform of the n/2 differences a[j] - a[n-j], split again the same way.
// The differences of every level are kept in t[1..], the sums of the next
// level go into the upper half of the current one, already reversed.
void dfst(int n, double *a, double *t, int *ip, double *w, long ipsize, long wsize, long tsize)
{
    check_length("dfst", "the length n", n, 2);
    check_pointer("dfst", "the data a", a);
    check_pointer("dfst", "the work area t", t);
    check_work("dfst", n / 2, tsize);
    Tables tb = prepare("dfst", ip, w, n, 8, n, 2, ipsize, wsize);
    const int m = n >> 1;
    // The reversed sums b[j'] = a[m-j'] + a[m+j'] go to a[j'], b[0] = a[m].
    for (int j = 1; 2 * j <= m; j++) {
        const int j2 = m - j;
        const double x0 = a[j], y0 = a[n - j], x1 = a[j2], y1 = a[n - j2];
        t[j] = x0 - y0;
        t[j2] = x1 - y1;
        a[j2] = x0 + y0;
        a[j] = x1 + y1;
    }
    a[0] = a[m];
    dct3(m, a, ip, tb.nw, w, tb.nc, tb.c);
    for (int q = m - 1; q >= 0; q--)
        a[2 * q + 1] = (q & 1) ? -a[q] : a[q];
    int M = m, L = 2;
    while (M >= 2) {
        const int h = M >> 1;
        for (int j = 1; j < h; j++) {
            const double x = t[j], y = t[M - j];
            t[j] = x - y;
            t[M - j] = x + y;
        }
        dct3(h, t + h, ip, tb.nw, w, tb.nc, tb.c);
        for (int q = 0; q < h; q++)
            a[L * (2 * q + 1)] = (q & 1) ? -t[h + q] : t[h + q];
        M = h;
        L <<= 1;
    }
    a[0] = 0;
}
