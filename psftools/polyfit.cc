#include "psftools/polyfit.h"

#include <cmath>
#include <iostream>
#include <vector>

#include "dornel/poly.h"

using orv::MArray;

namespace {

// v holds the indices 1..n (n < 1: nothing is needed).
bool covers(const MArray<double, 1> &v, int n)
{
    return n < 1 || (v.firstIndex(1) <= 1 && v.lastIndex(1) >= n);
}

} // namespace

int poly2d_nomix(const MArray<double, 1> &x, const MArray<double, 1> &y, const MArray<double, 1> &z,
                 const MArray<double, 1> &w, int n, MArray<double, 1> &c)
{
    int m = 0;
    for (int i = n + 1; i >= 1; --i)
        m += i;
    MArray<double, 2> A(m, m);
    MArray<double, 1> B(m);
    A = 0.0;
    B = 0.0;
    const int points = x.lastIndex(1);
    const auto refuse = [&]() {
        MArray<double, 1> zero(m);
        zero = 0.0;
        c.makeReference(zero);
        return -1;
    };
    if (n < 0) {
        // No term at all: the powers x^0, y^0 would have nowhere to go.
        std::cerr << "poly2d_nomix: order " << n << " is negative, no fit" << std::endl;
        return refuse();
    }
    if (!covers(x, points) || !covers(y, points) || !covers(z, points) || !covers(w, points)) {
        std::cerr << "poly2d_nomix: x, y, z and w need the points 1.." << points << ", no fit"
                  << std::endl;
        return refuse();
    }
    for (int p = 1; p <= points; ++p) {
        if (w(p) == 0.0) {
            // Its weight would be infinite: no fit can honour it.
            std::cerr << "poly2d_nomix: error 0 at point " << p << ", no fit" << std::endl;
            return refuse();
        }
    }
    std::vector<double> v(m), xp(n + 1), yp(n + 1);
    for (int p = 1; p <= points; ++p) {
        xp[0] = yp[0] = 1.0;
        for (int k = 1; k <= n; ++k) {
            xp[k] = xp[k - 1] * x(p);
            yp[k] = yp[k - 1] * y(p);
        }
        int t = 0;
        for (int j = 0; j <= n; ++j)
            for (int k = 0; k <= n - j; ++k)
                v[t++] = yp[j] * xp[k];
        const double iw2 = 1.0 / (w(p) * w(p));
        for (int i = 0; i < m; ++i) {
            for (int i2 = 0; i2 < m; ++i2)
                A(i + 1, i2 + 1) += v[i] * v[i2] * iw2;
            B(i + 1) += v[i] * z(p) * iw2;
        }
    }
    const int status = gaussj(A, m, B);
    c.makeReference(B);
    return status;
}

int fitconst(MArray<double, 1> &y, MArray<double, 1> &e, double &mean, double &mean_error,
             double &scatter)
{
    const int n = y.lastIndex(1);
    if (!covers(y, n) || !covers(e, n)) {
        std::cerr << "fitconst: y and e need the values 1.." << n << std::endl;
        mean = mean_error = scatter = 0.0;
        return -1;
    }
    int k = 0, zeros = 0;
    double S = 0.0, T = 0.0;
    for (int i = 1; i <= n; ++i) {
        if (e(i) == 0.0)
            ++zeros;
        if (!(e(i) > 0.0))
            continue;
        const double wt = 1.0 / (e(i) * e(i));
        ++k;
        S += wt;
        T += wt * y(i);
    }
    if (zeros > 0)
        std::cerr << "fitconst: " << zeros << " value(s) with error 0 left out" << std::endl;
    if (k == 0) {
        mean = mean_error = scatter = 0.0;
        return -1;
    }
    mean = T / S;
    mean_error = std::sqrt(1.0 / S);
    if (k == 1) {
        scatter = 0.0;
        return 0;
    }
    double chi2 = 0.0;
    for (int i = 1; i <= n; ++i) {
        if (!(e(i) > 0.0))
            continue;
        const double r = y(i) - mean;
        chi2 += r * r / (e(i) * e(i));
    }
    scatter = std::sqrt(chi2 / (k - 1));
    return 0;
}
