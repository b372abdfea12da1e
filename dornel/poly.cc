#include "dornel/poly.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dornel/sky_error.h"

using orv::MArray;

int gaussj(MArray<double, 2> &a, int n, MArray<double, 1> &b)
{
    MArray<int, 1> ipiv(n), indxr(n), indxc(n);
    ipiv = 0;
    indxr = 0;
    indxc = 0;
    for (int s = 1; s <= n; ++s) {
        double big = 0.0;
        int irow = 0, icol = 0;
        for (int r = 1; r <= n; ++r) {
            if (ipiv(r) == 1)
                continue;
            for (int c = 1; c <= n; ++c) {
                if (ipiv(c) != 0)
                    continue;
                if (std::fabs(a(r, c)) >= big) { // NaN is never taken
                    big = std::fabs(a(r, c));
                    irow = r;
                    icol = c;
                }
            }
        }
        // No candidate at all (every one NaN) is as singular as a zero pivot.
        if (icol == 0)
            return -1;
        ++ipiv(icol);
        if (irow != icol) {
            for (int l = 1; l <= n; ++l)
                std::swap(a(irow, l), a(icol, l));
            std::swap(b(irow), b(icol));
        }
        indxr(s) = irow;
        indxc(s) = icol;
        const double pivot = a(icol, icol);
        if (pivot == 0.0 || !std::isfinite(pivot))
            return -1;
        const double pivinv = 1.0 / pivot;
        a(icol, icol) = 1.0;
        for (int l = 1; l <= n; ++l)
            a(icol, l) *= pivinv;
        b(icol) *= pivinv;
        for (int k = 1; k <= n; ++k) {
            if (k == icol)
                continue;
            const double dum = a(k, icol);
            a(k, icol) = 0.0;
            for (int l = 1; l <= n; ++l)
                a(k, l) -= a(icol, l) * dum;
            b(k) -= b(icol) * dum;
        }
    }
    for (int s = n; s >= 1; --s) {
        if (indxr(s) == indxc(s))
            continue;
        for (int k = 1; k <= n; ++k)
            std::swap(a(k, indxr(s)), a(k, indxc(s)));
    }
    return 0;
}

