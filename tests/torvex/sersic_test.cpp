// The Sersic profile: kappa(n), pixel values, total flux, sub-pixel
// integration and every analytic derivative image.
#include "numerics/numrec.h"
#include "render_fixture.h"
#include "torvex/model/sersic.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double pi = 3.14159265358979;

TEST(SersicKappa, SplitsTheLightInHalfAtRe)
{
    // Independent truth: P(2n, kappa) = 1/2.
    for (float n : {0.3f, 0.5f, 0.77f, 1.0f, 2.5f, 4.0f, 4.9f})
        EXPECT_NEAR(gammp(2 * n, getinterp(n)), 0.5, 2e-4) << n;
    EXPECT_NEAR(getinterp(0.5f), std::log(2.0), 1e-3);
    EXPECT_NEAR(getinterp(1), 1.67835, 1e-3);
    EXPECT_NEAR(getinterp(4), 7.66925, 1e-3);
    // Where the table hands over to the linear law.
    EXPECT_NEAR(getinterp(5), 1.9992 * 5 - 0.3271, 1e-3);
    EXPECT_NEAR(gamm2nln(2.5f), std::lgamma(5.0), 1e-5);
}

struct SersicCase {
    float xc, yc, m, re, n, q, pa, c;
};

void fill(const SersicCase &s, float *a)
{
    for (int k = 0; k <= 10; k++)
        a[k] = 0;
    a[1] = s.xc;
    a[2] = s.yc;
    a[3] = s.m;
    a[4] = s.re;
    a[5] = s.n;
    a[8] = s.q;
    a[9] = s.pa;
    a[10] = s.c;
}

// Ie from the total flux by the closed-form integral.
double sersic_ie(const SersicCase &s, double magzpt)
{
    double kappa = getinterp(s.n);
    double f = std::pow(10.0, (magzpt - s.m) / 2.5);
    return f * ratio(s.c + 2) /
           (2 * pi * s.re * s.re * s.q * s.n * std::exp(kappa) * std::pow(kappa, -2 * s.n) *
            std::tgamma(2 * s.n));
}

double sersic_at(const SersicCase &s, double ie, double x, double y)
{
    double t = -s.pa * pi / 180 + pi / 2;
    double dx = x - s.xc, dy = y - s.yc;
    double u = std::cos(t) * dx - std::sin(t) * dy;
    double v = (std::sin(t) * dx + std::cos(t) * dy) / s.q;
    double c = s.c + 2;
    double r = std::pow(std::pow(std::fabs(u), c) + std::pow(std::fabs(v), c), 1 / c);
    double kappa = getinterp(s.n);
    return ie * std::exp(-kappa * (std::pow(r / s.re, 1 / s.n) - 1));
}

