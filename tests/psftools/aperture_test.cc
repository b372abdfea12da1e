#include "psftools/aperture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "psftools/random.h"
#include "tests/psftools/psf_truth.h"

using orv::MArray;
using orv::Range;

namespace {

constexpr double kBlank = -999;

// An nx × ny image (indices from 1) of a Gaussian star of the given flux,
// integrated over every pixel, on a flat sky, with error e everywhere.
struct Field {
    MArray<float, 2> image, error;
    Field(int nx, int ny, double x, double y, double flux, double sigma, double sky, double e)
        : image(nx, ny), error(nx, ny)
    {
        for (int i = 1; i <= nx; ++i)
            for (int j = 1; j <= ny; ++j)
                image(i, j) =
                    static_cast<float>(sky + flux * psftruth::pixelIntegral(i, j, x, y, sigma));
        error = static_cast<float>(e);
    }
};

struct Result {
    double flux, error;
};

Result measure(const Field &f, double x, double y, double r, double sky)
{
    Result res{};
    aperture(f.image, f.error, x, y, res.flux, res.error, r, sky, kBlank, 0);
    return res;
}

} // namespace

TEST(Aperture, RecoversTheFluxOfAnIntegratedGaussianStar)
{
    const Field f(60, 50, 30.3, 24.8, 1000, 1.5, 10, 2);
    // Radius 8 holds all but ~1e-5 of the light; 201 pixels have their
    // centre within 8 of (30.3, 24.8), each with error 2.
    const Result a = measure(f, 30.3, 24.8, 8, 10);
    EXPECT_NEAR(1000, a.flux, 0.05);
    int n = 0;
    for (int i = 1; i <= 60; ++i)
        for (int j = 1; j <= 50; ++j)
            n += std::hypot(i - 30.3, j - 24.8) < 8;
    EXPECT_NEAR(2 * std::sqrt(n), a.error, 1e-12);

    // The annulus median takes the flat sky.
    Result s{};
    aperture_sky(f.image, f.error, 30.3, 24.8, s.flux, s.error, 8, 10, 14, kBlank, 0);
    EXPECT_NEAR(1000, s.flux, 0.05);
    EXPECT_EQ(a.error, s.error);
}

TEST(Aperture, ErrorIsTheScatterOfTheMeasuredFlux)
{
    // Seeded noise of the stated error on every pixel: the reported error
    // must match the spread of the fluxes over many noise draws.
    const int draws = 400;
    const double sigma = 3;
    C_rangau noise(11);
    std::vector<double> fluxes;
    double reported = 0;
    for (int d = 0; d < draws; ++d) {
        Field f(40, 40, 20.2, 19.6, 500, 1.2, 0, sigma);
        for (int i = 1; i <= 40; ++i)
            for (int j = 1; j <= 40; ++j)
                f.image(i, j) += static_cast<float>(sigma * noise.eval());
        const Result r = measure(f, 20.2, 19.6, 5, 0);
        fluxes.push_back(r.flux);
        reported = r.error;
    }
    double mean = 0, var = 0;
    for (double v : fluxes)
        mean += v;
    mean /= draws;
    for (double v : fluxes)
        var += (v - mean) * (v - mean);
    const double scatter = std::sqrt(var / (draws - 1));
    // The standard deviation of a sample of 400 is known to ~3.5 %.
    EXPECT_NEAR(reported, scatter, 5 * reported / std::sqrt(2.0 * draws));
    EXPECT_NEAR(500, mean, 5 * reported / std::sqrt(draws));
}

TEST(Aperture, SmallApertureByHand)
{
    // A star halfway between four pixels of value 12 and error 1 (the
    // nearest pixel is the even one): radius 0.75 holds exactly those four.
    MArray<float, 2> image(100, 100), error(100, 100);
    image = 3.0f;
    error = 1.0f;
    for (int i = 50; i <= 51; ++i)
        for (int j = 50; j <= 51; ++j)
            image(i, j) = 12;
    double flux, err;
    aperture(image, error, 50.5, 50.5, flux, err, 0.75, 10, kBlank, 0);
    EXPECT_DOUBLE_EQ(8, flux);
    EXPECT_DOUBLE_EQ(2, err); // four errors of 1 in quadrature

    testing::internal::CaptureStdout();
    aperture(image, error, 50.5, 50.5, flux, err, 0.75, 10, kBlank, 2);
    EXPECT_EQ("sky flux per pixel:        10 number of pixel in object aperture:     4\n",
              testing::internal::GetCapturedStdout());
}

