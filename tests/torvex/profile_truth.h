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

// The integral of f(R) over pixel (x, y), R the radius on the ellipse e,
// for an f with an integrable cusp R^-gamma (gamma < 2) at the centre.  The
// pixel is the signed sum of the four triangles from the centre to its
// edges; each is integrated in polar coordinates about the centre by the
// midpoint rule on n x n points, the radius as rho = rho_edge s^(1/(2 -
// gamma)), which takes the cusp out of the integrand.
template <class F>
double cusp_pixel_integral(const F &f, const Ellipse &e, double gamma, long x, long y, int n)
{
    const double vx[5] = {x - 0.5, x + 0.5, x + 0.5, x - 0.5, x - 0.5};
    const double vy[5] = {y - 0.5, y - 0.5, y + 0.5, y + 0.5, y - 0.5};
    const double p = 1 / (2 - gamma);
    double total = 0;
    for (int i = 0; i < 4; i++) {
        const double ax = vx[i] - e.x0, ay = vy[i] - e.y0;
        const double bx = vx[i + 1] - e.x0, by = vy[i + 1] - e.y0;
        const double cross = ax * by - ay * bx; // the triangle's signed area, twice
        if (std::fabs(cross) < 1e-12)
            continue;
        const double phi_a = std::atan2(ay, ax);
        double dphi = std::atan2(by, bx) - phi_a;
        if (dphi > M_PI)
            dphi -= 2 * M_PI;
        if (dphi < -M_PI)
            dphi += 2 * M_PI;
        double sum = 0;
        for (int j = 0; j < n; j++) {
            const double phi = phi_a + (j + 0.5) / n * dphi;
            const double c = std::cos(phi), s = std::sin(phi);
            const double edge = cross / (c * (by - ay) - s * (bx - ax));
            // R is proportional to rho along a ray; taken from a unit step,
            // as rho itself may be far below the resolution of x0 + rho.
            const double unit = e.radius(e.x0 + c, e.y0 + s);
            for (int k = 0; k < n; k++) {
                const double t = (k + 0.5) / n;
                const double rho = edge * std::pow(t, p);
                sum += f(rho * unit) * rho * rho * p / t;
            }
        }
        total += sum * dphi / (n * n);
    }
    return total;
}

} // namespace truth

#endif
