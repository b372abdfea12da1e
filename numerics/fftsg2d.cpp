// Two-dimensional transforms on the one-dimensional split-radix machinery:
// rows and columns are gathered a few at a time into the contiguous work
// area t, transformed there and scattered back.
#include "numerics/fftsg.h"

#include "numerics/fftsg_core.h"

#include "numerics/nrutil.h"

#include <cstdio>
#include <cstdlib>
#include <type_traits>

using namespace fftcore;

namespace {

// The caller's work area, or one of need doubles allocated here.
double *work_area(double *t, long need)
{
    if (t != nullptr)
        return t;
    t = static_cast<double *>(malloc(sizeof(double) * need));
    if (t == nullptr) {
        fprintf(stderr, "fft2d memory allocation error\n");
        exit(1);
    }
    return t;
}

long cdft2d_work(int n1, int n2)
{
    return n2 > 4 ? 8L * n1 : n2 == 4 ? 4L * n1 : 2L * n1;
}

// The work area the column passes use when they allocate it themselves:
// blocks of up to 16 complex columns (see with_block).
long wide_work(int n1, int n2)
{
    const long columns = n2 / 2 < 16 ? n2 / 2 : 16;
    const long wide = 2L * n1 * columns;
    const long need = cdft2d_work(n1, n2);
    return wide > need ? wide : need;
}

// The caller's work area t of tsize doubles (need when not stated), or one
// allocated here (wide_work); *tlen receives its length.
double *column_area(double *t, long tsize, long need, int n1, int n2, long *tlen)
{
    if (t != nullptr) {
        *tlen = tsize > need ? tsize : need;
        return t;
    }
    *tlen = wide_work(n1, n2);
    return work_area(nullptr, *tlen);
}

long ddxt2d_work(int n1, int n2)
{
    return n2 > 2 ? 4L * n1 : n2 == 2 ? 2L * n1 : 1L * n1;
}

void check_rows(const char *who, double **a, int n1)
{
    check_pointer(who, "the data a", a);
    for (int i = 0; i < n1; i++)
        check_pointer(who, "a row of the data a", a[i]);
}

// Checks of cdft2d and rdft2d; returns the size of the column work area.
long check_complex_grid(const char *who, int n1, int n2, double **a, long tsize)
{
    check_length(who, "the number of rows n1", n1, 1);
    check_length(who, "the row length n2", n2, 2);
    check_rows(who, a, n1);
    const long need = cdft2d_work(n1, n2);
    check_work(who, need, tsize);
    return need;
}

// The tables of the transforms of n1 rows of n2 doubles: a cos/sin table
// for the longer of a row (n2 doubles) and a column (2 n1 doubles), and
// with real (the rows by the real transform) a cosine table for a row.
Tables grid_tables(const char *who, int n1, int n2, bool real, int *ip, double *w, long ipsize,
                   long wsize)
{
    const long n = 2L * n1 > n2 ? 2L * n1 : n2;
    return prepare(who, ip, w, n, 4, real ? n2 : 0, real ? 4 : 0, ipsize, wsize);
}

// The passes below run the one-dimensional kernels on V rows or columns at
// once (lanes, see fftsg_core.h): the lanes are gathered into the work area
// t, transformed there and scattered back.  A column block of V complex
// columns takes 2V doubles of every row, so that a pass reads whole cache
// lines, and the kernels' inner loops over the lanes become vector
// instructions.  Each lane gets exactly the numbers of the one-lane kernel.
template <int V>
constexpr int D = 2 * V;

template <int V>
void cft_lanes(int isgn, int n, double *t, const int *ip, int nw, const double *w)
{
    if constexpr (V == 1) {
        if (isgn >= 0)
            cftfsub(n, t, ip, nw, w);
        else
            cftbsub(n, t, ip, nw, w);
    } else {
        if (isgn >= 0)
            cftfsubv<V>(n, t, ip, nw, w);
        else
            cftbsubv<V>(n, t, ip, nw, w);
    }
}

template <int V>
void rft_lanes(bool back, int n, double *t, int nc, const double *c)
{
    if constexpr (V == 1) {
        if (back)
            rftbsub(n, t, nc, c);
        else
            rftfsub(n, t, nc, c);
    } else {
        if (back)
            rftbsubv<V>(n, t, nc, c);
        else
            rftfsubv<V>(n, t, nc, c);
    }
}

// A column block: S groups of V complex columns, doubles j .. j + 2SV - 1
// of every row, read in one pass over the rows (whole cache lines) into S
// lane areas of n1 points, area g at t + g*2V*n1.  Rows for which live says
// 0 (by default those from nrows on) count as zero and are not read.
template <int V, int S>
void gather_cols(int n1, int nrows, const char *live, double *const *a, int j, double *t)
{
    const long area = static_cast<long>(D<V>) * n1;
    for (int i = 0; i < n1; i++) {
        double *__restrict d = t + D<V> * i;
        if (live ? live[i] == 0 : i >= nrows) {
            for (int g = 0; g < S; g++)
                for (int c = 0; c < D<V>; c++)
                    d[g * area + c] = 0;
            continue;
        }
        if (i + 8 < nrows)
            __builtin_prefetch(a[i + 8] + j, 0);
        const double *__restrict src = a[i] + j;
        for (int g = 0; g < S; g++) {
            for (int c = 0; c < V; c++) {
                d[g * area + c] = src[2 * (g * V + c)];
                d[g * area + V + c] = src[2 * (g * V + c) + 1];
            }
        }
    }
}

// The block back from t into rows 0 .. nrows - 1, but for the first C0
// lanes of area 0.
template <int V, int S, int C0 = 0>
void scatter_cols(int n1, int nrows, double *const *a, int j, const double *t)
{
    const long area = static_cast<long>(D<V>) * n1;
    for (int i = 0; i < nrows; i++) {
        // Rows lie a power of two apart and evict each other from the
        // cache: ask for the lines a few rows ahead.
        if (i + 8 < nrows)
            __builtin_prefetch(a[i + 8] + j, 1);
        const double *__restrict src = t + D<V> * i;
        double *__restrict d = a[i] + j;
        for (int g = 0; g < S; g++) {
            for (int c = g == 0 ? C0 : 0; c < V; c++) {
                d[2 * (g * V + c)] = src[g * area + c];
                d[2 * (g * V + c) + 1] = src[g * area + V + c];
            }
        }
    }
}

// The n2 doubles of the rows r[0..V-1] into t as V lanes of n2/2 points,
// and back.
template <int V>
void gather_rows(int n2, double *const *r, double *t)
{
    for (int k = 0; k < n2 / 2; k++) {
        double *__restrict d = t + D<V> * k;
        for (int c = 0; c < V; c++) {
            d[c] = r[c][2 * k];
            d[V + c] = r[c][2 * k + 1];
        }
    }
}

template <int V>
void scatter_rows(int n2, double *const *r, const double *t)
{
    for (int k = 0; k < n2 / 2; k++) {
        const double *__restrict s = t + D<V> * k;
        for (int c = 0; c < V; c++) {
            r[c][2 * k] = s[c];
            r[c][2 * k + 1] = s[V + c];
        }
    }
}

// The lanes a row pass can use with a work area of tlen doubles.
int row_lanes(int n2, long tlen)
{
    if (four_lanes_fast() && n2 >= 8 && 4L * n2 <= tlen)
        return 4;
    return n2 >= 4 && 2L * n2 <= tlen ? 2 : 1;
}

// One kind of row transform on V rows gathered in t.
enum class rowop { cdft_forward, cdft_backward, rdft_forward, rdft_backward };

template <int V>
void row_kernel(rowop op, int n2, double *t, const int *ip, const Tables &tb, const double *w)
{
    switch (op) {
    case rowop::cdft_forward:
    case rowop::cdft_backward:
        cft_lanes<V>(op == rowop::cdft_forward ? 1 : -1, n2, t, ip, tb.nw, w);
        break;
    case rowop::rdft_forward:
        // rdft: the complex transform of the n2/2 pairs, the real-data step,
        // then R[0] and R[n2/2] from the first pair.
        if (n2 >= 4)
            cft_lanes<V>(1, n2, t, ip, tb.nw, w);
        if (n2 > 4)
            rft_lanes<V>(false, n2, t, tb.nc, tb.c);
        for (int c = 0; c < V; c++) {
            const double xi = t[c] - t[V + c];
            t[c] += t[V + c];
            t[V + c] = xi;
        }
        break;
    case rowop::rdft_backward:
        for (int c = 0; c < V; c++) {
            t[V + c] = 0.5 * (t[c] - t[V + c]);
            t[c] -= t[V + c];
        }
        if (n2 > 4)
            rft_lanes<V>(true, n2, t, tb.nc, tb.c);
        if (n2 >= 4)
            cft_lanes<V>(-1, n2, t, ip, tb.nw, w);
        break;
    }
}

// The row transform op on every row i of 0 .. n1 - 1 that live marks (by
// default the rows below nrows), V rows at a time through t where it is
// large enough (tlen doubles), the rest in place.
void row_pass(rowop op, int n1, int nrows, const char *live, int n2, double **a, double *t,
              long tlen, const int *ip, const Tables &tb, const double *w)
{
    const int lanes = row_lanes(n2, tlen);
    double *rows[4];
    int k = 0;
    for (int i = 0; i < n1; i++) {
        if (live ? live[i] == 0 : i >= nrows)
            continue;
        rows[k++] = a[i];
        if (k < lanes)
            continue;
        if (lanes == 4) {
            gather_rows<4>(n2, rows, t);
            row_kernel<4>(op, n2, t, ip, tb, w);
            scatter_rows<4>(n2, rows, t);
        } else if (lanes == 2) {
            gather_rows<2>(n2, rows, t);
            row_kernel<2>(op, n2, t, ip, tb, w);
            scatter_rows<2>(n2, rows, t);
        } else {
            row_kernel<1>(op, n2, rows[0], ip, tb, w);
        }
        k = 0;
    }
    for (int r = 0; r < k; r++)
        row_kernel<1>(op, n2, rows[r], ip, tb, w);
}

// Complex transforms along the columns of n1 rows of n2 doubles.
template <int V, int S>
void cftcols_lanes(int n1, int n2, int isgn, double **a, double *t, const int *ip, int nw,
                   const double *w)
{
    for (int j = 0; j < n2; j += S * D<V>) {
        gather_cols<V, S>(n1, n1, nullptr, a, j, t);
        for (int g = 0; g < S; g++)
            cft_lanes<V>(isgn, 2 * n1, t + g * D<V> * n1, ip, nw, w);
        scatter_cols<V, S>(n1, n1, a, j, t);
    }
}

// Calls f with the column block shape for rows of n2 doubles and a work
// area of tlen doubles: S groups of V complex columns, V = 4 where four
// lanes fill a vector register, else 2 (1 for a single column), S as large
// as the work area and the row allow, up to 16 columns.  Wide blocks read
// more of every row at once: rows a power of two apart evict each other
// from the cache, and a row that does not start on a cache line shares its
// lines with the neighbouring blocks.
template <class F>
void with_block(int n1, int n2, long tlen, F f)
{
    using std::integral_constant;
    if (n2 < 4) {
        f(integral_constant<int, 1>(), integral_constant<int, 1>());
        return;
    }
    const bool four = four_lanes_fast() && n2 >= 8;
    const int v = four ? 4 : 2;
    long groups = tlen / (2L * v * n1);
    if (groups > n2 / (2 * v))
        groups = n2 / (2 * v);
    if (four) {
        if (groups >= 4)
            f(integral_constant<int, 4>(), integral_constant<int, 4>());
        else if (groups >= 2)
            f(integral_constant<int, 4>(), integral_constant<int, 2>());
        else
            f(integral_constant<int, 4>(), integral_constant<int, 1>());
    } else if (groups >= 8) {
        f(integral_constant<int, 2>(), integral_constant<int, 8>());
    } else if (groups >= 4) {
        f(integral_constant<int, 2>(), integral_constant<int, 4>());
    } else if (groups >= 2) {
        f(integral_constant<int, 2>(), integral_constant<int, 2>());
    } else {
        f(integral_constant<int, 2>(), integral_constant<int, 1>());
    }
}

void cftcols(int n1, int n2, int isgn, double **a, double *t, long tlen, const int *ip, int nw,
             const double *w)
{
    with_block(n1, n2, tlen, [&](auto v, auto g) {
        cftcols_lanes<decltype(v)::value, decltype(g)::value>(n1, n2, isgn, a, t, ip, nw, w);
    });
}

// Column 0 of a real transform holds, as one complex column, the columns
// k2 = 0 and k2 = n2/2 of the spectrum: Z = P + iQ with P and Q transforms
// of real data.  Their points k1 come from Z[k1] and Z[-k1]:
// 2P = Z[k1] + conj Z[-k1], 2Q = (Z[k1] - conj Z[-k1]) / i; and
// P[-k1] = conj P[k1], Q[-k1] = conj Q[k1].  Lane 0 of the V lanes in t.
struct split_point {
    double pr, pi, qr, qi; // 2P and 2Q
};

template <int V>
inline split_point split_column0(const double *t, int n1, int k1)
{
    const int m = (n1 - k1) & (n1 - 1);
    const double zr = t[D<V> * k1], zi = t[D<V> * k1 + V];
    const double mr = t[D<V> * m], mi = t[D<V> * m + V];
    return {zr + mr, zi - mi, zi + mi, mr - zr};
}

// (2P h0 + i 2Q hn) for the point of the row h (h0 = h[0..1],
// hn = h[n2..n2+1]), written to x[0] and x[V].
template <int V>
inline void join_column0(double pr, double pi, double qr, double qi, const double *h, int n2,
                         double *x)
{
    const double ar = pr * h[0] - pi * h[1], ai = pr * h[1] + pi * h[0];
    const double br = qr * h[n2] - qi * h[n2 + 1], bi = qr * h[n2 + 1] + qi * h[n2];
    x[0] = ar - bi;
    x[V] = ai + br;
}

// Lanes C0 .. V - 1 of t times the spectrum h at columns j/2 + c, doubled.
template <int V, int C0>
void multiply_lanes(int n1, double *const *h, int j, double *t)
{
    for (int k1 = 0; k1 < n1; k1++) {
        double *__restrict x = t + D<V> * k1;
        const double *__restrict y = h[k1] + j;
        for (int c = C0; c < V; c++) {
            const double xr = x[c], xi = x[V + c];
            x[c] = 2 * (xr * y[2 * c] - xi * y[2 * c + 1]);
            x[V + c] = 2 * (xr * y[2 * c + 1] + xi * y[2 * c]);
        }
    }
}

// The column pass of a convolution of real rows: forward, times the
// spectrum h, backward, for one column block.  Every product is doubled,
// which makes the backward real transform of the rows the exact inverse of
// the forward one (it returns half of it).
template <int V, int S>
void convolve_cols(int n1, int n2, int nrows, double **a, double *const *h, int j, double *t,
                   const int *ip, int nw, const double *w)
{
    gather_cols<V, S>(n1, nrows, nullptr, a, j, t);
    for (int g = 0; g < S; g++) {
        double *tg = t + g * D<V> * n1;
        const int jg = j + g * D<V>;
        cft_lanes<V>(1, 2 * n1, tg, ip, nw, w);
        if (jg == 0) {
            for (int k1 = 0; k1 < n1; k1++) {
                const int m = (n1 - k1) & (n1 - 1);
                if (m < k1)
                    continue;
                const split_point p = split_column0<V>(tg, n1, k1);
                join_column0<V>(p.pr, -p.pi, p.qr, -p.qi, h[m], n2, tg + D<V> * m);
                if (m != k1)
                    join_column0<V>(p.pr, p.pi, p.qr, p.qi, h[k1], n2, tg + D<V> * k1);
            }
            multiply_lanes<V, 1>(n1, h, jg, tg);
        } else {
            multiply_lanes<V, 0>(n1, h, jg, tg);
        }
        cft_lanes<V>(-1, 2 * n1, tg, ip, nw, w);
    }
    scatter_cols<V, S>(n1, nrows, a, j, t);
}

// The column pass of the forward transform of real rows, for one column
// block; column 0 is split into the spectrum's columns 0 (at a[k1][0..1])
// and n2/2 (at a[k1][n2..n2+1]).
template <int V, int S>
void spectrum_cols(int n1, int n2, const char *live, double **a, int j, double *t, const int *ip,
                   int nw, const double *w)
{
    gather_cols<V, S>(n1, n1, live, a, j, t);
    for (int g = 0; g < S; g++)
        cft_lanes<V>(1, 2 * n1, t + g * D<V> * n1, ip, nw, w);
    if (j != 0) {
        scatter_cols<V, S>(n1, n1, a, j, t);
        return;
    }
    scatter_cols<V, S, 1>(n1, n1, a, j, t);
    for (int k1 = 0; k1 < n1; k1++) {
        const split_point p = split_column0<V>(t, n1, k1);
        a[k1][0] = 0.5 * p.pr;
        a[k1][1] = 0.5 * p.pi;
        a[k1][n2] = 0.5 * p.qr;
        a[k1][n2 + 1] = 0.5 * p.qi;
    }
}

// The column passes of real rows over all n2/2 complex columns, in blocks
// of four (or of all of them when there are fewer).
template <int V, int S>
void convolve_pass(int n1, int n2, int nrows, double **a, double *const *h, double *t,
                   const int *ip, int nw, const double *w)
{
    for (int j = 0; j < n2; j += S * D<V>)
        convolve_cols<V, S>(n1, n2, nrows, a, h, j, t, ip, nw, w);
}

template <int V, int S>
void spectrum_pass(int n1, int n2, const char *live, double **a, double *t, const int *ip, int nw,
                   const double *w)
{
    for (int j = 0; j < n2; j += S * D<V>)
        spectrum_cols<V, S>(n1, n2, live, a, j, t, ip, nw, w);
}

// Cosine or sine transforms along the columns of n1 rows of n2 doubles.
void ddxtcols(bool sine, int n1, int n2, int isgn, double **a, double *t, const int *ip,
              const Tables &tb, const double *w)
{
    const int cols = n2 > 4 ? 4 : n2;
    for (int j = 0; j < n2; j += cols) {
        for (int i = 0; i < n1; i++)
            for (int c = 0; c < cols; c++)
                t[c * n1 + i] = a[i][j + c];
        for (int c = 0; c < cols; c++)
            ddxtsub(sine, n1, isgn, t + c * n1, ip, w, tb);
        for (int i = 0; i < n1; i++)
            for (int c = 0; c < cols; c++)
                a[i][j + c] = t[c * n1 + i];
    }
}

void ddxt2d(const char *who, bool sine, int n1, int n2, int isgn, double **a, double *t, int *ip,
            double *w, long ipsize, long wsize, long tsize)
{
    check_length(who, "the number of rows n1", n1, 1);
    check_length(who, "the row length n2", n2, 1);
    check_rows(who, a, n1);
    const long need = ddxt2d_work(n1, n2);
    check_work(who, need, tsize);
    const long nmax = n1 > n2 ? n1 : n2;
    Tables tb = prepare(who, ip, w, nmax, 4, nmax, 1, ipsize, wsize);
    double *tw = work_area(t, need);
    for (int i = 0; i < n1; i++)
        ddxtsub(sine, n2, isgn, a[i], ip, w, tb);
    ddxtcols(sine, n1, n2, isgn, a, tw, ip, tb, w);
    if (t == nullptr)
        free(tw);
}

} // namespace

