// The kernels of the split-radix complex transform and of the real-data
// step, as templates over the number of lanes.  Internal to the numerics
// library: every file that includes it gets its own copies (the anonymous
// namespace), compiled with that file's instruction set, so the same
// kernels serve the baseline build and, where the processor has it, the
// AVX2 build of fftsg_avx2.cpp.
//
// The complex transform is a decimation-in-frequency split-radix recursion:
// one stage turns a block of L points into a block of L/2 points and two
// twiddled blocks of L/4 points whose transforms give the outputs 2k, 4k+1
// and 4k+3; blocks of 16 and 8 points end the recursion in fixed kernels.
// The outputs come out in bit-reversed order and one permutation at the end
// puts them in natural order.  The backward transform conjugates the data on
// the way into the first stage and on the way out of the permutation.
//
// Twiddles come from the cos/sin table: for a block of L points the table of
// L/4 entries starts at w[nw - L/2].  It holds exp(2*pi*i*p/L) and
// exp(6*pi*i*p/L) for even p below L/8; the odd p lie half-way between two
// even ones and are rebuilt from their neighbours, and p above L/8 mirror
// those below.
#ifndef NUMERICS_FFTSG_KERNELS_H
#define NUMERICS_FFTSG_KERNELS_H

// The vector types stay inside the inline kernels of the including file,
// so the calling convention of 32-byte vectors without AVX is of no
// concern.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#define FFT_INLINE inline __attribute__((always_inline))

