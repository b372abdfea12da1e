// The reference values here come from the integral definitions themselves,
// integrated numerically in this file (DLMF 19.16.1, 19.16.2, 19.2.8), and
// from closed forms (DLMF 19.2.17-19.2.19, 19.20.2).
#include "lightcurve/elliptic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "printed.h"

namespace {

const double kPi = std::acos(-1.0);

// Integral over (0, inf) of f(t) dt, substituted t = e^u and summed by the
// trapezoidal rule, which converges geometrically for integrands analytic
// near the real line.
double overHalfLine(const std::function<double(double)> &f)
{
    const double h = 0.02;
    double sum = 0;
    for (double u = -80; u <= 80; u += h) {
        const double t = std::exp(u);
        sum += f(t) * t;
    }
    return sum * h;
}

// Five-point Gauss-Legendre on n panels of [a, b].
double gauss(const std::function<double(double)> &f, double a, double b, int n)
{
    static const double x[] = {0.0, 0.5384693101056831, 0.9061798459386640};
    static const double w[] = {0.5688888888888889, 0.4786286704993665, 0.2369268850561891};
    const double h = (b - a) / n;
    double sum = 0;
    for (int k = 0; k < n; ++k) {
        const double mid = a + (k + 0.5) * h;
        sum += w[0] * f(mid);
        for (int i = 1; i < 3; ++i)
            sum += w[i] * (f(mid - 0.5 * h * x[i]) + f(mid + 0.5 * h * x[i]));
    }
    return 0.5 * h * sum;
}

// Cauchy principal value of the integral over (0, inf) of g(t) / (t - t0),
// t0 > 0: the part around the pole folded onto itself, the rest as above.
// Near the pole, t0 - s = t0 v^2 smooths a 1/sqrt(t) singularity of g at 0.
double principalValue(const std::function<double(double)> &g, double t0)
{
    const double near = gauss(
        [&](double v) {
            const double s = t0 * (1 - v * v);
            return (g(t0 + s) - g(t0 - s)) / s * 2 * t0 * v;
        },
        0, 1, 400);
    const double far = overHalfLine([&](double t) { return g(2 * t0 + t) / (t0 + t); });
    return near + far;
}

double carlsonF(double x, double y, double z)
{
    return 0.5 * overHalfLine([=](double t) { return 1 / std::sqrt((t + x) * (t + y) * (t + z)); });
}

double carlsonJ(double x, double y, double z, double p)
{
    if (p > 0)
        return 1.5 * overHalfLine([=](double t) {
                   return 1 / ((t + p) * std::sqrt((t + x) * (t + y) * (t + z)));
               });
    return 1.5 *
           principalValue([=](double t) { return 1 / std::sqrt((t + x) * (t + y) * (t + z)); }, -p);
}

double carlsonC(double x, double y)
{
    if (y > 0)
        return 0.5 * overHalfLine([=](double t) { return 1 / ((t + y) * std::sqrt(t + x)); });
    return 0.5 * principalValue([=](double t) { return 1 / std::sqrt(t + x); }, -y);
}

// The integrands are smooth and periodic: the trapezoidal rule converges fast.
double completeIntegral(double k, bool second)
{
    const int n = 4000;
    double sum = 0;
    for (int i = 0; i <= n; ++i) {
        const double s = std::sin(0.5 * kPi * i / n);
        const double root = std::sqrt(1 - k * k * s * s);
        sum += (i == 0 || i == n ? 0.5 : 1.0) * (second ? root : 1 / root);
    }
    return sum * 0.5 * kPi / n;
}

// What call prints; its result goes to value.
std::string printed(const std::function<double()> &call, double &value)
{
    return ::printed([&] { value = call(); });
}

} // namespace

TEST(Elliptic, ExactValuesAtEqualArguments)
{
    double v;
    EXPECT_EQ("", printed([] { return rf_(1, 1, 1); }, v));
    EXPECT_EQ(1.0, v);
    EXPECT_EQ("", printed([] { return rc_(1, 1); }, v));
    EXPECT_EQ(1.0, v);
    EXPECT_EQ("", printed([] { return rj_(1, 1, 1, 1); }, v));
    EXPECT_EQ(1.0, v);
    EXPECT_NEAR(kPi / 2, ellk_(0), 1e-11);
    EXPECT_NEAR(kPi / 2, ellec_(0), 1e-10);
    // Homogeneity: R_F(4x) = R_F(x) / 2.
    EXPECT_NEAR(0.5, rf_(4, 4, 4), 1e-15);
}

