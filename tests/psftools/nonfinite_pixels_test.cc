// Image pixels whose value is not a number (or infinite) beside or under a
// star: every fit, sum and chi of the PSF toolbox leaves such a pixel out,
// as it leaves out a pixel whose error is 0, instead of turning its results
// into NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "psftools/aperture.h"
#include "psftools/psf.h"
#include "tests/psftools/psf_field.h"

using orv::MArray;
using psffield::Field;
using psffield::kRadius;
using psffield::Star;

namespace {

const Star kStar{24.2, 23.6, 5000}; // nearest pixel (24, 24)

MArray<float, 2> copyOf(const MArray<float, 2> &a)
{
    MArray<float, 2> c(a.shape());
    c = a;
    return c;
}

// The star's field three times: as made, with pixel (x, y) set to a value
// that is not finite, and with that pixel's error 0 instead.
struct Variants {
    MArray<float, 2> image, error, nanImage, badError;
    Variants(const Field &f, int x, int y, float value)
        : image(f.image), error(f.error), nanImage(copyOf(f.image)), badError(copyOf(f.error))
    {
        nanImage(x, y) = value;
        badError(x, y) = 0;
    }
};

struct Pixel {
    const char *why;
    int x, y;
    float value;
};

const Pixel kBeside[] = {{"NaN beside", 25, 24, NAN}, {"+inf beside", 24, 23, INFINITY}};
const Pixel kAll[] = {kBeside[0], kBeside[1], {"NaN at the centre", 24, 24, NAN}};

struct NonFinitePixels : testing::Test {
    psf p = psffield::gaussianPsf();
    Field f{p, 48, 48, {kStar}, 2.0, 17};
};

struct Chi {
    double chi, amplitude, error;
};

Chi chiAt(const psf &p, const MArray<float, 2> &image, const MArray<float, 2> &error)
{
    Chi c{};
    c.chi = p.nchi_calc(image, error, kStar.x, kStar.y, c.amplitude, c.error, kRadius, 0);
    return c;
}

struct Measured {
    int status;
    double x, y, flux, flux_error;
    double exact, exact_error, nchi;
};

Measured measure(psf &p, const MArray<float, 2> &image, const MArray<float, 2> &error)
{
    Measured m{};
    m.x = 24;
    m.y = 24;
    m.status = p.measure_pos(image, error, m.x, m.y, m.flux, m.flux_error, kRadius, 6, 1, 0);
    p.measure_flux(image, error, kStar.x, kStar.y, kRadius, m.exact, m.exact_error, m.nchi, 1, 0);
    return m;
}

// The PSF built from the star alone, with or without the fit of its stamp;
// a star of weight 0 is always used, any other only where its centre has
// data.
psf psfOfStar(const MArray<float, 2> &image, const MArray<float, 2> &error, bool fit,
              double weight = 0)
{
    psf q(4, 4, 5, 1);
    MArray<double, 1> x(1), y(1), sky(1), sky_x(1), sky_y(1), w(1);
    x = kStar.x;
    y = kStar.y;
    sky = 0.0;
    sky_x = 0.0;
    sky_y = 0.0;
    w = weight;
    testing::internal::CaptureStdout();
    q.create_psf(image, error, x, y, sky, sky_x, sky_y, w, 1, 5, 1, 5, fit, 0);
    testing::internal::GetCapturedStdout();
    return q;
}

} // namespace

