#include "psftools/gamma_bessel.h"

#include <cmath>
#include <initializer_list>
#include <iostream>

namespace {

constexpr int ITMAX = 100;
constexpr double EPS = 3.0e-7;
constexpr double FPMIN = 1.0e-30;

// c[0] + y·(c[1] + y·(c[2] + ...)), from the highest coefficient down.
double horner(double y, std::initializer_list<double> c)
{
    double sum = 0.0;
    for (auto it = c.end(); it != c.begin();)
        sum = sum * y + *--it;
    return sum;
}

// P(a, x) when lower is set, Q(a, x) otherwise: the series below x = a + 1,
// the continued fraction above, each giving the other function as 1 minus
// its value. Bad arguments are reported in the name of routine.
double incompleteGamma(double a, double x, bool lower, const char *routine)
{
    if (x < 0.0 || a <= 0.0)
        std::cerr << "Invalid arguments in routine " << routine << std::endl;
    double value, gln;
    const bool series = x < a + 1.0;
    if (series)
        gser(value, a, x, gln);
    else
        gcf(value, a, x, gln);
    return series == lower ? value : 1.0 - value;
}

} // namespace

double gammln(double x)
{
    static const double cof[6] = {76.18009172947146,  -86.50532032941678,   24.01409824083091,
                                  -1.231739572450155, 0.001208650973866179, -5.395239384953e-06};
    const double t = (x + 5.5) - (x + 0.5) * std::log(x + 5.5);
    double s = 1.000000000190015;
    double y = x;
    for (double c : cof)
        s += c / ++y;
    return std::log(2.5066282746310007 * s / x) - t;
}

void gser(double &gamser, double a, double x, double &gln)
{
    gln = gammln(a);
    if (x <= 0.0) {
        if (x < 0.0)
            std::cerr << "x less than 0 in routine gser" << std::endl;
        gamser = 0.0;
        return;
    }
    double ap = a;
    double del = 1.0 / a;
    double sum = del;
    for (int n = 1; n <= ITMAX; ++n) {
        ++ap;
        del *= x / ap;
        sum += del;
        if (std::fabs(del) < std::fabs(sum) * EPS) {
            gamser = sum * std::exp(a * std::log(x) - x - gln);
            return;
        }
    }
    std::cerr << "a too large, ITMAX too small in routine gser" << std::endl;
    gamser = sum * std::exp(a * std::log(x) - x - gln);
}

void gcf(double &gammcf, double a, double x, double &gln)
{
    gln = gammln(a);
    double b = x + 1.0 - a;
    double c = 1.0 / FPMIN;
    double d = 1.0 / b;
    double h = d;
    int i = 1;
    for (; i <= ITMAX; ++i) {
        const double an = -i * (i - a);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < FPMIN)
            d = FPMIN;
        c = b + an / c;
        if (std::fabs(c) < FPMIN)
            c = FPMIN;
        d = 1.0 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < EPS)
            break;
    }
    if (i > ITMAX)
        std::cerr << "a too large, ITMAX too small in gcf" << std::endl;
    gammcf = std::exp(a * std::log(x) - x - gln) * h;
}

double gammp(double a, double x)
{
    return incompleteGamma(a, x, true, "gammp");
}

double gammq(double a, double x)
{
    return incompleteGamma(a, x, false, "gammq");
}

// The published polynomial approximations of I0, I1, K0 and K1 in Abramowitz
// and Stegun's handbook, with their coefficients.

double bessi0(double x)
{
    const double ax = std::fabs(x);
    if (ax > 700.0)
        return 1e300;
    if (ax < 3.75) {
        const double t = (x / 3.75) * (x / 3.75);
        return horner(t, {1.0, 3.5156229, 3.0899424, 1.2067492, 0.2659732, 0.0360768, 0.0045813});
    }
    const double y = 3.75 / ax;
    return std::exp(ax) / std::sqrt(ax) *
           horner(y, {0.39894228, 0.01328592, 0.00225319, -0.00157565, 0.00916281, -0.02057706,
                      0.02635537, -0.01647633, 0.00392377});
}

double bessi1(double x)
{
    const double ax = std::fabs(x);
    double ans;
    if (ax < 3.75) {
        const double t = (x / 3.75) * (x / 3.75);
        ans = ax * horner(t, {0.5, 0.87890594, 0.51498869, 0.15084934, 0.02658733, 0.00301532,
                              0.00032411});
    } else {
        const double y = 3.75 / ax;
        ans = std::exp(ax) / std::sqrt(ax) *
              horner(y, {0.39894228, -0.03988024, -0.00362018, 0.00163801, -0.01031555, 0.02282967,
                         -0.02895312, 0.01787654, -0.00420059});
    }
    return x < 0.0 ? -ans : ans;
}

double bessk0(double x)
{
    if (x <= 2.0) {
        const double y = x * x / 4.0;
        return -std::log(x / 2.0) * bessi0(x) +
               horner(y, {-0.57721566, 0.42278420, 0.23069756, 0.03488590, 0.00262698, 0.00010750,
                          0.00000740});
    }
    const double y = 2.0 / x;
    return std::exp(-x) / std::sqrt(x) *
           horner(y, {1.25331414, -0.07832358, 0.02189568, -0.01062446, 0.00587872, -0.00251540,
                      0.00053208});
}

double bessk1(double x)
{
    if (x <= 2.0) {
        const double y = x * x / 4.0;
        return std::log(x / 2.0) * bessi1(x) +
               (1.0 / x) * horner(y, {1.0, 0.15443144, -0.67278579, -0.18156897, -0.01919402,
                                      -0.00110404, -0.00004686});
    }
    const double y = 2.0 / x;
    return std::exp(-x) / std::sqrt(x) *
           horner(y, {1.25331414, 0.23498619, -0.03655620, 0.01504268, -0.00780353, 0.00325614,
                      -0.00068245});
}
