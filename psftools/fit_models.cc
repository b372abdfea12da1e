#include "psftools/fit_models.h"

#include <cmath>
#include <iostream>

using orv::MArray;

namespace {

// v holds the parameter slots 1..n that a model reads or writes.
bool holds(const MArray<double, 1> &v, int n)
{
    return v.firstIndex(1) <= 1 && v.lastIndex(1) >= n;
}

// A model given fewer parameters than it has could never be evaluated: said
// once, when it is made, and every evaluation then fails.
void checkCount(const char *model, int needs, int given)
{
    if (given < needs)
        std::cerr << model << ": the model has " << needs << " parameters, a holds " << given
                  << std::endl;
}

} // namespace

Class_gauss_fit::Class_gauss_fit(const MArray<double, 1> &x, const MArray<double, 1> &y,
                                 const MArray<double, 1> &z, const MArray<double, 1> &sig,
                                 const MArray<double, 1> &a, const MArray<int, 1> &ia)
    : marquardt(x, y, z, sig, a, ia)
{
    checkCount("Class_gauss_fit", 7, ma);
}

Class_moffat_fit::Class_moffat_fit(const MArray<double, 1> &x, const MArray<double, 1> &y,
                                   const MArray<double, 1> &z, const MArray<double, 1> &sig,
                                   const MArray<double, 1> &a, const MArray<int, 1> &ia)
    : marquardt(x, y, z, sig, a, ia)
{
    checkCount("Class_moffat_fit", 10, ma);
}

int Class_gauss_fit::funcs(double x, double y, const MArray<double, 1> &a, double &f,
                           MArray<double, 1> &d)
{
    if (!holds(a, 7) || !holds(d, 7))
        return -1;
    const double c = a(1), A = a(2), p = a(3), q = a(4), x0 = a(5), y0 = a(6), theta = a(7);
    const double ct = std::cos(theta), st = std::sin(theta);
    const double dx = x - x0, dy = y - y0;
    const double u = dx * ct + dy * st;
    const double v = dy * ct - dx * st;
    double e = -(p * u * u + q * v * v);
    // Keeps exp finite far out in the wings.
    if (e > 22.0)
        e = 22.0;
    else if (e < -22.0)
        e = -22.0;
    const double m = std::exp(e);
    const double G = A * m;
    f = c + G;
    d(1) = 1.0;
    d(2) = m;
    d(3) = -u * u * G;
    d(4) = -v * v * G;
    d(5) = (2.0 * p * u * ct - 2.0 * q * v * st) * G;
    d(6) = (2.0 * p * u * st + 2.0 * q * v * ct) * G;
    d(7) = 2.0 * (q - p) * u * v * G;
    return 0;
}

int Class_moffat_fit::funcs(double x, double y, const MArray<double, 1> &a, double &f,
                            MArray<double, 1> &d)
{
    if (!holds(a, 10) || !holds(d, 10))
        return -1;
    const double c = a(1), A = a(2), p = a(3), q = a(4), x0 = a(5), y0 = a(6), theta = a(7);
    const double beta = a(8), gx = a(9), gy = a(10);
    const double ct = std::cos(theta), st = std::sin(theta);
    const double dx = x - x0, dy = y - y0;
    const double u = dx * ct + dy * st;
    const double v = dy * ct - dx * st;
    const double r = 1.0 + (p * u) * (p * u) + (q * v) * (q * v);
    const double l10 = std::log10(r);
    const double t = l10 * (beta + 1.0);
    const double plane = x * gx + c + y * gy;
    if (t > 100.0) {
        // The profile is below 1e-100 here: the plane alone.
        f = plane;
        d(1) = 1.0;
        for (int k = 2; k <= 8; ++k)
            d(k) = 0.0;
        d(9) = x;
        d(10) = y;
        return 0;
    }
    if (t < -100.0)
        return -1;
    const double lr = l10 * 2.302585092994046; // ln r
    const double V = std::exp(-beta * lr);     // r^-β
    const double P = V / r;                    // r^-(β+1)
    f = plane + A * V;
    const double k2 = -2.0 * A * beta * P;
    d(1) = 1.0;
    d(2) = V;
    d(3) = k2 * p * u * u;
    d(4) = k2 * q * v * v;
    d(5) = k2 * (-p * p * u * ct + q * q * v * st);
    d(6) = k2 * (-p * p * u * st - q * q * v * ct);
    d(7) = k2 * u * v * (p * p - q * q);
    d(8) = -lr * A * V;
    d(9) = x;
    d(10) = y;
    return 0;
}
