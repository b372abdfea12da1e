#include "lightcurve/elliptic.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kThird = 0.3333333333333333;

double invalid(const char *name)
{
    std::cout << "invalid arguments in " << name << std::endl;
    return kNaN;
}

} // namespace

double rf_(double x, double y, double z)
{
    constexpr double kTiny = 1.5e-38, kBig = 3.0e37, kErrTol = 0.08;
    constexpr double c1 = 1.0 / 24.0, c2 = 0.1, c3 = 3.0 / 44.0, c4 = 1.0 / 14.0;
    // Written so that NaN arguments fail too (they would never converge).
    const bool valid = x >= 0 && y >= 0 && z >= 0 && x + z >= kTiny && x + y >= kTiny &&
                       y + z >= kTiny && x <= kBig && y <= kBig && z <= kBig;
    if (!valid)
        return invalid("rf");
    double xt = x, yt = y, zt = z, ave, dx, dy, dz;
    do {
        const double sx = std::sqrt(xt), sy = std::sqrt(yt), sz = std::sqrt(zt);
        const double lambda = (sz + sy) * sx + sz * sy;
        xt = (xt + lambda) * 0.25;
        yt = (yt + lambda) * 0.25;
        zt = (zt + lambda) * 0.25;
        ave = (xt + yt + zt) * kThird;
        dx = (ave - xt) / ave;
        dy = (ave - yt) / ave;
        dz = (ave - zt) / ave;
    } while (std::max({std::fabs(dx), std::fabs(dy), std::fabs(dz)}) > kErrTol);
    const double e2 = dx * dy - dz * dz, e3 = dx * dy * dz;
    return (1.0 + (c1 * e2 - c2 - c3 * e3) * e2 + c4 * e3) / std::sqrt(ave);
}

double rc_(double x, double y)
{
    constexpr double kTiny = 1.69e-38, kBig = 3.0e37, kErrTol = 0.04;
    constexpr double kComp1 = 1.72e19, kComp2 = 0.010281960000000001;
    constexpr double c1 = 0.3, c2 = 1.0 / 7.0, c3 = 0.375, c4 = 9.0 / 22.0;
    const double s = std::fabs(y) + x;
    const bool valid = x >= 0 && (y > 0 || y < 0) && s >= kTiny && s <= kBig &&
                       !(y < -kComp1 && x > 0 && x < kComp2);
    if (!valid)
        return invalid("rc");
    double xt, yt, w;
    if (y > 0) {
        xt = x;
        yt = y;
        w = 1.0;
    } else {
        xt = x - y;
        yt = -y;
        w = std::sqrt(x) / std::sqrt(xt);
    }
    double ave, d;
    do {
        const double lambda = 2.0 * std::sqrt(xt) * std::sqrt(yt) + yt;
        xt = (xt + lambda) * 0.25;
        yt = (yt + lambda) * 0.25;
        ave = (xt + 2.0 * yt) * kThird;
        d = (yt - ave) / ave;
    } while (std::fabs(d) > kErrTol);
    return w * (1.0 + d * d * (c1 + d * (c2 + d * (c3 + d * c4)))) / std::sqrt(ave);
}

double rj_(double x, double y, double z, double p)
{
    constexpr double kTiny = 2.5e-13, kBig = 9.0e11, kErrTol = 0.05;
    // c1 is 3/14 as single precision gives it.
    constexpr double c1 = 0.2142857164144516, c2 = 1.0 / 3.0, c3 = 3.0 / 22.0, c4 = 3.0 / 26.0;
    constexpr double c5 = 0.75 * c3, c6 = 1.5 * c4, c7 = 0.5 * c2, c8 = c3 + c3;
    const double ap = std::fabs(p);
    const bool valid = x >= 0 && y >= 0 && z >= 0 && x + z >= kTiny && x + y >= kTiny &&
                       y + z >= kTiny && ap >= kTiny && x <= kBig && y <= kBig && z <= kBig &&
                       ap <= kBig;
    if (!valid) {
        std::cout << x << " " << y << " " << z << std::endl;
        return invalid("rj");
    }
    double sum = 0.0, fac = 1.0;
    double xt, yt, zt, pt, a = 0.0, b = 0.0, rcx = 0.0;
    if (p > 0) {
        xt = x;
        yt = y;
        zt = z;
        pt = p;
    } else {
        xt = std::min({x, y, z});
        zt = std::max({x, y, z});
        yt = x + y + z - xt - zt;
        a = 1.0 / (yt - p);
        b = a * (zt - yt) * (yt - xt);
        pt = yt + b;
        const double rho = xt * zt / yt;
        const double tau = p * pt / yt;
        rcx = rc_(rho, tau);
    }
    double ave, dx, dy, dz, dp;
    do {
        const double sx = std::sqrt(xt), sy = std::sqrt(yt), sz = std::sqrt(zt);
        const double lambda = (sz + sy) * sx + sz * sy;
        const double beta = (lambda + pt) * (lambda + pt) * pt;
        const double alpha0 = (sy + sx + sz) * pt + sy * sx * sz;
        sum += fac * rc_(alpha0 * alpha0, beta);
        fac *= 0.25;
        xt = (xt + lambda) * 0.25;
        yt = (yt + lambda) * 0.25;
        zt = (zt + lambda) * 0.25;
        pt = (pt + lambda) * 0.25;
        ave = (xt + yt + zt + 2.0 * pt) * 0.2;
        dx = (ave - xt) / ave;
        dy = (ave - yt) / ave;
        dz = (ave - zt) / ave;
        dp = (ave - pt) / ave;
    } while (std::max({std::fabs(dx), std::fabs(dy), std::fabs(dz), std::fabs(dp)}) > kErrTol);
    const double ea = dx * (dy + dz) + dy * dz;
    const double eb = dx * dy * dz;
    const double ec = dp * dp;
    const double ed = ea - 3.0 * ec;
    const double ee = eb + 2.0 * dp * (ea - ec);
    const double r =
        3.0 * sum + fac *
                        (1.0 + ed * (-c1 + c5 * ed - c6 * ee) + eb * (c7 + dp * (-c8 + dp * c4)) +
                         dp * ea * (c2 - dp * c3) - c2 * dp * ec) /
                        (ave * std::sqrt(ave));
    if (p > 0)
        return r;
    return a * (b * r + 3.0 * (rcx - rf_(xt, yt, zt)));
}

double ellk_(double k)
{
    const double m1 = 1.0 - k * k;
    const double a =
        1.38629436112 +
        m1 * (0.09666344259 + m1 * (0.03590092383 + m1 * (0.03742563713 + m1 * 0.01451196212)));
    const double b = 0.5 + m1 * (0.12498593597 +
                                 m1 * (0.06880248576 + m1 * (0.03328355346 + m1 * 0.00441787012)));
    return a - b * std::log(m1);
}

double ellec_(double k)
{
    const double m1 = 1.0 - k * k;
    const double a = 1.0 + m1 * (0.44325141463 +
                                 m1 * (0.06260601220 + m1 * (0.04757383546 + m1 * 0.01736506451)));
    // b vanishes with m1 faster than ln(1/m1) grows: at k = 1 the term is 0
    // (E(1) = 1), not 0 times infinity.
    if (m1 == 0.0)
        return a;
    const double b =
        m1 * (0.24998368310 + m1 * (0.09200180037 + m1 * (0.04069697526 + m1 * 0.00526449639)));
    return a + b * std::log(1.0 / m1);
}
