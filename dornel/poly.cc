#include "dornel/poly.h"

#include <cmath>
#include <utility>
#include <vector>

using orv::MArray;

int gaussj(MArray<double, 2>& a, int n, MArray<double, 1>& b) {
    MArray<int, 1> ipiv(n), indxr(n), indxc(n);
    ipiv = 0;
    indxr = 0;
    indxc = 0;
    for (int s = 1; s <= n; ++s) {
        double big = 0.0;
        int irow = 0, icol = 0;
        for (int r = 1; r <= n; ++r) {
            if (ipiv(r) == 1) continue;
            for (int c = 1; c <= n; ++c) {
                if (ipiv(c) != 0) continue;
                if (std::fabs(a(r, c)) >= big) {  // NaN is never taken
                    big = std::fabs(a(r, c));
                    irow = r;
                    icol = c;
                }
            }
        }
        // No candidate at all (every one NaN) is as singular as a zero pivot.
        if (icol == 0) return -1;
        ++ipiv(icol);
        if (irow != icol) {
            for (int l = 1; l <= n; ++l) std::swap(a(irow, l), a(icol, l));
            std::swap(b(irow), b(icol));
        }
        indxr(s) = irow;
        indxc(s) = icol;
        const double pivot = a(icol, icol);
        if (pivot == 0.0 || !std::isfinite(pivot)) return -1;
        const double pivinv = 1.0 / pivot;
        a(icol, icol) = 1.0;
        for (int l = 1; l <= n; ++l) a(icol, l) *= pivinv;
        b(icol) *= pivinv;
        for (int k = 1; k <= n; ++k) {
            if (k == icol) continue;
            const double dum = a(k, icol);
            a(k, icol) = 0.0;
            for (int l = 1; l <= n; ++l) a(k, l) -= a(icol, l) * dum;
            b(k) -= b(icol) * dum;
        }
    }
    for (int s = n; s >= 1; --s) {
        if (indxr(s) == indxc(s)) continue;
        for (int k = 1; k <= n; ++k) std::swap(a(k, indxr(s)), a(k, indxc(s)));
    }
    return 0;
}

namespace {

// Walks the points of x, y, z, w together by position, whatever their first
// indices.
template <class T>
struct Points {
    const MArray<T, 1>& x;
    const MArray<T, 1>& y;
    const MArray<T, 1>& z;
    const MArray<T, 1>& w;
    int count() const { return x.length(1); }
    T at(const MArray<T, 1>& a, int k) const { return a(a.firstIndex(1) + k); }
};

// Adds one point, with term vector v, value z and weight iw2 = 1/w², to the
// upper triangle of the normal matrix A (m x m, row by row) and to B.
inline void accumulate(int m, double* A, double* B, const double* v, double z, double iw2) {
    for (int i = 0; i < m; ++i) {
        double* row = A + static_cast<std::size_t>(i) * m;
        const double vi = v[i];
        for (int i2 = i; i2 < m; ++i2) row[i2] += vi * v[i2] * iw2;
        B[i] += vi * z * iw2;
    }
}
template <int M>
inline void accumulate(double* A, double* B, const double* v, double z, double iw2) {
    accumulate(M, A, B, v, z, iw2);
}

// Normal equations of the weighted surface fit, solved into c. The term
// vector and the 1/w² of a point are formed once per point; the matrix is
// symmetric, so only its upper triangle is summed and then mirrored (the two
// halves would receive identical values).
template <class T>
int fitSurface(const Points<T>& p, int n, MArray<double, 1>& c) {
    const int m = (n + 1) * (n + 1);
    std::vector<double> A(static_cast<std::size_t>(m) * m, 0.0), B(m, 0.0), v(m);
    std::vector<T> xp(n + 1), yp(n + 1);
    const int count = p.count();
    for (int k = 0; k < count; ++k) {
        const T x = p.at(p.x, k), y = p.at(p.y, k);
        xp[0] = yp[0] = T(1);
        for (int j = 1; j <= n; ++j) {
            xp[j] = xp[j - 1] * x;
            yp[j] = yp[j - 1] * y;
        }
        for (int l = 0; l <= n; ++l)
            for (int j = 0; j <= n; ++j) v[l * (n + 1) + j] = static_cast<double>(T(xp[j] * yp[l]));
        const double w = static_cast<double>(p.at(p.w, k));
        const double iw2 = 1.0 / (w * w);
        const double z = static_cast<double>(p.at(p.z, k));
        switch (m) {  // the common orders with loops the compiler can unroll
            case 1: accumulate<1>(A.data(), B.data(), v.data(), z, iw2); break;
            case 4: accumulate<4>(A.data(), B.data(), v.data(), z, iw2); break;
            case 9: accumulate<9>(A.data(), B.data(), v.data(), z, iw2); break;
            case 16: accumulate<16>(A.data(), B.data(), v.data(), z, iw2); break;
            default: accumulate(m, A.data(), B.data(), v.data(), z, iw2);
        }
    }
    MArray<double, 2> a(m, m);
    MArray<double, 1> b(m);
    for (int i = 0; i < m; ++i) {
        b(i + 1) = B[i];
        for (int i2 = 0; i2 < m; ++i2)
            a(i + 1, i2 + 1) = i2 >= i ? A[static_cast<std::size_t>(i) * m + i2] : A[static_cast<std::size_t>(i2) * m + i];
    }
    const int status = gaussj(a, m, b);
    MArray<double, 1> result(m);
    result = b;
    c.makeReference(result);
    return status;
}

template <class T>
MArray<T, 1> unitWeights(const MArray<T, 1>& z) {
    MArray<T, 1> w(z.length(1));
    w = T(1);
    return w;
}

}  // namespace

