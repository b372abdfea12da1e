#include "torvex/model/ellipse.h"

#include "torvex/model/component_types.h"

#include "numerics/numrec.h"

#include <algorithm>
#include <cmath>

namespace {

// The polar-cell routines work with these values of pi.
constexpr double kPi = 3.14159265352982;
constexpr double kPi2 = 1.57079632676491;
constexpr double kTwoPi = 6.28318530705964;

} // namespace

float ellipse_exponent(float c)
{
    float e = c + 2;
    return e >= kMinEllipseExponent ? e : kMinEllipseExponent;
}

float ratio(float c)
{
    if (!(c >= kMinEllipseExponent))
        c = kMinEllipseExponent;
    if (c == 2)
        return 1; // a true ellipse, exactly
    float ic = 1 / c;
    float b = std::exp(gammln(ic) + gammln(ic + 1) - gammln(ic + 1 + ic));
    return static_cast<float>(c * 3.141592654 / (4 * b));
}

float beta(float z, float w)
{
    return std::exp(gammln(z) + gammln(w) - gammln(z + w));
}

void swap(float *min, float *max)
{
    if (*min > *max) {
        float t = *min;
        *min = *max;
        *max = t;
    }
}

int nsubsamp(double r0, int os, double s, double q, const sampling_rule &rule)
{
    if (r0 >= rule.r_lim)
        return 1;
    double n;
    double sq = s * q;
    if (sq <= 1 && r0 <= os) {
        // Compact profile near its centre; a vanishing size asks for the cap.
        double asq = std::fabs(sq);
        n = asq > 0 ? std::min(100.0, std::trunc(rule.k1 / (asq * os))) : 100;
    } else if (r0 <= rule.k_os * os) {
        n = std::trunc(rule.k2 / os);
    } else {
        double v = rule.k2 / r0 / os;
        n = std::min(100.0, round_half_away(v));
    }
    if (!(n >= 1))
        return 1;
    return static_cast<int>(n);
}

float xy2phi(float x, float y, const float *a, int *quadrant)
{
    double dx = static_cast<double>(x) - a[SLOT_X];
    double dy = static_cast<double>(y) - a[SLOT_Y];
    double p;
    if (dx == 0) {
        p = dy < 0 ? kPi : 0;
    } else if (dy == 0) {
        p = dx < 0 ? kPi2 : -kPi2;
    } else {
        double len = std::sqrt(dx * dx + dy * dy);
        double nx = dx / len, ny = dy / len;
        p = std::atan(ny / nx) + kPi2;
        if (dx > 0)
            p += kPi;
    }
    // Brought into [0, 2 pi) whatever the angle: a trial step may take the
    // position angle outside (-90, 90] degrees, and the quadrant must stay
    // 1 to 4.
    double phi = std::fmod(p - a[SLOT_PA], kTwoPi);
    if (phi < 0)
        phi += kTwoPi;

    if (dx == 0 && dy == 0) {
        *quadrant = 0;
    } else {
        *quadrant = static_cast<int>(phi / kPi2 + 1);
        if (*quadrant == 5)
            *quadrant = 1;
    }

    double t;
    if (std::fabs(phi - 3 * kPi2) < 1e-7)
        return static_cast<float>(3 * kPi2); // on the axis: tan would blow up to +-pi/2
    if (std::fabs(phi - kPi2) < 1e-7)
        t = kPi2;
    else if (std::fabs(phi + kPi2) < 1e-7)
        t = -kPi2;
    else
        t = std::atan(std::tan(phi) / a[SLOT_Q]);

    if ((*quadrant == 2 || *quadrant == 3) && std::fabs(phi - kPi2) > 1e-7)
        return static_cast<float>(t + kPi);
    if (*quadrant == 4)
        return static_cast<float>(t + kTwoPi);
    return static_cast<float>(t);
}

void minmaxphi(float xmin, float xmax, float ymin, float ymax, const float *a, float *minphi,
               float *maxphi, int *quad)
{
    const float cx[4] = {xmin, xmin, xmax, xmax};
    const float cy[4] = {ymax, ymin, ymin, ymax};
    float ang[4];
    int qd[4];
    for (int i = 0; i < 4; i++) {
        ang[i] = xy2phi(cx[i], cy[i], a, &qd[i]);
        quad[qd[i]] = 1;
    }

    const float twopi = static_cast<float>(kTwoPi);
    const float pi = static_cast<float>(kPi);
    *minphi = twopi;
    *maxphi = 0;
    if (quad[1] && quad[4]) {
        // The rectangle straddles the major axis at angle 0: the range runs
        // from the corners of quadrant 4 through 2 pi.
        for (int i = 0; i < 4; i++) {
            if (qd[i] == 0)
                continue;
            if (ang[i] - pi >= -1e-5f && ang[i] < *minphi)
                *minphi = ang[i];
            if (ang[i] < pi && ang[i] > *maxphi)
                *maxphi = ang[i];
        }
        *maxphi += twopi;
    } else {
        for (int i = 0; i < 4; i++) {
            if (qd[i] == 0)
                continue;
            *minphi = std::min(*minphi, ang[i]);
            *maxphi = std::max(*maxphi, ang[i]);
        }
    }
}