namespace {

// The (order + 1)² coefficients of a surface of the given order. Order -1
// would leave no term (the powers or basis values would be written into
// empty buffers), and lower orders give garbage sizes: refused before
// anything is sized by them.
std::size_t termsOf(int order)
{
    if (order < 0)
        throw SkyError("the polynomial order must not be negative (it is " + std::to_string(order) +
                       ")");
    return static_cast<std::size_t>(order + 1) * static_cast<std::size_t>(order + 1);
}

// Walks the points of x, y, z, w together by position, whatever their first
// indices.
template <class T>
struct Points {
    const MArray<T, 1> &x;
    const MArray<T, 1> &y;
    const MArray<T, 1> &z;
    const MArray<T, 1> &w;
    int count() const { return x.length(1); }
    T at(const MArray<T, 1> &a, int k) const { return a(a.firstIndex(1) + k); }
};

// Adds one point, with term vector v, value z and weight iw2 = 1/w², to the
// upper triangle of the normal matrix A (m x m, row by row) and to B. With
// M > 0 the size is M, known at compile time.
template <int M>
inline void accumulate(int m, double *A, double *B, const double *v, double z, double iw2)
{
    const int size = M > 0 ? M : m;
    for (int i = 0; i < size; ++i) {
        double *row = A + static_cast<std::size_t>(i) * size;
        const double vi = v[i];
        for (int i2 = i; i2 < size; ++i2)
            row[i2] += vi * v[i2] * iw2;
        B[i] += vi * z * iw2;
    }
}

// Calls f with std::integral_constant<int, N> for the N of Ns that equals n,
// else with std::integral_constant<int, 0>: the common sizes get loops the
// compiler can unroll.
template <int... Ns, class F>
inline void withFixedSize(int n, F &&f)
{
    if (!((n == Ns && (f(std::integral_constant<int, Ns>()), true)) || ...))
        f(std::integral_constant<int, 0>());
}

// Normal equations of the weighted surface fit, solved into c. The term
// vector and the 1/w² of a point are formed once per point; the matrix is
// symmetric, so only its upper triangle is summed and then mirrored (the two
// halves would receive identical values).
template <class T>
int fitSurface(const Points<T> &p, int n, MArray<double, 1> &c)
{
    // Every point is read from all four arrays, and the powers x^0..x^n are
    // formed in place: both must hold before the first point is touched.
    const int m = static_cast<int>(termsOf(n));
    const int count = p.count();
    if (p.y.length(1) != count || p.z.length(1) != count || p.w.length(1) != count)
        throw SkyError("poly2d: x, y, z and w must hold the same number of points");
    std::vector<double> A(static_cast<std::size_t>(m) * m, 0.0), B(m, 0.0), v(m);
    std::vector<T> xp(n + 1), yp(n + 1);
    for (int k = 0; k < count; ++k) {
        const T x = p.at(p.x, k), y = p.at(p.y, k);
        xp[0] = yp[0] = T(1);
        for (int j = 1; j <= n; ++j) {
            xp[j] = xp[j - 1] * x;
            yp[j] = yp[j - 1] * y;
        }
        for (int l = 0; l <= n; ++l)
            for (int j = 0; j <= n; ++j)
                v[l * (n + 1) + j] = static_cast<double>(T(xp[j] * yp[l]));
        const double w = static_cast<double>(p.at(p.w, k));
        const double iw2 = 1.0 / (w * w);
        const double z = static_cast<double>(p.at(p.z, k));
        withFixedSize<1, 4, 9, 16>(m, [&](auto M) {
            accumulate<decltype(M)::value>(m, A.data(), B.data(), v.data(), z, iw2);
        });
    }
    MArray<double, 2> a(m, m);
    MArray<double, 1> b(m);
    for (int i = 0; i < m; ++i) {
        b(i + 1) = B[i];
        for (int i2 = 0; i2 < m; ++i2)
            a(i + 1, i2 + 1) = i2 >= i ? A[static_cast<std::size_t>(i) * m + i2]
                                       : A[static_cast<std::size_t>(i2) * m + i];
    }
    const int status = gaussj(a, m, b);
    MArray<double, 1> result(m);
    result = b;
    c.makeReference(result);
    return status;
}

template <class T>
MArray<T, 1> unitWeights(const MArray<T, 1> &z)
{
    MArray<T, 1> w(z.length(1));
    w = T(1);
    return w;
}

} // namespace

int poly2d(const MArray<double, 1> &x, const MArray<double, 1> &y, const MArray<double, 1> &z,
           const MArray<double, 1> &w, int n, MArray<double, 1> &c)
{
    return fitSurface(Points<double>{x, y, z, w}, n, c);
}

int poly2d(const MArray<double, 1> &x, const MArray<double, 1> &y, const MArray<double, 1> &z,
           int n, MArray<double, 1> &c)
{
    return poly2d(x, y, z, unitWeights(z), n, c);
}

int poly2d(const MArray<float, 1> &x, const MArray<float, 1> &y, const MArray<float, 1> &z,
           const MArray<float, 1> &w, int n, MArray<double, 1> &c)
{
    return fitSurface(Points<float>{x, y, z, w}, n, c);
}

int poly2d(const MArray<float, 1> &x, const MArray<float, 1> &y, const MArray<float, 1> &z, int n,
           MArray<double, 1> &c)
{
    return poly2d(x, y, z, unitWeights(z), n, c);
}

