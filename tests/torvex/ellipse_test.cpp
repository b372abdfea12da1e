// Generalised-ellipse geometry: radius, area ratio, sampling rule and the
// polar-cell routines.
#include "render_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double pi = 3.14159265358979;

float params(float xc, float yc, float q, float pa, float c, float *a)
{
    for (int k = 0; k <= 10; k++)
        a[k] = 0;
    a[1] = xc;
    a[2] = yc;
    a[8] = q;
    a[9] = pa;
    a[10] = c;
    return 0;
}

double radius(const float *a, double x, double y)
{
    return ellipse_radius(a, x, y);
}

TEST(EllipseRadius, AxesFollowPositionAngleAndAxisRatio)
{
    float a[11];
    params(10, 20, 0.5f, 0, 0, a);
    // PA 0: the major axis is along y.
    EXPECT_NEAR(radius(a, 10, 21), 1, 1e-6);
    EXPECT_NEAR(radius(a, 11, 20), 2, 1e-6);
    // PA 90 turns the major axis towards -x.
    a[9] = 90;
    EXPECT_NEAR(radius(a, 9, 20), 1, 1e-6);
    EXPECT_NEAR(radius(a, 10, 21), 2, 1e-6);
    // c = 2 (C = 4): a box-like ellipse; along the diagonal r = (2 t^4)^(1/4).
    params(0, 0, 1, 0, 2, a);
    EXPECT_NEAR(radius(a, 1, 1), std::pow(2.0, 0.25), 1e-6);
    // Both paths agree where they should, and the centre stays finite.
    params(3, 4, 0.7f, 33, 0, a);
    float b[11];
    params(3, 4, 0.7f, 33, 1e-7f, b);
    EXPECT_NEAR(radius(a, 5.3, 2.2), radius(b, 5.3, 2.2), 1e-5);
    EXPECT_GT(radius(a, 3, 4), 0);
    EXPECT_GT(radius(b, 3, 4), 0);
    EXPECT_TRUE(std::isfinite(radius(b, 3, 4)));
}

TEST(EllipseRadius, RdistMatchesTheRadiusWithTheAngleInRadians)
{
    float a[11];
    for (float c : {0.0f, -0.7f, 1.5f}) {
        params(7.5f, 3.25f, 0.6f, 28, c, a);
        float b[11];
        params(7.5f, 3.25f, 0.6f, static_cast<float>(28 * pi / 180), c, b);
        for (double x : {2.0, 7.0, 11.5})
            for (double y : {-1.0, 3.0, 6.5})
                EXPECT_NEAR(rdist(static_cast<float>(x), static_cast<float>(y), b), radius(a, x, y),
                            2e-5 * radius(a, x, y))
                    << c << " " << x << " " << y;
    }
}

// Area of the generalised ellipse |x|^C + |y|^C <= 1 by direct quadrature.
double superellipse_area(double c)
{
    const int n = 200000;
    double s = 0;
    for (int i = 0; i < n; i++) {
        double x = (i + 0.5) / n;
        s += std::pow(1 - std::pow(x, c), 1 / c);
    }
    return 4 * s / n;
}

TEST(Ratio, IsTheAreaOfTheEllipseOverThatOfTheGeneralisedEllipse)
{
    EXPECT_EQ(ratio(2), 1.0f);
    for (double c : {0.8, 1.0, 1.5, 2.5, 3.0, 4.0}) {
        double expect = pi / superellipse_area(c);
        EXPECT_NEAR(ratio(static_cast<float>(c)), expect, 2e-4 * expect) << c;
    }
    EXPECT_GT(ratio(1.5f), 1);
    EXPECT_LT(ratio(3), 1);
}

TEST(Ratio, StaysFiniteForAnyExponent)
{
    for (float c : {0.0f, -1.0f, -5.0f, 1e-6f, kMinEllipseExponent, NAN}) {
        float r = ratio(c);
        EXPECT_TRUE(std::isfinite(r) && r > 0) << c;
    }
    EXPECT_EQ(ellipse_exponent(-3), kMinEllipseExponent);
    EXPECT_EQ(ellipse_exponent(NAN), kMinEllipseExponent);
    EXPECT_EQ(ellipse_exponent(0.5f), 2.5f);
}

TEST(Nsubsamp, FollowsTheSamplingRule)
{
    const sampling_rule sersic{16, 32, 4, 32}, king{10, 40, 3, 20};
    struct Case {
        double r0;
        int os;
        double s, q;
        const sampling_rule &rule;
        int n;
    } cases[] = {
        {15.9, 1, 5, 1, sersic, 2}, // round(32 / 15.9) = 2
        {16.0, 1, 5, 1, sersic, 1}, // R0 and beyond: one sample
        {9.99, 1, 5, 1, king, 2},      {10.0, 1, 5, 1, king, 1},
        {0.5, 1, 0.8, 1, sersic, 40},                                 // compact: 32 / (S q)
        {1.0, 1, 2, 0.5, sersic, 32},  {0.5, 1, 0.1, 1, sersic, 100}, // capped
        {0.5, 2, 0.8, 1, sersic, 20},                                 // 32 / (0.8 * 2)
        {0.5, 1, 0, 1, sersic, 100},   // a vanishing size asks for the cap
        {0.5, 1, -0.5, 1, sersic, 64}, // its absolute value counts
        {1.5, 1, 0.8, 1, sersic, 32},  // r0 > os: K2 / os
        {4.0, 2, 5, 1, sersic, 16},    // r0 <= k os
        {9.0, 2, 5, 1, sersic, 2},     // round(32 / 9 / 2) = round(1.78)
        {12.0, 1, 5, 1, king, 1},      // beyond the King rule's R0
        {5.0, 1, 5, 1, king, 4},       // round(20 / 5)
        {0.5, 100, 5, 1, king, 1},     // trunc(20 / 100) = 0 becomes 1
    };
    for (const Case &c : cases)
        EXPECT_EQ(nsubsamp(c.r0, c.os, c.s, c.q, c.rule), c.n)
            << c.r0 << " " << c.os << " " << c.s << " " << c.q;
}

