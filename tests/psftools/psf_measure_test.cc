// Position and flux measurement of known stars, and the sorting of star
// index lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/arrays.h"
#include "common/fits.h"
#include "psftools/psf.h"
#include "tests/psftools/psf_field.h"
#include "tests/psftools/psf_truth.h"

using namespace test_common;

using orv::MArray;
using psffield::Field;
using psffield::kRadius;
using psffield::Star;

namespace {

// Stars at tabulated positions, 48 × 48 pixels, sky noise 2; the start
// positions are their nearest pixels.
const std::vector<Star> kStars = {
    {15.2, 14.6, 5000}, {30.8, 17.0, 4000}, {20.0, 32.4, 6000}, {8.2, 24.0, 5000}};

struct Measure : testing::Test {
    psf p = psffield::gaussianPsf();
    Field f{p, 48, 48, kStars, 2.0, 42};
};

} // namespace

TEST_F(Measure, PositionsAndFluxesOfStars)
{
    for (const Star &s : kStars) {
        SCOPED_TRACE(testing::Message() << s.x << ", " << s.y);
        double x = std::lrint(s.x), y = std::lrint(s.y), flux = 0, flux_error = 0;
        ASSERT_EQ(0, p.measure_pos(f.image, f.error, x, y, flux, flux_error, kRadius, 6, 1, 0));
        // Within the sub-pixel step of 0.2 pixel.
        EXPECT_NEAR(s.x, x, 0.2);
        EXPECT_NEAR(s.y, y, 0.2);
        EXPECT_NEAR(s.flux, flux, 3 * flux_error);
        EXPECT_NEAR(psffield::amplitudeError(f, x, y), flux_error, 0.1 * flux_error);
        // The flux at the exact position, from the PSF binned there; it
        // keeps _boxlen + 1 pixels from the border, so pixel 8 is refused.
        double exact = 0, exact_error = 0, nchi = 0;
        p.measure_flux(f.image, f.error, s.x, s.y, kRadius, exact, exact_error, nchi, 1, 0);
        if (std::lrint(s.x) == 8) {
            EXPECT_EQ(-1, exact_error);
            continue;
        }
        EXPECT_NEAR(s.flux, exact, 3 * exact_error);
        EXPECT_NEAR(psffield::amplitudeError(f, s.x, s.y), exact_error, 1e-3 * exact_error);
        EXPECT_LT(nchi, 2);
    }
}

TEST_F(Measure, PositionIsRefusedAndLeftAlone)
{
    const psf untabulated(6, 4, 15, 0);
    struct Case {
        const char *why;
        const psf *object;
        double x, y;
        int n;
    };
    // The first star is refined from (8, 24); from (7, 24) it lies too near
    // the border (_analyt + 2 pixels).
    double x = 8, y = 24;
    ASSERT_EQ(0, p.measure_pos(f.image, f.error, x, y, kRadius, 6, 1, 0));
    for (const Case c :
         {Case{"border", &p, 7, 24, 6}, Case{"too few cells for the fit", &p, 15, 15, 3},
          Case{"minimum farther than 0.75·n/S", &p, 32.6, 17, 4},
          Case{"no tables", &untabulated, 15, 15, 6}, Case{"not a number", &p, NAN, 15, 6}}) {
        SCOPED_TRACE(c.why);
        double x = c.x, y = c.y, flux = -5, flux_error = -6;
        EXPECT_EQ(
            1, c.object->measure_pos(f.image, f.error, x, y, flux, flux_error, kRadius, c.n, 1, 0));
        EXPECT_TRUE(x == c.x || (std::isnan(x) && std::isnan(c.x)));
        EXPECT_EQ(c.y, y);
        EXPECT_EQ(-5, flux);
        EXPECT_EQ(-6, flux_error);
    }
}

TEST(MeasurePosition, AFitThatFailsIsAFailure)
{
    // A flat PSF and only two usable pixels: every cell of the map fits the
    // same two pixels with the same chi, a flat map whose Gaussian has no
    // depth and so no minimum to place the star at.
    psf p(6, 4, 15, 0);
    p.get_psf() = 1.0;
    p.get_epsf() = 1e-7;
    testing::internal::CaptureStdout();
    p.calc_base(5, 0);
    testing::internal::GetCapturedStdout();
    MArray<float, 2> image(48, 48), error(48, 48);
    image = 0.0f;
    error = 0.0f;
    image(24, 24) = 110;
    image(25, 24) = 90;
    error(24, 24) = error(25, 24) = 1;
    double x = 24, y = 24, flux = -5, flux_error = -6;
    EXPECT_EQ(1, p.measure_pos(image, error, x, y, flux, flux_error, kRadius, 6, 1, 0));
    EXPECT_EQ(24, x);
    EXPECT_EQ(24, y);
    EXPECT_EQ(-5, flux);
    EXPECT_EQ(-6, flux_error);
}