namespace {

// The coordinate x of an axis of `length` pixels scaled to -1 at the first
// pixel and 1 at the last (0 on an axis of one pixel).
double scaled(double x, int length)
{
    return length > 1 ? (2.0 * x - length - 1.0) / (length - 1.0) : 0.0;
}

// P_0(u) .. P_n(u) into p[0..n].
void legendre(double u, int n, double *p)
{
    p[0] = 1.0;
    if (n >= 1)
        p[1] = u;
    for (int k = 1; k < n; ++k)
        p[k + 1] = ((2 * k + 1) * u * p[k] - k * p[k - 1]) / (k + 1);
}

// At b·(n+1) + i: the coefficient of x^i in P_b(u(x)) on an axis of
// `length` pixels, u = alpha·x + beta.
std::vector<long double> powersOfLegendre(int n, int length)
{
    const int n1 = n + 1;
    const long double alpha = length > 1 ? 2.0L / (length - 1) : 0.0L;
    const long double beta = length > 1 ? -(length + 1.0L) / (length - 1) : 0.0L;
    // u^k in P_b, by (k+1)·P_(k+1) = (2k+1)·u·P_k - k·P_(k-1).
    std::vector<long double> L(static_cast<std::size_t>(n1) * n1, 0.0L);
    L[0] = 1.0L;
    if (n >= 1)
        L[n1 + 1] = 1.0L;
    for (int k = 1; k < n; ++k)
        for (int i = 0; i <= k + 1; ++i) {
            long double v = -k * L[(k - 1) * n1 + i];
            if (i > 0)
                v += (2 * k + 1) * L[k * n1 + i - 1];
            L[(k + 1) * n1 + i] = v / (k + 1);
        }
    // x^i in u^k = (alpha·x + beta)^k.
    std::vector<long double> U(static_cast<std::size_t>(n1) * n1, 0.0L);
    U[0] = 1.0L;
    for (int k = 1; k <= n; ++k)
        for (int i = 0; i <= k; ++i)
            U[k * n1 + i] =
                beta * U[(k - 1) * n1 + i] + (i > 0 ? alpha * U[(k - 1) * n1 + i - 1] : 0.0L);
    std::vector<long double> M(static_cast<std::size_t>(n1) * n1, 0.0L);
    for (int b = 0; b <= n; ++b)
        for (int k = 0; k <= b; ++k)
            for (int i = 0; i <= k; ++i)
                M[b * n1 + i] += L[b * n1 + k] * U[k * n1 + i];
    return M;
}

} // namespace

