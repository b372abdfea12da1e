// Light profiles computed here, independently of torvex, for the tests that
// run the program on synthetic images: the elliptical radius, the Sersic
// kappa(n) from the incomplete gamma function, and pixel means by the
// midpoint rule.
#ifndef TESTS_TORVEX_PROFILE_TRUTH_H
#define TESTS_TORVEX_PROFILE_TRUTH_H

#include <cmath>

namespace truth {

// Regularised lower incomplete gamma function by its power series.
inline double gammp_series(double a, double x)
{
    double term = 1 / a, sum = term;
    for (int k = 1; k < 500; k++) {
        term *= x / (a + k);
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

// kappa(n): half of the light lies inside Re, P(2n, kappa) = 1/2.
inline double kappa(double n)
{
    double lo = 0.01, hi = 4 * n + 5;
    for (int i = 0; i < 200; i++) {
        double mid = 0.5 * (lo + hi);
        (gammp_series(2 * n, mid) < 0.5 ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

// An ellipse of axis ratio q whose major axis points along PA (degrees,
// from +y towards -x), centred on (x0, y0).
struct Ellipse {
    double x0, y0, q, pa;

    // The radius along the major axis of the ellipse through (x, y).
    double radius(double x, double y) const
    {
        const double t = pa * M_PI / 180, dx = x - x0, dy = y - y0;
        const double u = -dx * std::sin(t) + dy * std::cos(t);
        const double v = dx * std::cos(t) + dy * std::sin(t);
        return std::sqrt(u * u + v * v / (q * q));
    }
};

// The mean of f(x, y) over pixel (x, y) by the midpoint rule on k x k
// points.
template <class F>
double pixel_mean(const F &f, long x, long y, int k)
{
    double sum = 0;
    for (int j = 0; j < k; j++)
        for (int i = 0; i < k; i++)
            sum += f(x - 0.5 + (i + 0.5) / k, y - 0.5 + (j + 0.5) / k);
    return sum / (k * k);
}

struct Sersic {
    double x0, y0, mag, re, n, q, pa; // image pixels, degrees

    // Surface brightness in counts per pixel at radius r along the major
    // axis, for zeropoint zp.
    double of_radius(double r, double zp) const
    {
        double k = kappa_, flux = std::pow(10.0, (zp - mag) / 2.5);
        double ie = flux / (2 * M_PI * re * re * q * n * std::exp(k) * std::pow(k, -2 * n) *
                            std::tgamma(2 * n));
        return ie * std::exp(-k * (std::pow(r / re, 1 / n) - 1));
    }
    // The same at (x, y).
    double at(double x, double y, double zp) const
    {
        return of_radius(Ellipse{x0, y0, q, pa}.radius(x, y), zp);
    }
    double pixel(long x, long y, double zp, int k) const
    {
        return pixel_mean([&](double u, double v) { return at(u, v, zp); }, x, y, k);
    }
    void prepare() { kappa_ = kappa(n); }
    double kappa_ = 0;
};

} // namespace truth

#endif