int poly2d(const MArray<double, 1>& x, const MArray<double, 1>& y, const MArray<double, 1>& z,
           const MArray<double, 1>& w, int n, MArray<double, 1>& c) {
    return fitSurface(Points<double>{x, y, z, w}, n, c);
}

int poly2d(const MArray<double, 1>& x, const MArray<double, 1>& y, const MArray<double, 1>& z, int n,
           MArray<double, 1>& c) {
    return poly2d(x, y, z, unitWeights(z), n, c);
}

int poly2d(const MArray<float, 1>& x, const MArray<float, 1>& y, const MArray<float, 1>& z,
           const MArray<float, 1>& w, int n, MArray<double, 1>& c) {
    return fitSurface(Points<float>{x, y, z, w}, n, c);
}

int poly2d(const MArray<float, 1>& x, const MArray<float, 1>& y, const MArray<float, 1>& z, int n,
           MArray<double, 1>& c) {
    return poly2d(x, y, z, unitWeights(z), n, c);
}

double poly(MArray<double, 1> x, MArray<double, 1> y, MArray<double, 1> err, MArray<double, 1>& c, int order,
            int N) {
    const int g = order + 1;
    MArray<double, 2> A(g, g);
    MArray<double, 1> b(g);
    for (int i = 0; i <= order; ++i) c(i) = 0.0;
    for (int j = 0; j <= order; ++j) {
        for (int k2 = 0; k2 <= order; ++k2) {
            double s = 0.0;
            for (int p = 1; p <= N; ++p) s += std::pow(x(p), j + k2) / (err(p) * err(p));
            A(j + 1, k2 + 1) = s;
        }
        double s = 0.0;
        for (int p = 1; p <= N; ++p) s += std::pow(x(p), j) * y(p) / (err(p) * err(p));
        b(j + 1) = s;
    }
    gaussj(A, g, b);
    for (int i = 0; i <= order; ++i) c(order - i) = b(i + 1);
    double chi2 = 0.0;
    for (int p = 1; p <= N; ++p) {
        double model = 0.0;
        for (int i = 0; i <= order; ++i) model += c(order - i) * std::pow(x(p), i);
        const double d = (y(p) - model) / err(p);
        chi2 += d * d;
    }
    return chi2 / N;
}