TEST(Aperture, UnmeasurableCasesGiveTheFlag)
{
    struct Case {
        const char *what;
        double x, r;
        int bi, bj; // a spoiled pixel, or 0
        float value, error;
    };
    const Case cases[] = {
        {"too close to the low edge", 3.9, 3, 0, 0, 0, 0},
        {"an error of 0", 50, 3, 51, 40, 5, 0},
        {"a negative error", 50, 3, 49, 41, 5, -1},
        {"a blank pixel", 50, 3, 50, 38, static_cast<float>(kBlank), 1},
        // Passes the edge test (98 < 100 - 2.6) but the aperture reaches
        // pixel 101, beyond the image.
        {"beyond the high edge", 98.45, 2.6, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        // A view into a larger array: a read past the image would find
        // numbers there and go unnoticed.
        MArray<float, 2> big(110, 100), ebig(110, 100);
        big = 1.0f;
        ebig = 1.0f;
        MArray<float, 2> image = big(Range(1, 100), Range::all()),
                         error = ebig(Range(1, 100), Range::all());
        if (c.bi) {
            image(c.bi, c.bj) = c.value;
            error(c.bi, c.bj) = c.error;
        }
        double flux = 7, err = 7;
        aperture(image, error, c.x, 40, flux, err, c.r, 0, kBlank, 0);
        EXPECT_EQ(0, flux) << c.what;
        EXPECT_EQ(-1, err) << c.what;
        aperture_sky(image, error, c.x, 40, flux, err, c.r, 5, 8, kBlank, 0);
        EXPECT_EQ(0, flux) << c.what;
        EXPECT_EQ(-1, err) << c.what;
    }
}

TEST(Aperture, AnnulusSkyIsTheMedianOfItsUsablePixels)
{
    MArray<float, 2> image(40, 40), error(40, 40);
    error = 1.0f;
    image = 0.0f;
    // Annulus 5 <= d < 8 around (20, 20): opposite pixels 10 and 20, so the
    // median of the (even) count is 15.
    for (int k = -8; k <= 8; ++k)
        for (int l = -8; l <= 8; ++l) {
            const int d2 = k * k + l * l;
            if (d2 < 25 || d2 >= 64)
                continue;
            image(20 + k, 20 + l) = k > 0 || (k == 0 && l > 0) ? 10 : 20;
        }
    // Pixels exactly at d = 8 are outside the annulus, those at d = 5
    // inside: spoil the former (not counted) and keep the latter balanced.
    image(28, 20) = image(12, 20) = 1000;
    // Unusable annulus pixels are left out: a blank one and one without a
    // positive error, taken symmetrically from both halves.
    image(26, 20) = static_cast<float>(kBlank);
    image(14, 20) = static_cast<float>(kBlank);
    error(20, 26) = 0;
    error(20, 14) = 0;
    for (int k = -1; k <= 1; ++k)
        for (int l = -1; l <= 1; ++l)
            image(20 + k, 20 + l) = 16;
    double flux, err;
    aperture_sky(image, error, 20, 20, flux, err, 1.5, 5, 8, kBlank, 0);
    EXPECT_DOUBLE_EQ(9 * 16 - 9 * 15, flux);
    EXPECT_DOUBLE_EQ(3, err);

    // The annulus may reach beyond the image: those pixels (pairs of
    // opposite ones here) are left out.
    MArray<float, 2> small = image(Range(14, 26), Range(14, 26)),
                     esmall = error(Range(14, 26), Range(14, 26));
    aperture_sky(small, esmall, 7, 7, flux, err, 1.5, 5, 8, kBlank, 0);
    EXPECT_DOUBLE_EQ(9, flux);
    EXPECT_DOUBLE_EQ(3, err);
    // An outer radius far beyond any image takes every usable pixel from
    // the inner radius out, as one just beyond the corners does.
    double wide, ewide, huge, ehuge;
    aperture_sky(small, esmall, 7, 7, wide, ewide, 1.5, 5, 9, kBlank, 0);
    aperture_sky(small, esmall, 7, 7, huge, ehuge, 1.5, 5, 1e10, kBlank, 0);
    EXPECT_NE(-1, ewide);
    EXPECT_EQ(wide, huge);
    EXPECT_EQ(ewide, ehuge);
    // Without any usable annulus pixel there is no sky.
    MArray<float, 2> bare(30, 30), ebare(30, 30);
    bare = 1.0f;
    ebare = 0.0f;
    for (int k = -2; k <= 2; ++k)
        for (int l = -2; l <= 2; ++l)
            ebare(15 + k, 15 + l) = 1;
    aperture_sky(bare, ebare, 15, 15, flux, err, 1.5, 5, 8, kBlank, 0);
    EXPECT_EQ(0, flux);
    EXPECT_EQ(-1, err);
}

TEST(Span, EvenlySpacedValues)
{
    const MArray<int, 1> i = span(0, 10, 4);
    ASSERT_EQ(4, i.length(1));
    EXPECT_EQ(1, i.firstIndex(1));
    EXPECT_EQ(0, i(1));
    EXPECT_EQ(3, i(2));
    EXPECT_EQ(6, i(3));
    EXPECT_EQ(10, i(4));
    const MArray<double, 1> d = span(0.0, 1.0, 5);
    for (int k = 1; k <= 5; ++k)
        EXPECT_DOUBLE_EQ(0.25 * (k - 1), d(k));
    EXPECT_EQ(7, span(3, 7, 1)(1));
    EXPECT_EQ(2.5, span(1.0, 2.5, 1)(1));
    EXPECT_EQ(0, span(1, 2, 0).elementCount());
}