TEST_F(NonFinitePixels, ChiFluxAndPositionAreThoseWithoutThePixel)
{
    const Chi clean = chiAt(p, f.image, f.error);
    const Measured cleanM = measure(p, f.image, f.error);
    for (const Pixel &px : kAll) {
        SCOPED_TRACE(px.why);
        const Variants v(f, px.x, px.y, px.value);
        const Chi nan = chiAt(p, v.nanImage, v.error), bad = chiAt(p, v.image, v.badError);
        EXPECT_EQ(bad.chi, nan.chi);
        EXPECT_EQ(bad.amplitude, nan.amplitude);
        EXPECT_EQ(bad.error, nan.error);
        const Measured m = measure(p, v.nanImage, v.error), b = measure(p, v.image, v.badError);
        EXPECT_EQ(b.status, m.status);
        EXPECT_EQ(b.x, m.x);
        EXPECT_EQ(b.y, m.y);
        EXPECT_EQ(b.flux, m.flux);
        EXPECT_EQ(b.exact, m.exact);
        EXPECT_EQ(b.exact_error, m.exact_error);
        EXPECT_EQ(b.nchi, m.nchi);
        if (px.x == 24 && px.y == 24) {
            // A centre without data cannot be fitted: the failure flags.
            EXPECT_EQ(1e100, nan.chi);
            EXPECT_EQ(1e100, m.nchi);
            EXPECT_EQ(-1, m.exact_error);
            continue;
        }
        // Beside the star: a fit of one pixel fewer, within its error of
        // the fit with it.
        EXPECT_LT(nan.chi, 2);
        EXPECT_NEAR(clean.amplitude, nan.amplitude, nan.error);
        EXPECT_GT(nan.error, clean.error);
        ASSERT_EQ(0, m.status);
        EXPECT_NEAR(cleanM.x, m.x, 0.2);
        EXPECT_NEAR(cleanM.y, m.y, 0.2);
        EXPECT_NEAR(cleanM.flux, m.flux, m.flux_error);
        EXPECT_NEAR(cleanM.exact, m.exact, m.exact_error);
        EXPECT_NEAR(kStar.flux, m.exact, 3 * m.exact_error);
        EXPECT_LT(m.nchi, 2);
    }
}

TEST_F(NonFinitePixels, FindReportsTheSameStar)
{
    const auto find = [&](const MArray<float, 2> &image, const MArray<float, 2> &error,
                          MArray<double, 1> &x, MArray<double, 1> &y, MArray<double, 1> &a) {
        testing::internal::CaptureStdout();
        p.find(image, error, x, y, a, 5, 2.5, kRadius, "nan", 0);
        testing::internal::GetCapturedStdout();
    };
    MArray<double, 1> x, y, a;
    find(f.image, f.error, x, y, a);
    ASSERT_EQ(1, x.length(1));
    EXPECT_EQ(24, x(1));
    EXPECT_EQ(24, y(1));
    for (const Pixel &px : kBeside) {
        SCOPED_TRACE(px.why);
        const Variants v(f, px.x, px.y, px.value);
        MArray<double, 1> xn, yn, an, xb, yb, ab;
        find(v.nanImage, v.error, xn, yn, an);
        find(v.image, v.badError, xb, yb, ab);
        ASSERT_EQ(1, xn.length(1));
        EXPECT_EQ(x(1), xn(1));
        EXPECT_EQ(y(1), yn(1));
        EXPECT_NEAR(a(1), an(1), psffield::amplitudeError(f, kStar.x, kStar.y));
        ASSERT_EQ(1, xb.length(1));
        EXPECT_EQ(ab(1), an(1));
    }
}

TEST_F(NonFinitePixels, ApertureSumsLeaveThePixelOutOfTheSkyAndFlagTheStar)
{
    const Variants v(f, 25, 24, NAN);
    double flux = 5, error = 5;
    // In the aperture: the measurement is flagged, as with the error 0.
    aperture(v.nanImage, v.error, kStar.x, kStar.y, flux, error, 3, 0, -999, 0);
    EXPECT_EQ(0, flux);
    EXPECT_EQ(-1, error);
    aperture_sky(v.nanImage, v.error, kStar.x, kStar.y, flux, error, 3, 5, 9, -999, 0);
    EXPECT_EQ(0, flux);
    EXPECT_EQ(-1, error);
    // In the sky annulus (7 pixels out): left out of the median, as a pixel
    // with the error 0 is.
    const Variants sky(f, 31, 24, NAN);
    double bad, badError, clean, cleanError;
    aperture_sky(sky.nanImage, sky.error, kStar.x, kStar.y, flux, error, 3, 5, 9, -999, 0);
    aperture_sky(sky.image, sky.badError, kStar.x, kStar.y, bad, badError, 3, 5, 9, -999, 0);
    aperture_sky(f.image, f.error, kStar.x, kStar.y, clean, cleanError, 3, 5, 9, -999, 0);
    EXPECT_EQ(bad, flux);
    EXPECT_EQ(badError, error);
    EXPECT_NEAR(clean, flux, cleanError);
}

