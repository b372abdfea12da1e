// Exponential disk, Gaussian, Moffat, King and Nuker: pixel values,
// total flux, their characteristic points and every derivative image.
#include "profile_truth.h"
#include "render_fixture.h"
#include "torvex/model/nuker.h"
#include "torvex/model/profiles.h"
#include "torvex/model/sersic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unistd.h>

namespace {

const double pi = 3.14159265358979;
const int image_only[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Parameters a[1..10] from a list.
struct Params {
    float a[11];
    Params(std::initializer_list<float> v)
    {
        a[0] = 0;
        int k = 1;
        for (float x : v)
            a[k++] = x;
        while (k <= 10)
            a[k++] = 0;
    }
};

double flux(float m)
{
    return std::pow(10.0, (25 - m) / 2.5);
} // Canvas magzpt 25
double surface(float mu)
{
    return std::pow(10.0, (mu - 20) / -2.5);
} // Canvas muzpt 20

// The Nuker law of the parameters a at radius r, from its definition.
double nuker_at(const float *a, double r)
{
    const double ib = surface(a[3]), rb = a[4], al = a[5], be = a[6], ga = a[7];
    return std::pow(2.0, (be - ga) / al) * ib * std::pow(rb / r, ga) *
           std::pow(1 + std::pow(r / rb, al), (ga - be) / al);
}

TEST(Exponential, OneSamplePixelsAndTotalFlux)
{
    // centre, m, Rs, q, PA, c
    Params p{90.4f, 89.7f, 17, 6, 0, 0, 0, 0.6f, 25, 0};
    Canvas img(181, 181);
    draw(exponential, p.a, image_only, img);
    double i0 = flux(17) / (2 * pi * 36 * 0.6);
    for (auto xy : {std::pair<int, int>{110, 90}, {90, 75}, {60, 130}}) {
        double r = ellipse_radius(p.a, xy.first, xy.second);
        ASSERT_GE(r, 10);
        EXPECT_NEAR(img.at(0, xy.first, xy.second), i0 * std::exp(-r / 6), 1e-5 * i0);
    }
    EXPECT_NEAR(img.sum(), flux(17), 1e-3 * flux(17));
    // The area ratio keeps the total for a disky or boxy disk.
    for (float c : {-0.5f, 0.7f}) {
        p.a[10] = c;
        draw(exponential, p.a, image_only, img);
        EXPECT_NEAR(img.sum(), flux(17), 1e-3 * flux(17)) << c;
    }
}

TEST(Exponential, IsTheSersicOfIndexOne)
{
    const float rs = 4;
    Params disk{40.3f, 39.6f, 16, rs, 0, 0, 0, 0.7f, -30, 0};
    Params ser{40.3f, 39.6f, 16, 1.678f * rs, 1, 0, 0, 0.7f, -30, 0};
    Canvas a(80, 80), b(80, 80);
    draw(exponential, disk.a, image_only, a);
    draw(sersic, ser.a, image_only, b);
    double peak = a.at(0, 40, 40);
    for (long y = 1; y <= 80; y++)
        for (long x = 1; x <= 80; x++)
            ASSERT_NEAR(a.at(0, x, y), b.at(0, x, y), 3e-3 * peak) << x << " " << y;
    EXPECT_NEAR(a.sum(), b.sum(), 1e-3 * a.sum());
}

// Integral of exp(-(t - c)^2 / 2) over the pixel [x - 1/2, x + 1/2].
double gauss_pixel(long x, double c)
{
    return std::sqrt(pi / 2) *
           (std::erf((x + 0.5 - c) / std::sqrt(2.0)) - std::erf((x - 0.5 - c) / std::sqrt(2.0)));
}

TEST(Gaussian, UnitSigmaMatchesTheExactPixelIntegralsAndTotal)
{
    Params p{50.2f, 49.9f, 16, 2.35482f, 0, 0, 0, 1, 0, 0};
    Canvas img(100, 100);
    draw(gaussian, p.a, image_only, img);
    EXPECT_NEAR(img.sum(), flux(16), 1e-3 * flux(16));
    // sigma = 1 and a round profile: I0 = F / (2 pi), separable in x and y.
    double i0 = flux(16) / (2 * pi);
    for (long y = 44; y <= 56; y++)
        for (long x = 44; x <= 56; x++)
            ASSERT_NEAR(img.at(0, x, y), i0 * gauss_pixel(x, 50.2) * gauss_pixel(y, 49.9),
                        2e-4 * i0)
                << x << " " << y;

    Canvas neg(100, 100);
    p.a[4] = -2.35482f;
    draw(gaussian, p.a, image_only, neg);
    for (long y = 45; y <= 55; y++)
        for (long x = 45; x <= 55; x++)
            ASSERT_EQ(neg.at(0, x, y), img.at(0, x, y));
}

// The Gaussian and the Moffat fall to half their central value at FWHM/2
// along the major axis: one-sample pixels there hold half of I0.
TEST(HalfMaximum, LiesAtHalfTheFwhm)
{
    const double fwhm = 30; // the half-maximum pixel lies beyond R0 = 10
    struct Case {
        component_function f;
        float beta;
        double i0;
    };
    const double q = 0.5, f = flux(14);
    double sigma = fwhm / 2.35482;
    Case cases[] = {{gaussian, 0, f / (2 * pi * sigma * sigma * q)}};
    std::vector<Case> all(cases, cases + 1);
    for (float beta : {1.5f, 2.5f, 4.765f}) {
        double rd = fwhm / (2 * std::sqrt(std::pow(2.0, 1.0 / beta) - 1));
        all.push_back({moffat, beta, f * (beta - 1) / (pi * rd * rd * q)});
    }
    for (const Case &c : all) {
        // PA 0: the major axis runs along y.
        Params p{40, 40, 14, static_cast<float>(fwhm), c.beta, 0, 0, static_cast<float>(q), 0, 0};
        Canvas img(80, 80);
        draw(c.f, p.a, image_only, img);
        EXPECT_NEAR(img.at(0, 40, 55), c.i0 / 2, 1e-5 * c.i0) << c.beta;
        EXPECT_NEAR(img.at(0, 40, 25), c.i0 / 2, 1e-5 * c.i0) << c.beta;
    }
}

TEST(Moffat, TotalFluxAndNegativeWidth)
{
    Params p{60.5f, 60.1f, 16, 4, 4, 0, 0, 0.8f, 40, 0.2f};
    Canvas img(121, 121);
    draw(moffat, p.a, image_only, img);
    EXPECT_NEAR(img.sum(), flux(16), 1e-3 * flux(16));
    Canvas neg(121, 121);
    p.a[4] = -4;
    draw(moffat, p.a, image_only, neg);
    EXPECT_EQ(neg.at(0, 61, 60), img.at(0, 61, 60));
}

TEST(King, AlphaTwoAndTruncation)
{
    // mu0, Rc, Rt, alpha
    Params p{30, 30, 18, 3, 14, 2, 0, 0.8f, 10, 0};
    const int ia[11] = {0, 1, 1, 1, 1, 1, 1, -1, 1, 1, 1};
    Canvas img(60, 60, ia);
    draw(king, p.a, ia, img);
    double i0 = surface(18);
    double b = 1 + 14.0 * 14 / 9;
    for (long y = 1; y <= 60; y++)
        for (long x = 1; x <= 60; x++) {
            double r = ellipse_radius(p.a, x, y);
            if (r >= 14) {
                // Exactly 0 from the truncation radius on, derivatives too.
                for (int k : {0, 1, 2, 3, 4, 5, 6, 8, 9, 10})
                    ASSERT_EQ(img.at(k, x, y), 0) << x << " " << y << " " << k;
            } else if (r >= 10) {
                double a2 = 1 + r * r / 9;
                double expect = i0 * std::pow(1 / std::sqrt(a2) - 1 / std::sqrt(b), 2);
                ASSERT_NEAR(img.at(0, x, y), expect, 1e-5 * i0) << x << " " << y;
            }
        }
    EXPECT_TRUE(img.finite());
}

TEST(King, SampledPixelsAcrossTheTruncationKeepTheirLight)
{
    // Rt of a few pixels with a non-integer alpha: sub-sampled pixels whose
    // samples straddle Rt, on every side of the centre.
    Params p{10.3f, 10.6f, 18, 1.5f, 2.6f, 2.5f, 0, 1, 0, 0};
    Canvas img(20, 20);
    draw(king, p.a, image_only, img);
    EXPECT_TRUE(img.finite());
    double i0 = surface(18), bp = std::pow(1 + 2.6 * 2.6 / 2.25, -1 / 2.5);
    auto law = [&](double x, double y) {
        double r = ellipse_radius(p.a, x, y);
        double w = std::pow(1 + r * r / 2.25, -1 / 2.5) - bp;
        return w > 0 ? i0 * std::pow(w, 2.5) : 0.0;
    };
    for (long y = 7; y <= 14; y++)
        for (long x = 7; x <= 14; x++) {
            if (ellipse_radius(p.a, x, y) >= 2.6)
                continue; // left at 0 by design
            double expect = truth::pixel_mean(law, x, y, 200);
            EXPECT_NEAR(img.at(0, x, y), expect, 0.02 * expect + 1e-4 * i0) << x << " " << y;
        }
}

TEST(Nuker, BreakRadiusAndTheIntegratedCore)
{
    input.sampfac = 1;
    // mub, Rb, alpha, beta, gamma; PA 0 puts the major axis along y.
    Params p{30, 30, 17, 8, 2, 3, 0.5f, 0.6f, 0, 0};
    Canvas img(60, 60);
    draw(nuker, p.a, image_only, img);
    EXPECT_NEAR(img.at(0, 30, 38), surface(17), 1e-5 * surface(17)); // r = Rb
    auto law = [&](double r) {
        return std::pow(2.0, (3 - 0.5) / 2) * surface(17) * std::pow(8 / r, 0.5) *
               std::pow(1 + std::pow(r / 8, 2), (0.5 - 3) / 2);
    };
    // At r = 5 the point value; just inside, the integral over the pixel.
    EXPECT_NEAR(img.at(0, 30, 35), law(5), 1e-5 * law(5));
    Params q{30, 30.1f, 17, 8, 2, 3, 0.5f, 0.6f, 0, 0};
    draw(nuker, q.a, image_only, img);
    auto point = [&](double x, double y) { return law(ellipse_radius(q.a, x, y)); };
    EXPECT_NE(img.at(0, 30, 35), static_cast<float>(law(4.9)));
    EXPECT_NEAR(img.at(0, 30, 35), truth::pixel_mean(point, 30, 35, 100), 5e-3 * law(4.9));
}

TEST(Nuker, SteepCuspsKeepTheirCentralLight)
{
    // The pixels around the centre against an integration of the profile
    // over each pixel, for inner slopes up to 1.95 (the light within R grows
    // as R^(2 - gamma), so most of it is close to the centre), breaks of
    // several sharpnesses, and the centre on a pixel's middle and off it.
    input.sampfac = 1;
    const float rb = 3, beta = 3, q = 0.7f, pa = 30;
    for (float gamma : {1.5f, 1.8f, 1.95f})
        for (float alpha : {0.5f, 2.0f, 5.0f})
            for (auto centre : {std::pair<float, float>{11, 11}, {11.3f, 10.6f}}) {
                Params p{centre.first, centre.second, 18, rb, alpha, beta, gamma, q, pa, 0};
                Canvas img(21, 21);
                draw(nuker, p.a, image_only, img);
                auto law = [&](double r) { return nuker_at(p.a, r); };
                const truth::Ellipse e{centre.first, centre.second, q, pa};
                for (long y = 10; y <= 12; y++)
                    for (long x = 10; x <= 12; x++) {
                        const double expect = truth::cusp_pixel_integral(law, e, gamma, x, y, 100);
                        EXPECT_NEAR(img.at(0, x, y), expect, 0.01 * expect)
                            << "gamma " << gamma << " alpha " << alpha << " centre " << centre.first
                            << "," << centre.second << " pixel " << x << "," << y;
                    }
            }
}

TEST(Nuker, HugeOversamplingIntegratesEveryPixel)
{
    // Every pixel lies within 5 os of the centre: all are integrated, so
    // the centre pixel is the one of os = 1, and the others their pixel
    // integrals.
    Params p{6.3f, 5.6f, 18, 3, 2, 3, 1.2f, 0.7f, 30, 0};
    Canvas one(11, 11), huge(11, 11);
    input.sampfac = 1;
    draw(nuker, p.a, image_only, one);
    input.sampfac = 429496730;
    draw(nuker, p.a, image_only, huge);
    input.sampfac = 1;
    EXPECT_TRUE(huge.finite());
    EXPECT_EQ(huge.at(0, 6, 6), one.at(0, 6, 6));
    const truth::Ellipse e{6.3, 5.6, 0.7, 30};
    auto law = [&](double r) { return nuker_at(p.a, r); };
    const double corner = truth::cusp_pixel_integral(law, e, 1.2, 11, 1, 100);
    EXPECT_NEAR(huge.at(0, 11, 1), corner, 1e-2 * corner);
}

TEST(Nuker, AlphaIsRaisedToItsFloorInTheCallersParameters)
{
    Params p{10, 10, 17, 5, 0.001f, 2, 0.5f, 0.9f, 0, 0};
    int ia[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Canvas img(20, 20);
    nuker(p.a, ia, &img.rec, &img.node);
    EXPECT_EQ(p.a[5], 0.01f);
    EXPECT_TRUE(img.finite());
    p.a[5] = NAN;
    nuker(p.a, ia, &img.rec, &img.node);
    EXPECT_EQ(p.a[5], 0.01f);
}

TEST(Nuker, LargeExponentAndThinEllipseRenderInTime)
{
    // The walk towards the centre started at an infinite radius and never
    // ended; SIGALRM ends the test if it hangs again.
    input.sampfac = 1;
    Params p{20, 20, 18, 5, 2, 3, 0.5f, 0.01f, 10, 200};
    Canvas img(40, 40);
    alarm(60);
    draw(nuker, p.a, image_only, img);
    alarm(0);
    EXPECT_TRUE(img.finite());
    EXPECT_GT(img.sum(), 0);
}

TEST(Nuker, CentrePixelOffItsCentreAtAnyOrientation)
{
    // The centre lies off the middle of its pixel, so the walks of the
    // sectors towards it start at different distances: each one still ends
    // with the rest of its cusp, whatever the orientation.
    input.sampfac = 1;
    for (float pa : {0.0f, 50.0f, 90.0f, -60.0f}) {
        Params p{11.3f, 10.6f, 17, 4, 2, 3, 0.5f, 0.6f, pa, 0};
        Canvas img(21, 21);
        draw(nuker, p.a, image_only, img);
        auto law = [&](double r) {
            return std::pow(2.0, (3 - 0.5) / 2) * surface(17) * std::pow(4 / r, 0.5) *
                   std::pow(1 + std::pow(r / 4, 2), (0.5 - 3) / 2);
        };
        auto point = [&](double x, double y) { return law(ellipse_radius(p.a, x, y)); };
        const double expect = truth::pixel_mean(point, 11, 11, 1000);
        EXPECT_NEAR(img.at(0, 11, 11), expect, 1e-3 * expect) << pa;
    }
}

TEST(Nuker, PositionAngleOutsideItsRangeRendersTheSameProfile)
{
    // A trial step may take the angle anywhere; turned by 180 degrees the
    // profile is the same, also in the polar cells of its centre.
    input.sampfac = 1;
    Canvas ref(21, 21), turned(21, 21);
    Params p{11.3f, 10.6f, 17, 4, 2, 3, 0.5f, 0.6f, 50, 0.3f};
    draw(nuker, p.a, image_only, ref);
    for (float angle : {-130.0f, 230.0f, 410.0f, -310.0f}) {
        Params t = p;
        t.a[9] = angle;
        draw(nuker, t.a, image_only, turned);
        for (long y = 1; y <= 21; y++)
            for (long x = 1; x <= 21; x++)
                EXPECT_NEAR(turned.at(0, x, y), ref.at(0, x, y), 1e-3 * ref.at(0, x, y))
                    << angle << " at " << x << "," << y;
    }
}

// The integral of r^-gamma over the square [0, L]^2 with the centre on its
// corner: 2 L^(2 - gamma) / (2 - gamma) * int_0^(pi/4) cos^(gamma - 2).
double cusp_on_corner(double gamma, double side)
{
    const int n = 100000;
    double j = 0;
    for (int i = 0; i < n; i++)
        j += std::pow(std::cos((i + 0.5) / n * pi / 4), gamma - 2);
    j *= pi / 4 / n;
    return 2 * std::pow(side, 2 - gamma) / (2 - gamma) * j;
}

TEST(Egrid, IntegratesACuspExactlyEnough)
{
    input.sampfac = 1;
    for (double gamma : {0.5, 1.0, 1.5, 1.9}) {
        // beta = gamma: a pure power law I = Ib (Rb/r)^gamma, with Ib = 1, Rb = 1.
        Params p{6, 6, 20, 1, 2, static_cast<float>(gamma), static_cast<float>(gamma), 1, 0, 0};
        Canvas img(11, 11);
        draw(nuker, p.a, image_only, img);
        // The centre inside (all 360 sectors, none twice) ...
        double expect = 4 * cusp_on_corner(gamma, 0.5);
        EXPECT_NEAR(img.at(0, 6, 6), expect, 1e-3 * expect) << gamma;
        // ... and on a corner (the sectors between the corner's edges).
        float ta[11] = {0,
                        6,
                        6,
                        1,
                        1,
                        2,
                        static_cast<float>(gamma),
                        static_cast<float>(gamma),
                        1,
                        static_cast<float>(pi / 2),
                        0};
        double corner = egrid(nukefunc, 6, 7, 6, 7, ta);
        if (gamma < 1.8) { // float positions limit the generic path near the centre
            EXPECT_NEAR(corner, cusp_on_corner(gamma, 1), 1e-3 * corner) << gamma;
        }
        EXPECT_EQ(ta[9], static_cast<float>(pi / 2));
    }
}

TEST(Egrid, EndsWhereTheIntegrandIsZero)
{
    float a[11] = {0, 3, 3, 0, 1, 1, 1, 1, 0.5f, 1.2f, 0};
    auto zero = [](float *, float, float) { return 0.0f; };
    EXPECT_EQ(egrid(zero, 2.5f, 3.5f, 2.5f, 3.5f, a), 0);
    EXPECT_EQ(a[9], 1.2f);
}

// Every analytic derivative image against central differences.
struct DerivCase {
    const char *name;
    component_function f;
    Params p;
    int ia[11];
    float step[11];
    pixel_class cls;
};

std::vector<DerivCase> derivative_cases()
{
    auto radius_of = [](int k) { return [k](const float *a) { return std::fabs(a[k]); }; };
    pixel_class expdisk = sampling_class({10, 20, 3, 20}, radius_of(4));
    pixel_class gauss =
        sampling_class({10, 20, 3, 20}, [](const float *a) { return std::fabs(a[4]) / 2.35482; });
    pixel_class moff = sampling_class({10, 40, 3, 20}, [](const float *a) {
        return std::fabs(a[4]) / (2 * std::sqrt(std::pow(2.0, 1.0 / a[5]) - 1));
    });
    pixel_class kingcls = [](const float *a, long x, long y) {
        double r = ellipse_radius(a, x, y);
        return r >= a[5] ? -1 : nsubsamp(r, 1, std::fabs(a[4]), a[8], {10, 40, 3, 20});
    };
    // Nuker: only the pixels that take the point value; the integrated core
    // is compared with an independent integration below.
    pixel_class nuk = [](const float *a, long x, long y) {
        return ellipse_radius(a, x, y) < 5 ? kNotCompared : 0;
    };
    const float s[11] = {0, 2e-3f, 2e-3f, 1e-2f, 5e-3f, 5e-3f, 5e-3f, 5e-3f, 2e-3f, 0.05f, 5e-3f};
    auto steps = [&](DerivCase &c) { std::memcpy(c.step, s, sizeof s); };
    std::vector<DerivCase> v = {
        {"expdisk",
         exponential,
         {30.3f, 29.7f, 17, 4, 0, 0, 0, 0.6f, 33, 0},
         {0, 1, 1, 1, 1, -1, -1, -1, 1, 1, 1},
         {},
         expdisk},
        {"expdisk c",
         exponential,
         {30.3f, 29.7f, 17, 4, 0, 0, 0, 0.6f, 33, -0.5f},
         {0, 1, 1, 1, 1, -1, -1, -1, 1, 1, 1},
         {},
         expdisk},
        {"gaussian",
         gaussian,
         {30.3f, 29.7f, 17, 6, 0, 0, 0, 0.7f, -20, 0},
         {0, 1, 1, 1, 1, -1, -1, -1, 1, 1, 1},
         {},
         gauss},
        {"gaussian -fwhm",
         gaussian,
         {30.3f, 29.7f, 17, -6, 0, 0, 0, 0.7f, -20, 0.4f},
         {0, 1, 1, 1, 1, -1, -1, -1, 1, 1, 1},
         {},
         gauss},
        {"moffat",
         moffat,
         {30.3f, 29.7f, 17, 5, 2.5f, 0, 0, 0.7f, 50, 0},
         {0, 1, 1, 1, 1, 1, -1, -1, 1, 1, 1},
         {},
         moff},
        {"moffat steep",
         moffat,
         {30.3f, 29.7f, 17, 3, 1.3f, 0, 0, 0.5f, 50, 0.3f},
         {0, 1, 1, 1, 1, 1, -1, -1, 1, 1, 1},
         {},
         moff},
        {"king",
         king,
         {30.3f, 29.7f, 17, 3, 18, 2, 0, 0.7f, 15, 0},
         {0, 1, 1, 1, 1, 1, 1, -1, 1, 1, 1},
         {},
         kingcls},
        {"king alpha",
         king,
         {30.3f, 29.7f, 17, 2.5f, 7, 2.7f, 0, 0.7f, 15, -0.3f},
         {0, 1, 1, 1, 1, 1, 1, -1, 1, 1, 1},
         {},
         kingcls},
        {"nuker",
         nuker,
         {30.3f, 29.7f, 17, 8, 1.5f, 2.5f, 0.7f, 0.7f, 20, 0},
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
         {},
         nuk},
        {"nuker c",
         nuker,
         {30.3f, 29.7f, 17, 8, 1.5f, 2.5f, 0.7f, 0.7f, 20, 0.3f},
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
         {},
         nuk},
    };
    for (DerivCase &c : v)
        steps(c);
    return v;
}

TEST(Profiles, DerivativeImagesMatchCentralDifferences)
{
    input.sampfac = 1;
    for (const DerivCase &c : derivative_cases())
        for (int k = 1; k <= 10; k++) {
            if (c.ia[k] == 1) {
                EXPECT_LT(derivative_mismatch(c.f, c.p.a, c.ia, k, c.step[k], 60, 60, c.cls), 1e-2)
                    << c.name << " slot " << k;
            }
        }
}

TEST(Profiles, LargestBoxinessFarFromTheCentre)
{
    // At c = 100 the powers |u|^C of offsets beyond 1000 pixels pass the
    // largest double; the derivatives there must still be those of the
    // image.  (That by c itself is only finite: the area ratio's slope,
    // taken in single precision, is noise this far out.)
    input.sampfac = 1;
    const Params p{3.3f, 2.7f, 12, 300, 0, 0, 0, 0.8f, 10, 100};
    const int ia[11] = {0, 1, 1, 1, 1, -1, -1, -1, 1, 1, 1};
    const float h[11] = {0, 2e-3f, 2e-2f, 1e-2f, 0.3f, 0, 0, 0, 2e-3f, 0.05f, 0};
    const long nx = 1500, ny = 4;
    Canvas img(nx, ny, ia);
    draw(exponential, p.a, ia, img);
    for (int k = 0; k <= 10; k++) {
        if (k > 0 && ia[k] != 1)
            continue;
        for (long x = 1; x <= nx; x++)
            ASSERT_TRUE(std::isfinite(img.at(k, x, 2))) << "slot " << k << " pixel " << x;
    }
    pixel_class cls = sampling_class({10, 20, 3, 20}, [](const float *a) { return a[4]; });
    for (int k : {1, 2, 4, 8, 9})
        EXPECT_LT(derivative_mismatch(exponential, p.a, ia, k, h[k], nx, ny, cls), 1e-2)
            << "slot " << k;
}

// The central difference of the pixel integral f(a, x, y) by a[k], with
// steps of +-h.
template <class F>
double central_difference(const F &f, const float *a, int k, float h, long x, long y)
{
    float ap[11], am[11];
    std::memcpy(ap, a, sizeof ap);
    std::memcpy(am, a, sizeof am);
    ap[k] += h;
    am[k] -= h;
    return (f(ap, x, y) - f(am, x, y)) / (static_cast<double>(ap[k]) - am[k]);
}

// The core of a Nuker: the derivative of the integral over each pixel,
// against central differences of an independent integration on a fixed
// sample grid.
TEST(Nuker, CoreDerivativesAreThoseOfThePixelIntegral)
{
    input.sampfac = 1;
    Params p{15.3f, 14.8f, 15, 4, 1.5f, 2.5f, 0.7f, 0.7f, 20, 0.3f};
    const int ia[11] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    Canvas img(30, 30, ia);
    draw(nuker, p.a, ia, img);
    auto integral = [](const float *a, long x, long y) {
        auto law = [&](double px, double py) { return nuker_at(a, ellipse_radius(a, px, py)); };
        return truth::pixel_mean(law, x, y, 160);
    };
    const float steps[11] = {0,     1e-2f, 1e-2f, 1e-2f, 1e-2f, 1e-2f,
                             1e-2f, 1e-2f, 1e-2f, 0.5f,  1e-2f};
    for (int k = 1; k <= 10; k++)
        for (auto xy : {std::pair<long, long>{15, 15}, {17, 15}, {15, 16}, {14, 18}, {17, 18}}) {
            double fd = central_difference(integral, p.a, k, steps[k], xy.first, xy.second);
            double value = img.at(0, xy.first, xy.second);
            // Within the accuracy of the two integrations.
            EXPECT_NEAR(img.at(k, xy.first, xy.second), fd, 0.03 * std::fabs(fd) + 2e-3 * value)
                << "slot " << k << " pixel " << xy.first << "," << xy.second;
        }
}

TEST(Nuker, CoreDerivativesAreThoseOfTheRendering)
{
    // The steps of a fit go by the derivatives; they must be those of the
    // image it renders, with the centre anywhere in its pixel.
    input.sampfac = 1;
    pixel_class core = [](const float *a, long x, long y) {
        return ellipse_radius(a, x, y) < 5 ? 0 : kNotCompared;
    };
    const int ia[11] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const float h[11] = {0, 1e-3f, 1e-3f, 1e-3f, 1e-3f, 1e-3f, 1e-3f, 1e-3f, 1e-3f, 0.02f, 1e-3f};
    for (const Params &p : {Params{15.49f, 14.51f, 15, 4, 1.5f, 2.5f, 0.7f, 0.8f, -20, 0},
                            Params{15.45f, 14.53f, 15, 4, 1.5f, 2.5f, 1.2f, 0.8f, -20, 0},
                            Params{15.1f, 14.9f, 15, 4, 1.5f, 2.5f, 1.2f, 0.8f, -20, 0.3f},
                            Params{15, 15, 15, 4, 1.5f, 2.5f, 0.7f, 0.6f, 35, 0}})
        for (int k = 1; k <= 10; k++) {
            EXPECT_LT(derivative_mismatch(nuker, p.a, ia, k, h[k], 30, 30, core), 5e-3)
                << "centre " << p.a[1] << "," << p.a[2] << " slot " << k;
        }
}

TEST(Nuker, SteepCoreDerivativesAreThoseOfThePixelIntegral)
{
    // Most of a steep cusp's light, and of its derivatives, lies in the rest
    // of each sector near the centre.
    input.sampfac = 1;
    Params p{15.3f, 14.8f, 15, 4, 1.5f, 2.5f, 1.9f, 0.7f, 20, 0};
    const int ia[11] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    Canvas img(30, 30, ia);
    draw(nuker, p.a, ia, img);
    auto integral = [](const float *a, long x, long y) {
        auto law = [&](double r) { return nuker_at(a, r); };
        return truth::cusp_pixel_integral(law, {a[1], a[2], a[8], a[9]}, a[7], x, y, 100);
    };
    const float steps[11] = {0, 1e-2f, 1e-2f, 1e-2f, 1e-2f, 1e-2f, 1e-2f, 5e-3f, 1e-2f, 0.5f, 0};
    for (int k = 1; k <= 9; k++) {
        double fd = central_difference(integral, p.a, k, steps[k], 15, 15);
        EXPECT_NEAR(img.at(k, 15, 15), fd, 0.03 * std::fabs(fd) + 2e-3 * img.at(0, 15, 15))
            << "slot " << k;
    }
}

} // namespace