TEST(PolarCells, AnglesAndQuadrants)
{
    float a[11];
    params(10, 10, 0.5f, 0, 0, a); // a[9]: PA 0 in radians
    int quad;
    EXPECT_NEAR(xy2phi(10, 12, a, &quad), 0, 1e-6);
    EXPECT_EQ(quad, 1);
    for (float q : {0.2f, 0.5f, 1.0f}) {
        a[8] = q;
        EXPECT_NEAR(xy2phi(7, 10, a, &quad), pi / 2, 1e-6) << q;
    }
    xy2phi(10, 10, a, &quad);
    EXPECT_EQ(quad, 0);
    // Below the centre: angle pi; to the right: 3 pi / 2 (quadrant 4).
    a[8] = 1;
    EXPECT_NEAR(xy2phi(10, 7, a, &quad), pi, 1e-6);
    EXPECT_NEAR(xy2phi(13, 10, a, &quad), 3 * pi / 2, 1e-5);
    EXPECT_EQ(quad, 4);
}

TEST(PolarCells, Phi2xyLiesOnTheEllipseOfItsRadius)
{
    for (float c : {0.0f, 1.0f, -0.8f}) {
        float a[11];
        params(4, -2, 0.4f, 0.6f, c, a);
        double cexp = c + 2;
        for (double phi = 0.1; phi < 6.2; phi += 0.7) {
            float x, y;
            phi2xy(static_cast<float>(phi), 3, a, &x, &y);
            // rdist of the point is r h(phi), h the C-norm of (cos, sin).
            double h = std::pow(std::pow(std::fabs(std::cos(phi)), cexp) +
                                    std::pow(std::fabs(std::sin(phi)), cexp),
                                1 / cexp);
            EXPECT_NEAR(rdist(x, y, a), 3 * h, 1e-4) << c << " " << phi;
        }
    }
}

TEST(PolarCells, RdistOfALargeExponentIsFinite)
{
    // C = 300 and q = 0.01: the powers of these radii overflow a double,
    // the radius itself does not.  With PA 0, u = |dy| and v = |dx| / q.
    float a[11];
    params(0, 0, 0.01f, 0, 298, a);
    EXPECT_FLOAT_EQ(rdist(40, 0, a), 4000);
    EXPECT_FLOAT_EQ(rdist(0, 40, a), 40);
    EXPECT_NEAR(rdist(1, 40, a), 100, 1e-4); // (40^300 + 100^300)^(1/300)
    float minr, maxr;
    minmaxrad(0.5f, 1.5f, -0.5f, 0.5f, a, &minr, &maxr);
    EXPECT_NEAR(maxr, 150, 1e-3);
}

TEST(PolarCells, TrapezoidAreaIsThatOfTheMappedAnnulusSector)
{
    float a[11];
    params(3, 3, 0.35f, 1.1f, 0, a);
    for (float r : {0.01f, 0.5f, 4.0f}) {
        double r1 = r * (1 + 1.01) / 2, r2 = (r / 1.01 + r) / 2;
        double expect = 0.35 * 0.5 * std::sin(2 * 0.008726646192371845) * (r1 * r1 - r2 * r2);
        EXPECT_NEAR(traparea(a, 2.0f, r), expect, 2e-3 * expect) << r;
    }
}

TEST(PolarCells, RangesOfAPixelAwayFromTheCentre)
{
    float a[11];
    params(0, 0, 1, 0, 0, a);
    int quad[5] = {0, 0, 0, 0, 0};
    float minphi, maxphi, minr, maxr;
    // The pixel [2, 3] x [-0.5, 0.5] straddles the +x direction, at 3 pi / 2.
    minmaxphi(2, 3, -0.5f, 0.5f, a, &minphi, &maxphi, quad);
    EXPECT_TRUE(quad[3] && quad[4]);
    EXPECT_NEAR(minphi, 3 * pi / 2 - std::atan(0.5 / 2), 1e-5);
    EXPECT_NEAR(maxphi, 3 * pi / 2 + std::atan(0.5 / 2), 1e-5);
    minmaxrad(2, 3, -0.5f, 0.5f, a, &minr, &maxr);
    EXPECT_NEAR(minr, 2, 1e-6);
    EXPECT_NEAR(maxr, std::sqrt(9.25), 1e-5);
    // Straddling the major axis at angle 0 (above the centre): the range
    // runs through 2 pi.
    int quad2[5] = {0, 0, 0, 0, 0};
    minmaxphi(-0.5f, 0.5f, 2, 3, a, &minphi, &maxphi, quad2);
    EXPECT_TRUE(quad2[1] && quad2[4]);
    EXPECT_NEAR(minphi, 2 * pi - std::atan(0.5 / 2), 1e-5);
    EXPECT_NEAR(maxphi, 2 * pi + std::atan(0.5 / 2), 1e-5);
    // The centre on an edge: the smallest radius is 0.
    minmaxrad(-0.5f, 0.5f, 0, 1, a, &minr, &maxr);
    EXPECT_EQ(minr, 0);
}

TEST(Helpers, BetaAndSwap)
{
    EXPECT_NEAR(beta(0.5f, 0.5f), pi, 1e-5);
    EXPECT_NEAR(beta(2, 3), 1.0 / 12, 1e-6);
    float lo = 3, hi = 1;
    swap(&lo, &hi);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 3);
    swap(&lo, &hi);
    EXPECT_EQ(lo, 1);
}

} // namespace