void cdft2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize,
            long wsize, long tsize)
{
    const long need = check_complex_grid("cdft2d", n1, n2, a, tsize);
    Tables tb = grid_tables("cdft2d", n1, n2, false, ip, w, ipsize, wsize);
    long tlen = 0;
    double *tw = column_area(t, tsize, need, n1, n2, &tlen);
    row_pass(isgn >= 0 ? rowop::cdft_forward : rowop::cdft_backward, n1, n1, nullptr, n2, a, tw,
             tlen, ip, tb, w);
    cftcols(n1, n2, isgn, a, tw, tlen, ip, tb.nw, w);
    if (t == nullptr)
        free(tw);
}

// Rows by the real transform, then columns by the complex one.  Column 0
// holds the k2 = 0 and k2 = n2/2 columns as real and imaginary part of one
// complex column; their transforms are separated by the symmetry of real
// data, X[n1-k1] = conj X[k1].
void rdft2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize,
            long wsize, long tsize)
{
    const long need = check_complex_grid("rdft2d", n1, n2, a, tsize);
    Tables tb = grid_tables("rdft2d", n1, n2, true, ip, w, ipsize, wsize);
    long tlen = 0;
    double *tw = column_area(t, tsize, need, n1, n2, &tlen);
    const int n1h = n1 >> 1;
    if (isgn < 0) {
        for (int i = 1; i < n1h; i++) {
            const int j = n1 - i;
            const double xi = a[i][0] - a[j][0];
            a[i][0] += a[j][0];
            a[j][0] = xi;
            const double xr = a[j][1] - a[i][1];
            a[i][1] += a[j][1];
            a[j][1] = xr;
        }
        cftcols(n1, n2, isgn, a, tw, tlen, ip, tb.nw, w);
    }
    for (int i = 0; i < n1; i++)
        rdftsub(n2, isgn, a[i], ip, tb.nw, w, tb.nc, tb.c);
    if (isgn >= 0) {
        cftcols(n1, n2, isgn, a, tw, tlen, ip, tb.nw, w);
        for (int i = 1; i < n1h; i++) {
            const int j = n1 - i;
            a[j][0] = 0.5 * (a[i][0] - a[j][0]);
            a[i][0] -= a[j][0];
            a[j][1] = 0.5 * (a[i][1] + a[j][1]);
            a[i][1] -= a[j][1];
        }
    }
    if (t == nullptr)
        free(tw);
}