namespace {

// Adds one point with the basis values p[0..n1), weight w and value z to
// the sums of its line: s (w·p_b·p_b2 for b <= b2, pair by pair) and t
// (w·z·p_b).
inline void addPoint(const double *p, int n1, double w, double z, double *s, double *t)
{
    for (int b = 0, q = 0; b < n1; ++b) {
        const double wp = w * p[b];
        t[b] += wp * z;
        for (int b2 = b; b2 < n1; ++b2)
            s[q++] += wp * p[b2];
    }
}

// The sums of the points x[k] of one row, whose basis values stand at
// pxT[(x - 1)·n1 ..]. With the count of terms known at compile time the
// sums stay in registers.
template <int N1>
void rowSums(const double *pxT, int n1, const int *x, const double *w, const double *z, int count,
             double *s, double *t)
{
    if constexpr (N1 > 0) {
        // Two sets of sums, for the even and the odd points, so that the
        // additions do not wait for each other.
        constexpr int kPairs = N1 * (N1 + 1) / 2;
        double ls[2][kPairs] = {}, lt[2][N1] = {};
        int k = 0;
        for (; k + 1 < count; k += 2) {
            addPoint(pxT + static_cast<std::size_t>(x[k] - 1) * N1, N1, w[k], z[k], ls[0], lt[0]);
            addPoint(pxT + static_cast<std::size_t>(x[k + 1] - 1) * N1, N1, w[k + 1], z[k + 1],
                     ls[1], lt[1]);
        }
        if (k < count)
            addPoint(pxT + static_cast<std::size_t>(x[k] - 1) * N1, N1, w[k], z[k], ls[0], lt[0]);
        for (int q = 0; q < kPairs; ++q)
            s[q] += ls[0][q] + ls[1][q];
        for (int b = 0; b < N1; ++b)
            t[b] += lt[0][b] + lt[1][b];
    } else {
        for (int k = 0; k < count; ++k)
            addPoint(pxT + static_cast<std::size_t>(x[k] - 1) * n1, n1, w[k], z[k], s, t);
    }
}

// out[x] = sum over b of d[b]·px[b·nx + x], summed from b = 0 in double and
// rounded to float.
template <int N1>
void rowValues(const double *d, int n1, const double *px, int nx, double *sum, float *out)
{
    if constexpr (N1 > 0) {
        for (int x = 0; x < nx; ++x) {
            double v = 0.0;
            for (int b = 0; b < N1; ++b)
                v += d[b] * px[static_cast<std::size_t>(b) * nx + x];
            out[x] = static_cast<float>(v);
        }
    } else {
        std::fill(sum, sum + nx, 0.0);
        for (int b = 0; b < n1; ++b) {
            const double *pu = px + static_cast<std::size_t>(b) * nx;
            for (int x = 0; x < nx; ++x)
                sum[x] += d[b] * pu[x];
        }
        for (int x = 0; x < nx; ++x)
            out[x] = static_cast<float>(sum[x]);
    }
}

// The same sum at the columns x[k] (from 1), with the values of column x at
// pxT[(x - 1)·n1 ..].
template <int N1>
void valuesAt(const double *d, int n1, const double *pxT, const int *x, int count, float *out)
{
    constexpr bool kFixed = N1 > 0;
    const int terms = kFixed ? N1 : n1;
    for (int k = 0; k < count; ++k) {
        const double *p = pxT + static_cast<std::size_t>(x[k] - 1) * terms;
        double v = 0.0;
        for (int b = 0; b < terms; ++b)
            v += d[b] * p[b];
        out[k] = static_cast<float>(v);
    }
}

} // namespace

ScaledSurface::ScaledSurface(int order, int nx, int ny)
    : n_(order), nx_(nx), ny_(ny), coef_(termsOf(order), 0.0)
{
    const int n1 = n_ + 1;
    const std::size_t pairs = static_cast<std::size_t>(n1) * (n1 + 1) / 2;
    std::vector<double> p(n1);
    px_.resize(static_cast<std::size_t>(n1) * nx_);
    pxT_.resize(static_cast<std::size_t>(n1) * nx_);
    for (int x = 1; x <= nx_; ++x) {
        legendre(scaled(x, nx_), n_, p.data());
        for (int b = 0; b < n1; ++b) {
            px_[static_cast<std::size_t>(b) * nx_ + (x - 1)] = p[b];
            pxT_[static_cast<std::size_t>(x - 1) * n1 + b] = p[b];
        }
    }
    py_.resize(static_cast<std::size_t>(n1) * ny_);
    for (int y = 1; y <= ny_; ++y)
        legendre(scaled(y, ny_), n_, &py_[static_cast<std::size_t>(y - 1) * n1]);
    K_.assign(pairs * pairs, 0.0);
    r_.assign(static_cast<std::size_t>(n1) * n1, 0.0);
    s_.assign(pairs, 0.0);
    t_.assign(n1, 0.0);
    sum_.resize(static_cast<std::size_t>(nx_) + n1);
}

void ScaledSurface::clear()
{
    std::fill(K_.begin(), K_.end(), 0.0);
    std::fill(r_.begin(), r_.end(), 0.0);
    std::fill(s_.begin(), s_.end(), 0.0);
    std::fill(t_.begin(), t_.end(), 0.0);
    points_ = 0;
}