const int image_only[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

TEST(Sersic, PixelsBeyondTheSampledCoreTakeTheProfileAtTheirCentre)
{
    SersicCase s{40.3f, 38.6f, 17, 5, 2.5f, 0.7f, -35, 0};
    float a[11];
    fill(s, a);
    Canvas img(80, 80);
    draw(sersic, a, image_only, img);
    double ie = sersic_ie(s, img.rec.magzpt);
    for (auto xy : {std::pair<int, int>{70, 40}, {40, 5}, {3, 79}, {62, 66}})
        EXPECT_NEAR(img.at(0, xy.first, xy.second), sersic_at(s, ie, xy.first, xy.second),
                    2e-6 * sersic_at(s, ie, xy.first, xy.second));
}

TEST(Sersic, TotalIsTheFluxOfTheMagnitudeForAnyDiskiness)
{
    for (float c : {0.0f, -0.6f, 0.8f}) {
        SersicCase s{80.3f, 80.7f, 18, 4, 1.5f, 0.6f, 30, c};
        float a[11];
        fill(s, a);
        Canvas img(161, 161);
        draw(sersic, a, image_only, img);
        double f = std::pow(10.0, (img.rec.magzpt - s.m) / 2.5);
        EXPECT_NEAR(img.sum(), f, 1e-3 * f) << c;
    }
}

// Pixel integral of the profile by brute force (m x m midpoint samples).
double integrate_pixel(const SersicCase &s, double ie, int x, int y, int m)
{
    double sum = 0;
    for (int i = 0; i < m; i++)
        for (int j = 0; j < m; j++)
            sum += sersic_at(s, ie, x - 0.5 + (i + 0.5) / m, y - 0.5 + (j + 0.5) / m);
    return sum / (static_cast<double>(m) * m);
}

TEST(Sersic, CorePixelsMatchAnIndependentIntegration)
{
    // A compact and a wide profile, on and off a pixel centre.
    for (SersicCase s : {SersicCase{20.27f, 19.63f, 17, 1.2f, 4, 0.5f, 60, 0},
                         SersicCase{20.4f, 19.8f, 17, 6, 1, 0.8f, -10, 0.3f}}) {
        float a[11];
        fill(s, a);
        Canvas img(40, 40);
        draw(sersic, a, image_only, img);
        double ie = sersic_ie(s, img.rec.magzpt);
        for (int y = 16; y <= 24; y += 2)
            for (int x = 16; x <= 24; x += 2) {
                double expect = integrate_pixel(s, ie, x, y, 300);
                EXPECT_NEAR(img.at(0, x, y), expect, 5e-3 * expect) << x << " " << y;
            }
    }
}

TEST(Sersic, DerivativeImagesMatchCentralDifferences)
{
    const int free[11] = {0, 1, 1, 1, 1, 1, -1, -1, 1, 1, 1};
    const float steps[11] = {0, 2e-3f, 2e-3f, 1e-2f, 1e-2f, 5e-3f, 0, 0, 2e-3f, 0.05f, 5e-3f};
    // The last case is a compact cusp sampled 49 times per axis near its
    // centre: smaller steps keep the differences on the same sample grid.
    struct {
        SersicCase s;
        float scale;
    } cases[] = {{{30.37f, 29.81f, 18, 6.3f, 2.2f, 0.63f, 27, 0}, 1},
                 {{30.37f, 29.81f, 18, 6.3f, 0.8f, 0.63f, -57, 0.35f}, 1},
                 {{30.1f, 29.6f, 18, 1.3f, 4.5f, 0.5f, 10, -0.4f}, 0.1f}};
    pixel_class cls = sampling_class({16, 32, 4, 32}, [](const float *a) { return a[4]; });
    for (const auto &c : cases) {
        float a[11];
        fill(c.s, a);
        for (int k : {1, 2, 3, 4, 5, 8, 9, 10})
            EXPECT_LT(derivative_mismatch(sersic, a, free, k, steps[k] * c.scale, 60, 60, cls),
                      1e-2)
                << "slot " << k << " n " << c.s.n << " c " << c.s.c;
    }
}

TEST(Sersic, StaysFiniteAtTheEdgesOfItsParameters)
{
    const int free[11] = {0, 1, 1, 1, 1, 1, -1, -1, 1, 1, 1};
    // On a pixel centre; c below -2; a vanishing size; large and small n.
    for (SersicCase s :
         {SersicCase{10, 10, 18, 3, 4, 0.5f, 0, 0}, SersicCase{10, 10, 18, 3, 4, 0.5f, 0, -2.5f},
          SersicCase{10.2f, 9.9f, 18, 1e-3f, 1, 0.1f, 0, 0},
          SersicCase{10.2f, 9.9f, 18, 3, 15, 0.7f, 0, 0},
          SersicCase{10.2f, 9.9f, 18, 3, 0.06f, 0.7f, 0, 0}}) {
        float a[11];
        fill(s, a);
        Canvas img(20, 20, free);
        draw(sersic, a, free, img);
        EXPECT_TRUE(img.finite()) << s.re << " " << s.n << " " << s.c;
    }
}

} // namespace