namespace fftcore {

namespace {

// The kernels work on V sequences at once ("lanes"), so that the passes of
// the two-dimensional transforms can run them on several rows or columns
// with vector instructions.  A point of the V lanes takes D = 2V doubles:
// the V real parts, then the V imaginary parts; with V = 1 this is the usual
// interleaved complex sequence.  The V parts are handled as one value of the
// compiler's vector type, whose operations act on every element as the
// scalar operation would: every lane goes through exactly the arithmetic of
// the one-lane kernel.
template <int V>
constexpr int D = 2 * V;

template <int V>
struct lane_type;
template <>
struct lane_type<1> {
    typedef double type;
};
template <>
struct lane_type<2> {
    typedef double type __attribute__((vector_size(16), aligned(8), may_alias));
};
template <>
struct lane_type<4> {
    typedef double type __attribute__((vector_size(32), aligned(8), may_alias));
};
template <int V>
using lanes = typename lane_type<V>::type;

// The vector types may alias doubles and need no more than their
// alignment, so the loads and stores go straight to the data.
template <int V>
FFT_INLINE lanes<V> load(const double *p)
{
    return *reinterpret_cast<const lanes<V> *>(p);
}

template <int V>
FFT_INLINE void store(double *p, const lanes<V> &v)
{
    *reinterpret_cast<lanes<V> *>(p) = v;
}

// The real and imaginary parts of a point.
template <int V>
struct cpx {
    lanes<V> r, i;
};

template <int V>
FFT_INLINE cpx<V> get(const double *p)
{
    return {load<V>(p), load<V>(p + V)};
}

template <int V>
FFT_INLINE void put(double *p, const cpx<V> &x)
{
    store<V>(p, x.r);
    store<V>(p + V, x.i);
}

// Two points: X0 = x0 + x1, X1 = x0 - x1 (either sign).
template <int V>
FFT_INLINE void cft2(double *a)
{
    const cpx<V> x0 = get<V>(a), x1 = get<V>(a + D<V>);
    put<V>(a, {x0.r + x1.r, x0.i + x1.i});
    put<V>(a + D<V>, {x0.r - x1.r, x0.i - x1.i});
}

// Four points: the sums and differences of x0, x2 and of x1, x3.
template <int V>
struct quad {
    cpx<V> s02, d02, s13, d13;
    FFT_INLINE explicit quad(const double *a)
    {
        const cpx<V> p0 = get<V>(a), p1 = get<V>(a + D<V>);
        const cpx<V> p2 = get<V>(a + 2 * D<V>), p3 = get<V>(a + 3 * D<V>);
        s02 = {p0.r + p2.r, p0.i + p2.i};
        d02 = {p0.r - p2.r, p0.i - p2.i};
        s13 = {p1.r + p3.r, p1.i + p3.i};
        d13 = {p1.r - p3.r, p1.i - p3.i};
    }
};

// Four points, exp(+), output in bit-reversed order (X0, X2, X1, X3).
template <int V>
FFT_INLINE void cft4br(double *a)
{
    const quad<V> x(a);
    put<V>(a, {x.s02.r + x.s13.r, x.s02.i + x.s13.i});
    put<V>(a + D<V>, {x.s02.r - x.s13.r, x.s02.i - x.s13.i});
    put<V>(a + 2 * D<V>, {x.d02.r - x.d13.i, x.d02.i + x.d13.r});
    put<V>(a + 3 * D<V>, {x.d02.r + x.d13.i, x.d02.i - x.d13.r});
}

// Four points in natural order; sgn > 0 for exp(+), sgn < 0 for exp(-).
template <int V>
FFT_INLINE void cft4(double *a, int sgn)
{
    quad<V> x(a);
    if (sgn < 0)
        x.d13 = {-x.d13.r, -x.d13.i};
    put<V>(a, {x.s02.r + x.s13.r, x.s02.i + x.s13.i});
    put<V>(a + D<V>, {x.d02.r - x.d13.i, x.d02.i + x.d13.r});
    put<V>(a + 2 * D<V>, {x.s02.r - x.s13.r, x.s02.i - x.s13.i});
    put<V>(a + 3 * D<V>, {x.d02.r + x.d13.i, x.d02.i - x.d13.r});
}

// One split-radix butterfly on the points a0, a0 + q, a0 + 2q, a0 + 3q
// (q in doubles): x0 + x2 and x1 + x3 stay, (x0 - x2 + i(x1 - x3))*w1 and
// (x0 - x2 - i(x1 - x3))*w3 go to the third and fourth place.  Conj takes
// the complex conjugate of the inputs first.
template <bool Conj, int V>
FFT_INLINE void srbfly(double *a0, int q, double w1r, double w1i, double w3r, double w3i)
{
    const cpx<V> p0 = get<V>(a0), p1 = get<V>(a0 + q);
    const cpx<V> p2 = get<V>(a0 + 2 * q), p3 = get<V>(a0 + 3 * q);
    const lanes<V> x0r = p0.r + p2.r, x1r = p0.r - p2.r;
    const lanes<V> x2r = p1.r + p3.r, x3r = p1.r - p3.r;
    lanes<V> x0i = p0.i + p2.i, x1i = p0.i - p2.i;
    lanes<V> x2i = p1.i + p3.i, x3i = p1.i - p3.i;
    if (Conj) {
        x0i = -x0i;
        x1i = -x1i;
        x2i = -x2i;
        x3i = -x3i;
    }
    put<V>(a0, {x0r, x0i});
    put<V>(a0 + q, {x2r, x2i});
    lanes<V> yr = x1r - x3i, yi = x1i + x3r;
    put<V>(a0 + 2 * q, {yr * w1r - yi * w1i, yr * w1i + yi * w1r});
    yr = x1r + x3i;
    yi = x1i - x3r;
    put<V>(a0 + 3 * q, {yr * w3r - yi * w3i, yr * w3i + yi * w3r});
}

// One split-radix stage over a block of L >= 32 points with its table tb.
template <bool Conj, int V>
void cftstage(int L, double *a, const double *tb)
{
    const int q = (L >> 2) * D<V>;
    const int l4 = L >> 2, l16 = L >> 4;
    const double wn4r = tb[1], csc1 = tb[2], csc3 = tb[3];
    srbfly<Conj, V>(a, q, 1, 0, 1, 0);
    // Twiddles of the even point below the current one.
    double p1r = 1, p1i = 0, p3r = 1, p3i = 0;
    for (int g = 1; g <= l16; g++) {
        double c1r, c1i, c3r, c3i;
        if (g < l16) {
            c1r = tb[4 * g];
            c1i = tb[4 * g + 1];
            c3r = tb[4 * g + 2];
            c3i = -tb[4 * g + 3];
        } else { // p = L/8: exp(i*pi/4) and exp(3i*pi/4)
            c1r = wn4r;
            c1i = wn4r;
            c3r = -wn4r;
            c3i = wn4r;
        }
        // The odd point between: the sum of the two neighbours, rescaled.
        double m1r = csc1 * (p1r + c1r), m1i = csc1 * (p1i + c1i);
        double m3r = csc3 * (p3r + c3r), m3i = csc3 * (p3i + c3i);
        int p = 2 * g - 1;
        srbfly<Conj, V>(a + D<V> * p, q, m1r, m1i, m3r, m3i);
        // Point L/4 - p: w1 -> i*conj(w1), w3 -> -i*conj(w3).
        srbfly<Conj, V>(a + D<V> * (l4 - p), q, m1i, m1r, -m3i, -m3r);
        p = 2 * g;
        srbfly<Conj, V>(a + D<V> * p, q, c1r, c1i, c3r, c3i);
        if (g < l16)
            srbfly<Conj, V>(a + D<V> * (l4 - p), q, c1i, c1r, -c3i, -c3r);
        p1r = c1r;
        p1i = c1i;
        p3r = c3r;
        p3i = c3i;
    }
}

// Eight points, exp(+), output in bit-reversed order.
template <int V>
void cft8br(double *a, double wn4r)
{
    srbfly<false, V>(a, 2 * D<V>, 1, 0, 1, 0);
    srbfly<false, V>(a + D<V>, 2 * D<V>, wn4r, wn4r, -wn4r, wn4r);
    cft4br<V>(a);
    cft2<V>(a + 4 * D<V>);
    cft2<V>(a + 6 * D<V>);
}

// Sixteen points, exp(+), output in bit-reversed order; tb is the table of
// four entries (tb[1] = cos(pi/4), tb[2..3] = cos, sin of pi/8).
template <int V>
void cft16br(double *a, const double *tb)
{
    const double wn4r = tb[1], c = tb[2], s = tb[3];
    srbfly<false, V>(a, 4 * D<V>, 1, 0, 1, 0);
    srbfly<false, V>(a + D<V>, 4 * D<V>, c, s, s, c);
    srbfly<false, V>(a + 2 * D<V>, 4 * D<V>, wn4r, wn4r, -wn4r, wn4r);
    srbfly<false, V>(a + 3 * D<V>, 4 * D<V>, s, c, -c, -s);
    cft8br<V>(a, wn4r);
    cft4br<V>(a + 8 * D<V>);
    cft4br<V>(a + 12 * D<V>);
}

// Transform of a block of L >= 8 points (any block the recursion makes).
template <int V>
void cftrec(int L, double *a, int nw, const double *w)
{
    if (L > 16) {
        cftstage<false, V>(L, a, w + nw - (L >> 1));
        cftrec<V>(L >> 1, a, nw, w);
        cftrec<V>(L >> 2, a + (L >> 1) * D<V>, nw, w);
        cftrec<V>(L >> 2, a + (3 * L >> 2) * D<V>, nw, w);
    } else if (L == 16) {
        cft16br<V>(a, w + nw - 8);
    } else {
        cft8br<V>(a, w[nw - 3]);
    }
}

// Copies a point; conj also conjugates it.
template <int V>
FFT_INLINE void put_point(double *dst, const double *src, bool conj)
{
    const cpx<V> x = get<V>(src);
    put<V>(dst, {x.r, conj ? -x.i : x.i});
}

// Bit-reversal permutation of N = 8 or 16 points; neg also negates the
// index (k -> -k mod N), which turns the exp(+) result into the exp(-) one.
template <int V>
void bitrv_small(int N, double *a, bool neg)
{
    double tmp[32 * V];
    for (int k = 0; k < N * D<V>; k++)
        tmp[k] = a[k];
    const int bits = N == 8 ? 3 : 4;
    for (int k = 0; k < N; k++) {
        int src = neg ? (N - k) & (N - 1) : k;
        int r = 0;
        for (int b = 0; b < bits; b++)
            r |= ((src >> b) & 1) << (bits - 1 - b);
        put_point<V>(a + D<V> * k, tmp + D<V> * r, false);
    }
}

// Swaps points i and r (point indices); conj also conjugates both.
template <int V>
FFT_INLINE void swap_points(double *a, int i, int r, bool conj)
{
    const cpx<V> x = get<V>(a + D<V> * i), y = get<V>(a + D<V> * r);
    put<V>(a + D<V> * i, {y.r, conj ? -y.i : y.i});
    put<V>(a + D<V> * r, {x.r, conj ? -x.i : x.i});
}

// Bit-reversal permutation of n/2 >= 32 points by the seeds in ip; conj also
// conjugates every point.  With n = 4*l*m*m (l = 4 or 8), a point index is
// A*(N/m) + B*m + C with A, C < m and B < 2l; its reverse is
// rev(C)*(N/m) + rev(B)*m + rev(A), and ip[m + k] = 8*m*rev(k).
template <int V>
void bitrv2(int n, const int *ip, double *a, bool conj)
{
    static const int rev8[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    static const int rev16[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    int m = 1, l = n >> 2;
    while (l > 8) {
        m <<= 1;
        l >>= 2;
    }
    const int nb = 2 * l;
    const int *rb = nb == 8 ? rev8 : rev16;
    const int N = n >> 1, stride = N / m, unit = 8 * m;
    const int *seed = ip + m;
    for (int A = 0; A < m; A++) {
        const int ra = seed[A] / unit;
        for (int C = 0; C < m; C++) {
            const int i0 = A * stride + C;
            const int r0 = seed[C] / unit * stride + ra;
            for (int B = 0; B < nb; B++) {
                const int i = i0 + B * m, r = r0 + rb[B] * m;
                if (i < r)
                    swap_points<V>(a, i, r, conj);
                else if (i == r && conj)
                    put_point<V>(a + D<V> * i, a + D<V> * i, true);
            }
        }
    }
}

// Transform of n > 32 doubles per lane: first stage, the three sub-blocks,
// order.
template <bool Conj, int V>
void cftlong(int n, double *a, const int *ip, int nw, const double *w)
{
    const int L = n >> 1;
    cftstage<Conj, V>(L, a, w + nw - (n >> 2));
    cftrec<V>(L >> 1, a, nw, w);
    cftrec<V>(L >> 2, a + (L >> 1) * D<V>, nw, w);
    cftrec<V>(L >> 2, a + (3 * L >> 2) * D<V>, nw, w);
    bitrv2<V>(n, ip, a, Conj);
}

// exp(+) for Back = false, exp(-) for Back = true: the same kernels, the
// backward transform conjugating on the way in and out (or negating the
// output index for the short lengths).
template <bool Back, int V>
void cftsub(int n, double *a, const int *ip, int nw, const double *w)
{
    if (n > 32) {
        cftlong<Back, V>(n, a, ip, nw, w);
    } else if (n == 32) {
        cft16br<V>(a, w + nw - 8);
        bitrv_small<V>(16, a, Back);
    } else if (n == 16) {
        cft8br<V>(a, w[nw - 3]);
        bitrv_small<V>(8, a, Back);
    } else if (n == 8) {
        cft4<V>(a, Back ? -1 : 1);
    } else if (n == 4) {
        cft2<V>(a);
    }
}

// Real-data step between the complex transform of the n/2 pairs Z and the
// transform F of the real data (M = n/2, t = 2*pi*k/n):
// forward F[k] = Z[k] - wk*(Z[k] - conj Z[M-k]) with wk = (1 - sin t + i cos t)/2,
// backward Z[k] = F[k] - conj(wk)*(F[k] - conj F[M-k]);
// c[kk] = cos(t)/2 and c[nc-kk] = sin(t)/2.
template <bool Back, int V>
void rftsub(int n, double *a, int nc, const double *c)
{
    const int m = n >> 1, ks = 2 * nc / m;
    int kk = 0;
    for (int j = 2; j < m; j += 2) {
        const int k = n - j;
        kk += ks;
        const double wkr = 0.5 - c[nc - kk], wki = Back ? -c[kk] : c[kk];
        double *pj = a + (j >> 1) * D<V>, *pk = a + (k >> 1) * D<V>;
        const cpx<V> xj = get<V>(pj), xk = get<V>(pk);
        const lanes<V> xr = xj.r - xk.r, xi = xj.i + xk.i;
        const lanes<V> yr = wkr * xr - wki * xi, yi = wkr * xi + wki * xr;
        put<V>(pj, {xj.r - yr, xj.i - yi});
        put<V>(pk, {xk.r + yr, xk.i - yi});
    }
}

} // namespace

} // namespace fftcore

#endif