TEST_F(NonFinitePixels, ThePsfOfTheStarStaysFinite)
{
    // The PSF built from the star, with and without the fit of its stamp:
    // a pixel without a finite value is one without data, blank and masked
    // as pixels outside the image are.
    for (const bool fit : {false, true}) {
        SCOPED_TRACE(fit);
        const Variants v(f, 25, 24, NAN);
        MArray<float, 2> masked = copyOf(v.image), maskedError = copyOf(v.error);
        masked(25, 24) = 0;
        maskedError(25, 24) = -1;
        const auto build = [&](const MArray<float, 2> &image, const MArray<float, 2> &error) {
            return psfOfStar(image, error, fit);
        };
        const psf nan = build(v.nanImage, v.error), ref = build(masked, maskedError),
                  clean = build(f.image, f.error);
        const MArray<double, 2> P = nan.get_psf(), E = nan.get_epsf(), R = ref.get_psf(),
                                RE = ref.get_epsf(), C = clean.get_psf();
        int differ = 0;
        for (int i = P.firstIndex(1); i <= P.lastIndex(1); ++i)
            for (int j = P.firstIndex(2); j <= P.lastIndex(2); ++j) {
                ASSERT_TRUE(std::isfinite(P(i, j)) && std::isfinite(E(i, j))) << i << " " << j;
                ASSERT_EQ(R(i, j), P(i, j)) << i << " " << j;
                ASSERT_EQ(RE(i, j), E(i, j)) << i << " " << j;
                differ += P(i, j) != C(i, j);
            }
        // Only the samples of the pixel and of its neighbours, whose
        // polynomials (radius 1) reach it, differ from the PSF without it:
        // 3 × 3 pixels of 5 × 5 sub-grid points.
        EXPECT_GT(differ, 0);
        EXPECT_LE(differ, 9 * 25);
    }
}

TEST_F(NonFinitePixels, AnErrorThatIsNotFiniteMasksItsPixelInThePsf)
{
    // A finite value whose error is NaN or infinite: the fits leave the
    // pixel out, and so does the PSF, as a pixel without data; its error
    // would otherwise become that of the PSF samples it reaches, and then of
    // every chi fitted with them. Beside the star, and at its centre, which
    // leaves out a star of weight other than 0.
    struct Case {
        int x, y;
        double weight;
    };
    for (const Case c : {Case{25, 24, 0}, Case{24, 24, 1}}) {
        MArray<float, 2> masked = copyOf(f.image), maskedError = copyOf(f.error);
        masked(c.x, c.y) = 0;
        maskedError(c.x, c.y) = -1;
        for (const float bad : {NAN, INFINITY})
            for (const bool fit : {false, true}) {
                SCOPED_TRACE(testing::Message() << c.x << " " << c.y << " " << bad << " " << fit);
                MArray<float, 2> error = copyOf(f.error);
                error(c.x, c.y) = bad;
                const psf given = psfOfStar(f.image, error, fit, c.weight),
                          ref = psfOfStar(masked, maskedError, fit, c.weight);
                const MArray<double, 2> P = given.get_psf(), E = given.get_epsf(),
                                        R = ref.get_psf(), RE = ref.get_epsf();
                for (int i = P.firstIndex(1); i <= P.lastIndex(1); ++i)
                    for (int j = P.firstIndex(2); j <= P.lastIndex(2); ++j) {
                        ASSERT_TRUE(std::isfinite(P(i, j)) && std::isfinite(E(i, j)))
                            << i << " " << j;
                        ASSERT_EQ(R(i, j), P(i, j)) << i << " " << j;
                        ASSERT_EQ(RE(i, j), E(i, j)) << i << " " << j;
                    }
            }
    }
}