TEST(Elliptic, CarlsonFAgainstTheIntegral)
{
    // R_F(0, 1, 2) = Gamma(1/4)^2 / (4 sqrt(2 pi)) (DLMF 19.20.2 with the
    // lemniscate constant).
    EXPECT_NEAR(std::pow(std::tgamma(0.25), 2) / (4 * std::sqrt(2 * kPi)), rf_(0, 1, 2), 1e-7);
    const double cases[][3] = {{0, 1, 2},    {1, 2, 3},      {0.5, 1, 1},
                               {2, 3, 4},    {1e-3, 1, 100}, {0, 1e-3, 1},
                               {10, 20, 30}, {1e5, 1, 1e-5}, {0.25, 0.25, 7}};
    for (const auto &c : cases) {
        const double want = carlsonF(c[0], c[1], c[2]);
        EXPECT_NEAR(want, rf_(c[0], c[1], c[2]), 2e-7 * want) << c[0] << " " << c[1] << " " << c[2];
    }
}

TEST(Elliptic, CarlsonCAgainstClosedFormsAndThePrincipalValue)
{
    const double cases[][2] = {{0, 1},    {0.25, 1}, {1, 4},    {2, 1}, {9, 1},
                               {1, 1e-3}, {1, -1},   {2, -0.5}, {0, -3}};
    for (const auto &c : cases) {
        const double x = c[0], y = c[1];
        const double integral = carlsonC(x, y);
        EXPECT_NEAR(integral, rc_(x, y), 2e-7 * std::fabs(integral) + 1e-12) << x << " " << y;
        if (x < y) { // DLMF 19.2.18
            EXPECT_NEAR(std::acos(std::sqrt(x / y)) / std::sqrt(y - x), rc_(x, y), 2e-7 * integral);
        } else if (y > 0) { // DLMF 19.2.19
            EXPECT_NEAR(std::acosh(std::sqrt(x / y)) / std::sqrt(x - y), rc_(x, y),
                        2e-7 * integral);
        }
    }
}

TEST(Elliptic, CarlsonJAgainstTheIntegral)
{
    const double cases[][4] = {{0, 1, 2, 3},   {1, 2, 3, 4},    {2, 3, 4, 5},
                               {0.5, 1, 1, 2}, {1, 1, 1, 0.1},  {0, 0.2, 1, 1.5},
                               {3, 1, 2, 20},  {0, 1, 2, -0.5}, {1, 2, 3, -1},
                               {2, 3, 4, -8},  {1, 1, 1, -0.3}, {0, 0.36, 1, -0.2}};
    for (const auto &c : cases) {
        const double want = carlsonJ(c[0], c[1], c[2], c[3]);
        double got;
        EXPECT_EQ("", printed([&] { return rj_(c[0], c[1], c[2], c[3]); }, got));
        EXPECT_NEAR(want, got, 2e-7 * std::fabs(want))
            << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
    }
}

TEST(Elliptic, CompleteIntegralsAgainstQuadrature)
{
    for (double k : {0.0, 0.1, 0.3, 0.5, 0.7, 0.8, 0.9, 0.95, 0.99, -0.6}) {
        EXPECT_NEAR(completeIntegral(k, false), ellk_(k), 3e-8) << k;
        EXPECT_NEAR(completeIntegral(k, true), ellec_(k), 3e-8) << k;
    }
    EXPECT_EQ(1.0, ellec_(1.0));
    EXPECT_TRUE(std::isinf(ellk_(1.0)));
}

TEST(Elliptic, InvalidArgumentsReportAndGiveNaN)
{
    const double nan = std::nan("");
    struct Case {
        std::function<double()> call;
        const char *message;
    };
    const Case cases[] = {
        {[] { return rf_(-1, 1, 1); }, "invalid arguments in rf\n"},
        {[] { return rf_(0, 0, 1); }, "invalid arguments in rf\n"},
        {[] { return rf_(1, 1, 1e38); }, "invalid arguments in rf\n"},
        {[=] { return rf_(nan, 1, 1); }, "invalid arguments in rf\n"},
        {[] { return rc_(1, 0); }, "invalid arguments in rc\n"},
        {[] { return rc_(-1, 1); }, "invalid arguments in rc\n"},
        {[] { return rc_(0.001, -2e19); }, "invalid arguments in rc\n"},
        {[=] { return rc_(1, nan); }, "invalid arguments in rc\n"},
        {[] { return rj_(-1, 1, 1, 1); }, "-1 1 1\ninvalid arguments in rj\n"},
        {[] { return rj_(1, 1, 1, 0); }, "1 1 1\ninvalid arguments in rj\n"},
        {[] { return rj_(0, 0, 1, 1); }, "0 0 1\ninvalid arguments in rj\n"},
        {[] { return rj_(1, 2, 1e12, 1); }, "1 2 1e+12\ninvalid arguments in rj\n"},
        {[=] { return rj_(1, 1, 1, nan); }, "1 1 1\ninvalid arguments in rj\n"},
    };
    for (const Case &c : cases) {
        double v = 0;
        EXPECT_EQ(c.message, printed(c.call, v));
        EXPECT_TRUE(std::isnan(v)) << c.message;
    }
}