TEST_F(Measure, ListsOfStars)
{
    // Three stars and one entry at the border, which keeps its values.
    MArray<double, 1> x = doubles({15, 31, 20, 3}), y = doubles({15, 17, 32, 20});
    MArray<double, 1> flux = doubles({0, 0, 0, -1}), flux_error = doubles({0, 0, 0, -1});
    MArray<double, 1> x2 = doubles({15, 31, 20, 3}), y2 = doubles({15, 17, 32, 20});
    EXPECT_EQ(0, p.measure_pos(f.image, f.error, x, y, flux, flux_error, kRadius, 6, 0));
    EXPECT_EQ(0, p.measure_pos(f.image, f.error, x2, y2, kRadius, 6, 0));
    for (int i = 1; i <= 3; ++i) {
        const Star &s = kStars[i - 1];
        EXPECT_NEAR(s.x, x(i), 0.2);
        EXPECT_NEAR(s.y, y(i), 0.2);
        EXPECT_NEAR(s.flux, flux(i), 3 * flux_error(i));
        EXPECT_EQ(x(i), x2(i));
        EXPECT_EQ(y(i), y2(i));
    }
    EXPECT_EQ(3, x(4));
    EXPECT_EQ(20, y(4));
    EXPECT_EQ(-1, flux(4));
    EXPECT_EQ(3, x2(4));
}

TEST(MeasureFlux, ExactOffsetOfANoiseFreeStar)
{
    // A star binned at its exact offset (1/3, −0.4: whole sub-grid steps of
    // 1/15) on an empty image of unit errors.
    psf p = psffield::gaussianPsf();
    MArray<float, 2> image(48, 48), error(48, 48);
    image = 0.0f;
    error = 1.0f;
    const double x = 30 + 1.0 / 3, y = 25.6;
    p.add_psf_exact(image, x, y, 2000, 0);
    double flux, flux_error, nchi;
    p.measure_flux(image, error, x, y, kRadius, flux, flux_error, nchi, 1, 0);
    EXPECT_NEAR(2000, flux, 1e-3);
    EXPECT_LT(nchi, 1e-4);
    double spp = 0;
    for (int i = 26; i <= 34; ++i)
        for (int j = 22; j <= 30; ++j)
            if ((i - x) * (i - x) + (j - y) * (j - y) < kRadius * kRadius)
                spp += std::pow(psftruth::pixelIntegral(i, j, x, y, psffield::kSigma), 2);
    EXPECT_NEAR(1 / std::sqrt(spp), flux_error, 1e-9);
    // One fit pixel, the centre within 0.5 of the position, away from the
    // star where the image is 0: the amplitude fits it exactly, a chi of
    // 0/0, NaN before; no degree of freedom is left, so the chi is +∞, and
    // the flux and its error are those of that pixel.
    for (const double r : {0.5, -0.5}) {
        SCOPED_TRACE(r);
        p.measure_flux(image, error, 14.2, 14.1, r, flux, flux_error, nchi, 1, 0);
        EXPECT_EQ(0, flux);
        EXPECT_DOUBLE_EQ(1 / p.get_binned_psf()(0, 0), flux_error);
        EXPECT_EQ(HUGE_VAL, nchi);
    }
}

TEST_F(Measure, FluxFailuresAreFlagged)
{
    double flux = 5, flux_error = 5, nchi = 5;
    p.measure_flux(f.image, f.error, 9, 24, kRadius, flux, flux_error, nchi, 1, 0);
    EXPECT_LT(nchi, 1e100);
    f.error(15, 15) = 0;
    const double nan = std::nan(""), inf = HUGE_VAL;
    struct Case {
        const char *why;
        double x, y, radius;
    };
    // A circle without a usable pixel gave amplitude NaN, error +∞ and a chi
    // of −0, a perfect fit by its looks: at 30.5 (nearest pixel 30, ties to
    // even) the nearest pixels lie 0.5 away.
    for (const Case c :
         {Case{"within _boxlen + 1 pixels of the border", 8, 24, kRadius},
          Case{"centre pixel with error 0", 15.2, 14.6, kRadius}, Case{"radius 0", 30.8, 17.0, 0},
          Case{"radius NaN", 30.8, 17.0, nan}, Case{"radius +inf", 30.8, 17.0, inf},
          Case{"radius -inf", 30.8, 17.0, -inf}, Case{"no pixel within 0.5", 30.5, 17.0, 0.5},
          Case{"no pixel within -0.5", 30.5, 17.0, -0.5}}) {
        SCOPED_TRACE(c.why);
        flux = flux_error = nchi = 5;
        p.measure_flux(f.image, f.error, c.x, c.y, c.radius, flux, flux_error, nchi, 1, 0);
        EXPECT_EQ(0, flux);
        EXPECT_EQ(-1, flux_error);
        EXPECT_EQ(1e100, nchi);
    }
}