void ScaledSurface::foldLine(const double *pv)
{
    const int n1 = n_ + 1, pairs = static_cast<int>(s_.size());
    for (int a = 0; a < n1; ++a)
        for (int a2 = a; a2 < n1; ++a2) {
            const double g = pv[a] * pv[a2];
            double *row = &K_[static_cast<std::size_t>(pair(a, a2)) * pairs];
            for (int q = 0; q < pairs; ++q)
                row[q] += g * s_[q];
        }
    for (int a = 0; a < n1; ++a)
        for (int b = 0; b < n1; ++b)
            r_[a * n1 + b] += pv[a] * t_[b];
    std::fill(s_.begin(), s_.end(), 0.0);
    std::fill(t_.begin(), t_.end(), 0.0);
}

void ScaledSurface::addRow(int y, const int *x, const double *w, const double *z, int count)
{
    if (count <= 0)
        return;
    const int n1 = n_ + 1;
    double *s = s_.data();
    double *t = t_.data();
    withFixedSize<1, 2, 3, 4>(
        n1, [&](auto N1) { rowSums<decltype(N1)::value>(pxT_.data(), n1, x, w, z, count, s, t); });
    foldLine(&py_[static_cast<std::size_t>(y - 1) * n1]);
    points_ += count;
}

int ScaledSurface::fit(const double *x, const double *y, const double *z, const double *w,
                       long count)
{
    const int n1 = n_ + 1;
    clear();
    std::vector<double> pu(n1), pv(n1);
    for (long k = 0; k < count;) {
        const double line = y[k];
        long end = k + 1;
        while (end < count && y[end] == line)
            ++end;
        for (; k < end; ++k) {
            legendre(scaled(x[k], nx_), n_, pu.data());
            addPoint(pu.data(), n1, 1.0 / (w[k] * w[k]), z[k], s_.data(), t_.data());
        }
        legendre(scaled(line, ny_), n_, pv.data());
        foldLine(pv.data());
    }
    points_ = count;
    return solve();
}

int ScaledSurface::solve()
{
    const int n1 = n_ + 1, m = n1 * n1, pairs = static_cast<int>(s_.size());
    // Equilibrated (unit diagonal), so that the condition number measures
    // the data rather than the scale of the basis.
    const auto entry = [&](int i, int j) {
        const int a = i / n1, b = i % n1, a2 = j / n1, b2 = j % n1;
        return K_[static_cast<std::size_t>(pair(std::min(a, a2), std::max(a, a2))) * pairs +
                  pair(std::min(b, b2), std::max(b, b2))];
    };
    std::vector<double> scale(m);
    for (int i = 0; i < m; ++i) {
        const double d = entry(i, i);
        if (!(d > 0.0) || !std::isfinite(d))
            return -1; // a term no point constrains
        scale[i] = 1.0 / std::sqrt(d);
    }
    MArray<double, 2> a(m, m);
    MArray<double, 1> rhs(m);
    std::vector<double> column(m, 0.0);
    for (int i = 0; i < m; ++i) {
        rhs(i + 1) = r_[i] * scale[i];
        for (int j = 0; j < m; ++j) {
            const double v = entry(i, j) * scale[i] * scale[j];
            a(i + 1, j + 1) = v;
            column[j] += std::fabs(v);
        }
    }
    const double norm = *std::max_element(column.begin(), column.end());
    if (gaussj(a, m, rhs) != 0)
        return -1;
    double inverseNorm = 0.0;
    for (int j = 1; j <= m; ++j) {
        double sum = 0.0;
        for (int i = 1; i <= m; ++i)
            sum += std::fabs(a(i, j));
        inverseNorm = std::max(inverseNorm, sum);
    }
    cond_ = norm * inverseNorm;
    if (!(cond_ <= kMaxCondition))
        return -2;
    std::vector<double> c(m);
    for (int i = 0; i < m; ++i) {
        c[i] = rhs(i + 1) * scale[i];
        if (!std::isfinite(c[i]))
            return -1;
    }
    coef_.swap(c);
    return 0;
}