void rdft2dsort(int n1, int n2, int isgn, double **a)
{
    check_length("rdft2dsort", "the number of rows n1", n1, 1);
    check_length("rdft2dsort", "the row length n2", n2, 2);
    check_rows("rdft2dsort", a, n1);
    const int n1h = n1 >> 1;
    // Rows 0 and n1/2 (one row when n1 = 1) hold only real values at k2 = 0
    // and k2 = n2/2.
    const int nreal = n1h > 0 ? 2 : 1;
    const int real_rows[2] = {0, n1h};
    if (isgn < 0) {
        for (int i = n1 - 1; i > n1h; i--) {
            a[i][0] = a[i][n2 + 1];
            a[i][1] = a[i][n2];
        }
        for (int r = 0; r < nreal; r++)
            a[real_rows[r]][1] = a[real_rows[r]][n2];
    } else {
        for (int i = n1 - 1; i > n1h; i--) {
            const int j = n1 - i;
            const double xr = a[i][1], xi = a[i][0];
            a[i][n2] = xr;
            a[i][n2 + 1] = xi;
            a[j][n2] = xr;
            a[j][n2 + 1] = -xi;
            a[i][0] = a[j][0];
            a[i][1] = -a[j][1];
        }
        for (int r = 0; r < nreal; r++) {
            double *row = a[real_rows[r]];
            row[n2] = row[1];
            row[n2 + 1] = 0;
            row[1] = 0;
        }
    }
}