TEST_F(Measure, FluxReadsTheBinnedPsfOnlyWhereItIsDefined)
{
    // _boxlen 10 beyond _analyt 4, and a circle of radius 6: the fit stops
    // at the binned PSF's edge, as with _boxlen 4.
    psf wide = psffield::gaussianPsf(10), narrow = psffield::gaussianPsf(4);
    double a, ea, chi, b, eb, chi_b;
    wide.measure_flux(f.image, f.error, 20.0, 32.4, 6, a, ea, chi, 1, 0);
    narrow.measure_flux(f.image, f.error, 20.0, 32.4, 6, b, eb, chi_b, 1, 0);
    EXPECT_EQ(b, a);
    EXPECT_EQ(eb, ea);
    EXPECT_EQ(chi_b, chi);
    EXPECT_NEAR(6000, a, 3 * ea);
}

TEST_F(Measure, DiagnosticFiles)
{
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    double x = 15, y = 15, flux, flux_error, nchi;
    p.measure_pos(f.image, f.error, x, y, kRadius, 5, 7, 2);
    EXPECT_FALSE(test_common::exists(s.file("nchi_00007.fits")));
    p.measure_pos(f.image, f.error, x, y, kRadius, 5, 7, 3);
    p.measure_flux(f.image, f.error, 30.8, 17.0, kRadius, flux, flux_error, nchi, 7, 3);
    EXPECT_FALSE(test_common::exists(s.file("object_psf_00007.fits")));
    testing::internal::CaptureStdout();
    p.measure_flux(f.image, f.error, 30.8, 17.0, kRadius, flux, flux_error, nchi, 7, 4);
    testing::internal::GetCapturedStdout();
    // The maps of the local grid (11 × 11 cells), the binned PSF with its
    // errors and the image stamp of ±_boxlen pixels.
    struct File {
        const char *name;
        int side;
    };
    for (const File &file : {File{"nchi_00007.fits", 11}, File{"flux_00007.fits", 11},
                             File{"shifted_psf_00007.fits", 9}, File{"e.shifted_psf_00007.fits", 9},
                             File{"object_psf_00007.fits", 13}}) {
        const test_common::Verdict verdict = test_common::fitsverify(s.file(file.name));
        ASSERT_TRUE(verdict.flawless) << file.name << verdict.report;
        const test_common::Image im = test_common::read_hdu<double>(s.file(file.name)).image();
        EXPECT_EQ(file.side, im.nx) << file.name;
        EXPECT_EQ(file.side, im.ny) << file.name;
    }
    // The stamp is the image around pixel (31, 17).
    const test_common::Image stamp =
        test_common::read_hdu<double>(s.file("object_psf_00007.fits")).image();
    EXPECT_EQ(f.image(31, 17), stamp(7, 7));
    EXPECT_EQ(f.image(25, 12), stamp(1, 2));
}

// ---- index lists ----

TEST(SortPositions, MarkedEntriesLastTheOthersByValue)
{
    // The example of values (3, m, 1, 2).
    const double m = -99;
    MArray<double, 1> v = doubles({3, m, 1, 2});
    MArray<int, 1> idx(4);
    sortpos(v, idx, m);
    EXPECT_EQ(std::vector<int>({3, 4, 1, 2}), std::vector<int>(idx.begin(), idx.end()));
    // Indices from −2, two marked entries; v itself is unchanged.
    MArray<double, 1> w{orv::Range(-2, 2)};
    const double values[] = {2, m, 7, m, 1};
    for (int k = -2; k <= 2; ++k)
        w(k) = values[k + 2];
    MArray<int, 1> wi{orv::Range(-2, 2)};
    sortpos(w, wi, m);
    EXPECT_EQ(2, wi(-2));
    EXPECT_EQ(-2, wi(-1));
    EXPECT_EQ(0, wi(0));
    EXPECT_EQ(std::vector<int>({-1, 1}),
              std::vector<int>({std::min(wi(1), wi(2)), std::max(wi(1), wi(2))}));
    EXPECT_EQ(m, w(-1));
    // Marks below 0 instead of a marker value.
    MArray<int, 1> marks(4);
    marks = 0;
    marks(1) = -1;
    sortpos_marker(doubles({3, 5, 1, 2}), marks, idx);
    EXPECT_EQ(std::vector<int>({3, 4, 2, 1}), std::vector<int>(idx.begin(), idx.end()));
}

TEST(SortPositions, EmptyOrUncoveredListsAreRefused)
{
    MArray<int, 1> idx(3);
    idx = 9;
    MArray<double, 1> empty;
    testing::internal::CaptureStdout();
    sortpos(empty, idx, 0);
    sortpos_marker(empty, idx, idx);
    MArray<double, 1> four = doubles({1, 2, 3, 4});
    sortpos(four, idx, 0);
    MArray<int, 1> marks(2);
    marks = 0;
    MArray<int, 1> idx4(4);
    idx4 = 9;
    sortpos_marker(four, marks, idx4);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(4, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_NE(std::string::npos, out.find("empty")) << out;
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(9, idx(k));
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(9, idx4(k));
}