float rdist(float x, float y, const float *a)
{
    double c = ellipse_exponent(a[SLOT_C]);
    double dx = static_cast<double>(x) - a[SLOT_X];
    double dy = static_cast<double>(y) - a[SLOT_Y];
    double cb = std::cos(a[SLOT_PA]), sb = std::sin(a[SLOT_PA]);
    double u = std::fabs(dy * cb - dx * sb), v = std::fabs((dx * cb + dy * sb) / a[SLOT_Q]);
    double s = std::pow(u, c) + std::pow(v, c);
    if (std::isfinite(s) || !std::isfinite(u) || !std::isfinite(v))
        return static_cast<float>(std::pow(s, 1 / c));
    // A large exponent overflows the powers of a finite radius: scale by
    // the larger offset.
    double m = std::max(u, v);
    return static_cast<float>(m * std::pow(std::pow(u / m, c) + std::pow(v / m, c), 1 / c));
}

void minmaxrad(float xmin, float xmax, float ymin, float ymax, const float *a, float *minr,
               float *maxr)
{
    const float cx[4] = {xmin, xmin, xmax, xmax};
    const float cy[4] = {ymax, ymin, ymin, ymax};
    *minr = 1e6f;
    *maxr = 0;
    for (int i = 0; i < 4; i++) {
        float r = rdist(cx[i], cy[i], a);
        *minr = std::min(*minr, r);
        *maxr = std::max(*maxr, r);
    }
    bool in_x = xmin < a[SLOT_X] && a[SLOT_X] < xmax;
    bool in_y = ymin < a[SLOT_Y] && a[SLOT_Y] < ymax;
    if (in_x)
        *minr = rdist(a[SLOT_X], ymax < a[SLOT_Y] ? ymax : ymin, a);
    if (in_y)
        *minr = rdist(xmax < a[SLOT_X] ? xmax : xmin, a[SLOT_Y], a);
    if (in_x && (a[SLOT_Y] == ymin || a[SLOT_Y] == ymax))
        *minr = 0;
    if (in_y && (a[SLOT_X] == xmin || a[SLOT_X] == xmax))
        *minr = 0;
}

float phi2xy(float phi, float r, const float *a, float *x, float *y)
{
    double cp = std::cos(phi), sp = std::sin(phi);
    double cb = std::cos(a[SLOT_PA]), sb = std::sin(a[SLOT_PA]);
    double dx = -static_cast<double>(r) * (cp * sb + a[SLOT_Q] * sp * cb);
    double dy = static_cast<double>(r) * (cp * cb - a[SLOT_Q] * sp * sb);
    *x = static_cast<float>(a[SLOT_X] + dx);
    *y = static_cast<float>(a[SLOT_Y] + dy);
    return static_cast<float>(std::atan2(dy, dx));
}

float traparea(const float *a, float cphi, float r)
{
    const double half = 0.008726646192371845; // half a degree
    float r_out = static_cast<float>(r * (1 + 1.01) / 2);
    float r_in = static_cast<float>((r / 1.01 + r) / 2);
    float x[5], y[5];
    phi2xy(static_cast<float>(cphi - half), r_out, a, &x[1], &y[1]);
    phi2xy(static_cast<float>(cphi + half), r_out, a, &x[2], &y[2]);
    phi2xy(static_cast<float>(cphi + half), r_in, a, &x[3], &y[3]);
    phi2xy(static_cast<float>(cphi - half), r_in, a, &x[4], &y[4]);
    auto cross = [&](int i, int j, int k) {
        // (P_i - P_j) x (P_k - P_j)
        double ax = static_cast<double>(x[i]) - x[j], ay = static_cast<double>(y[i]) - y[j];
        double bx = static_cast<double>(x[k]) - x[j], by = static_cast<double>(y[k]) - y[j];
        return std::fabs(ax * by - ay * bx);
    };
    return static_cast<float>((cross(1, 2, 3) + cross(1, 4, 3)) / 2);
}