const double *ScaledSurface::rowCoefficients(int y) const
{
    const int n1 = n_ + 1;
    const double *pv = &py_[static_cast<std::size_t>(y - 1) * n1];
    double *d = sum_.data() + nx_;
    for (int b = 0; b < n1; ++b) {
        double v = 0.0;
        for (int a = 0; a < n1; ++a)
            v += coef_[a * n1 + b] * pv[a];
        d[b] = v;
    }
    return d;
}

void ScaledSurface::values(int y, const int *x, int count, float *out) const
{
    const int n1 = n_ + 1;
    const double *d = rowCoefficients(y);
    withFixedSize<1, 2, 3, 4>(
        n1, [&](auto N1) { valuesAt<decltype(N1)::value>(d, n1, pxT_.data(), x, count, out); });
}

void ScaledSurface::row(int y, float *out) const
{
    const int n1 = n_ + 1;
    const double *d = rowCoefficients(y);
    withFixedSize<1, 2, 3, 4>(n1, [&](auto N1) {
        rowValues<decltype(N1)::value>(d, n1, px_.data(), nx_, sum_.data(), out);
    });
}

double ScaledSurface::bound() const
{
    // |P_b(u)| <= 1 for |u| <= 1.
    double total = 0.0;
    for (double c : coef_)
        total += std::fabs(c);
    return total;
}

std::vector<double> ScaledSurface::powers() const
{
    const int n1 = n_ + 1;
    const std::vector<long double> mx = powersOfLegendre(n_, nx_), my = powersOfLegendre(n_, ny_);
    std::vector<double> out(static_cast<std::size_t>(n1) * n1);
    for (int a2 = 0; a2 < n1; ++a2)
        for (int b2 = 0; b2 < n1; ++b2) {
            long double sum = 0.0L;
            for (int a = a2; a < n1; ++a)
                for (int b = b2; b < n1; ++b)
                    sum += coef_[a * n1 + b] * my[a * n1 + a2] * mx[b * n1 + b2];
            out[a2 * n1 + b2] = static_cast<double>(sum);
        }
    return out;
}

namespace {

// a holds the indices lo..hi (an empty range needs nothing).
bool holds(const MArray<double, 1> &a, int lo, int hi)
{
    return hi < lo || (a.firstIndex(1) <= lo && a.lastIndex(1) >= hi);
}

} // namespace

double poly(MArray<double, 1> x, MArray<double, 1> y, MArray<double, 1> err, MArray<double, 1> &c,
            int order, int N)
{
    // Every point is read from x, y and err and every coefficient written
    // into c: both must hold before anything is touched.
    termsOf(order); // refuses a negative order
    if (!holds(x, 1, N) || !holds(y, 1, N) || !holds(err, 1, N))
        throw SkyError("poly: x, y and err must hold the points 1.." + std::to_string(N));
    if (!holds(c, 0, order))
        throw SkyError("poly: c must hold the coefficients 0.." + std::to_string(order));
    const int g = order + 1;
    MArray<double, 2> A(g, g);
    MArray<double, 1> b(g);
    for (int i = 0; i <= order; ++i)
        c(i) = 0.0;
    for (int j = 0; j <= order; ++j) {
        for (int k2 = 0; k2 <= order; ++k2) {
            double s = 0.0;
            for (int p = 1; p <= N; ++p)
                s += std::pow(x(p), j + k2) / (err(p) * err(p));
            A(j + 1, k2 + 1) = s;
        }
        double s = 0.0;
        for (int p = 1; p <= N; ++p)
            s += std::pow(x(p), j) * y(p) / (err(p) * err(p));
        b(j + 1) = s;
    }
    gaussj(A, g, b);
    for (int i = 0; i <= order; ++i)
        c(order - i) = b(i + 1);
    double chi2 = 0.0;
    for (int p = 1; p <= N; ++p) {
        double model = 0.0;
        for (int i = 0; i <= order; ++i)
            model += c(order - i) * std::pow(x(p), i);
        const double d = (y(p) - model) / err(p);
        chi2 += d * d;
    }
    return chi2 / N;
}