void ddct2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize,
            long wsize, long tsize)
{
    ddxt2d("ddct2d", false, n1, n2, isgn, a, t, ip, w, ipsize, wsize, tsize);
}

void ddst2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize,
            long wsize, long tsize)
{
    ddxt2d("ddst2d", true, n1, n2, isgn, a, t, ip, w, ipsize, wsize, tsize);
}

void rdft2d_spectrum(int n1, int n2, double **a, const char *live, int full, double *t, int *ip,
                     double *w, long ipsize, long wsize, long tsize)
{
    const char *who = "rdft2d_spectrum";
    const long need = check_complex_grid(who, n1, n2, a, tsize);
    Tables tb = grid_tables(who, n1, n2, true, ip, w, ipsize, wsize);
    long tlen = 0;
    double *tw = column_area(t, tsize, need, n1, n2, &tlen);
    row_pass(rowop::rdft_forward, n1, n1, live, n2, a, tw, tlen, ip, tb, w);
    with_block(n1, n2, tlen, [&](auto v, auto g) {
        spectrum_pass<decltype(v)::value, decltype(g)::value>(n1, n2, live, a, tw, ip, tb.nw, w);
    });
    if (full) {
        // X[k1][k2] = conj X[-k1][n2 - k2] for the columns beyond n2/2.
        for (int k1 = 0; k1 < n1; k1++) {
            const double *m = a[(n1 - k1) & (n1 - 1)];
            double *x = a[k1];
            for (int k2 = n2 / 2 + 1; k2 < n2; k2++) {
                x[2 * k2] = m[2 * (n2 - k2)];
                x[2 * k2 + 1] = -m[2 * (n2 - k2) + 1];
            }
        }
    }
    if (t == nullptr)
        free(tw);
}

void rdft2d_convolve(int n1, int n2, double **a, int nrows, double *const *h, double *t, int *ip,
                     double *w, long ipsize, long wsize, long tsize)
{
    const char *who = "rdft2d_convolve";
    check_length(who, "the number of rows n1", n1, 1);
    check_length(who, "the row length n2", n2, 2);
    if (nrows < 0 || nrows > n1) {
        char text[120];
        snprintf(text, sizeof text, "%s: nrows must lie between 0 and n1 = %d, not %d", who, n1,
                 nrows);
        nrerror(text);
    }
    check_rows(who, a, nrows);
    check_rows(who, const_cast<double **>(h), n1);
    const long need = cdft2d_work(n1, n2);
    check_work(who, need, tsize);
    Tables tb = grid_tables(who, n1, n2, true, ip, w, ipsize, wsize);
    if (nrows == 0)
        return;
    long tlen = 0;
    double *tw = column_area(t, tsize, need, n1, n2, &tlen);
    row_pass(rowop::rdft_forward, n1, nrows, nullptr, n2, a, tw, tlen, ip, tb, w);
    with_block(n1, n2, tlen, [&](auto v, auto g) {
        convolve_pass<decltype(v)::value, decltype(g)::value>(n1, n2, nrows, a, h, tw, ip, tb.nw,
                                                              w);
    });
    row_pass(rowop::rdft_backward, n1, nrows, nullptr, n2, a, tw, tlen, ip, tb, w);
    if (t == nullptr)
        free(tw);
}
