// Placing stars into images from the shift tables, and the synthetic PSFs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "common/fits.h"
#include "lightcurve/random.h"
#include "psftools/psf.h"

using orv::MArray;

namespace {

constexpr int L = 4;
constexpr double kBlank = -999, kEBlank = -1;

// A Gaussian PSF of FWHM 2.5 pixels on a 5-fold sub-grid, tabulated for
// the given number of shifts.
psf gaussPsf(int shifts = 5)
{
    psf p(10, L, 5, 0);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    p.generate_gauss(2.5, 2.5, 0, 0);
    p.calc_base(shifts, 0);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return p;
}

// A 40 × 40 image with a varying background and errors.
struct Field {
    MArray<float, 2> image{40, 40}, error{40, 40};
    Field()
    {
        for (int i = 1; i <= 40; ++i)
            for (int j = 1; j <= 40; ++j) {
                image(i, j) = static_cast<float>(100 + 3 * std::sin(i * 0.7) + 0.1 * j);
                error(i, j) = static_cast<float>(2 + 0.01 * i);
            }
    }
    Field copy() const
    {
        Field f;
        f.image = image;
        f.error = error;
        return f;
    }
};

// Every pixel and error of a as in orig.
void expectUnchanged(const Field &orig, const Field &a)
{
    for (int i = 1; i <= 40; ++i)
        for (int j = 1; j <= 40; ++j) {
            ASSERT_EQ(orig.image(i, j), a.image(i, j)) << i << " " << j;
            ASSERT_EQ(orig.error(i, j), a.error(i, j)) << i << " " << j;
        }
}

} // namespace

TEST(SyntheticPsf, WidthsAngleAndNormalisation)
{
    psf p(10, L, 5, 0);
    const MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
    for (int moffat = 0; moffat <= 1; ++moffat)
        for (double theta : {0.0, 3.141592653589793 / 2}) {
            // FWHM 2 pixels (10 sub-grid steps) along u, 4 along v: half the
            // peak 5 and 10 steps from the centre on the two axes, which a
            // quarter turn exchanges.
            testing::internal::CaptureStdout();
            if (moffat)
                p.generate_moffat(2, 4, theta, 2.5, 0);
            else
                p.generate_gauss(2, 4, theta, 0);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(moffat ? std::string::npos : 0u, out.find("norm=")) << out;
            const bool turned = theta != 0;
            EXPECT_NEAR(0.5, v(turned ? 0 : 5, turned ? 5 : 0) / v(0, 0), 1e-12);
            EXPECT_NEAR(0.5, v(turned ? 10 : 0, turned ? 0 : 10) / v(0, 0), 1e-12);
            EXPECT_EQ(1, e(-22, 7));
            p.binning(0, 0);
            EXPECT_NEAR(1, p.get_binned_psf()(0, 0), 1e-14);
        }
}

TEST(SyntheticPsf, SizesWithoutAProfileAreRefusedAndThePsfStays)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::string subgrid = "error: the subgrid value must be at least 1!\n",
                      fwhm = "error: the FWHM must be positive and finite!\n",
                      angle = "error: the position angle must be finite!\n",
                      beta = "error: beta must be positive and finite!\n";
    struct Case {
        int subgrid;
        double fx, fy, theta, beta;
        bool moffat;
        std::string message;
    };
    psf p(10, L, 5, 0);
    testing::internal::CaptureStdout();
    p.generate_moffat(2, 3, 0.2, 2.5, 0);
    testing::internal::GetCapturedStdout();
    const auto samples = [](const MArray<double, 2> &a) {
        std::vector<double> all;
        for (int j = a.firstIndex(1); j <= a.lastIndex(1); ++j)
            for (int k = a.firstIndex(2); k <= a.lastIndex(2); ++k)
                all.push_back(a(j, k));
        return all;
    };
    const std::vector<double> values = samples(p.get_psf()), errors = samples(p.get_epsf());
    for (const Case &c :
         {Case{0, 2, 2, 0, 2.5, false, subgrid}, Case{-5, 2, 2, 0, 2.5, true, subgrid},
          Case{0, 2, 2, 0, 2.5, true, subgrid}, Case{5, 0, 2, 0, 2.5, false, fwhm},
          Case{5, 2, -1, 0, 2.5, true, fwhm}, Case{5, nan, 2, 0, 2.5, false, fwhm},
          Case{5, 2, inf, 0, 2.5, true, fwhm}, Case{5, 2, 2, nan, 2.5, false, angle},
          Case{5, 2, 2, inf, 2.5, true, angle}, Case{5, 2, 2, 0, 0, true, beta},
          Case{5, 2, 2, 0, -1, true, beta}, Case{5, 2, 2, 0, nan, true, beta},
          Case{5, 2, 2, 0, inf, true, beta}}) {
        SCOPED_TRACE(testing::Message() << c.subgrid << " " << c.fx << " " << c.fy << " " << c.theta
                                        << " " << c.beta << " " << c.moffat);
        p.set_subgrid(c.subgrid);
        testing::internal::CaptureStdout();
        if (c.moffat)
            p.generate_moffat(c.fx, c.fy, c.theta, c.beta, 0);
        else
            p.generate_gauss(c.fx, c.fy, c.theta, 0);
        EXPECT_EQ(c.message, testing::internal::GetCapturedStdout());
        EXPECT_EQ(values, samples(p.get_psf()));
        EXPECT_EQ(errors, samples(p.get_epsf()));
    }
}

TEST(SyntheticPsf, AboveVerbosityTwoTheBinnedPsfIsWrittenAndFitted)
{
    const test_common::ScratchDir s;
    const test_common::InDir here(s.path());
    psf p(10, L, 5, 0);
    testing::internal::CaptureStdout();
    p.generate_gauss(2.5, 2.0, 0.3, 3);
    const std::string gauss = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, gauss.find("amplitude=")) << gauss;
    EXPECT_EQ(std::string::npos, gauss.find(" err")) << gauss;
    for (const char *name : {"psftest00.fits", "e.psftest00.fits"}) {
        const test_common::Verdict verdict = test_common::fitsverify(s.file(name));
        EXPECT_TRUE(verdict.flawless) << verdict.report;
        EXPECT_EQ(2 * L + 1, test_common::read_hdu<double>(s.file(name)).nx);
    }
    EXPECT_NEAR(1, test_common::read_hdu<double>(s.file("psftest00.fits")).at(L + 1, L + 1), 1e-6);
    // The Moffat fit prints its summary line: after the normalisation line,
    // 13 columns, the FWHM a little wider than 2.5 and 2 pixels from the
    // binning, the angle 0.3 rad in degrees.
    testing::internal::CaptureStdout();
    p.generate_moffat(2.5, 2.0, 0.3, 3, 3);
    std::istringstream moffat(testing::internal::GetCapturedStdout());
    std::string norm, line;
    std::getline(moffat, norm);
    std::getline(moffat, line);
    std::istringstream in(line);
    std::vector<double> col;
    for (double v; in >> v;)
        col.push_back(v);
    ASSERT_EQ(13u, col.size()) << line;
    EXPECT_NEAR(2.5, col[9], 0.2);
    EXPECT_NEAR(2.0, col[10], 0.2);
    EXPECT_NEAR(0.3 * 180 / 3.141592653589793, col[11], 0.5);
}

TEST(PlaceStars, AddThenSubtractRestoresTheImage)
{
    psf p = gaussPsf();
    const MArray<double, 4> T = p.get_all_binned_psf(), E = p.get_all_ebinned_psf();
    const Field orig;
    // Nearest pixel (20, 18), offset (0.3, −0.2): shift indices 2 and −1,
    // the tabulated shift (0.4, −0.2).
    const double x = 20.3, y = 17.8, flux = 1000;

    // The added light sits at the tabulated shift.
    Field clean = orig.copy();
    p.add_psf(clean.image, clean.error, x, y, flux, kBlank, kEBlank, 0);
    double sum = 0, sx = 0, sy = 0;
    for (int i = 1; i <= 40; ++i)
        for (int j = 1; j <= 40; ++j) {
            const double d = clean.image(i, j) - orig.image(i, j);
            sum += d;
            sx += d * i;
            sy += d * j;
        }
    EXPECT_NEAR(20.4, sx / sum, 2e-3);
    EXPECT_NEAR(17.8, sy / sum, 2e-3);

    // A blank pixel and a pixel with a blank error are left alone.
    Field f = orig.copy();
    f.image(21, 19) = static_cast<float>(kBlank);
    f.error(19, 17) = static_cast<float>(kEBlank);
    p.add_psf(f.image, f.error, x, y, flux, kBlank, kEBlank, 0);
    p.subtract_psf(f.image, f.error, x, y, flux, kBlank, kEBlank, 0);
    for (int i = -L; i <= L; ++i)
        for (int j = -L; j <= L; ++j) {
            const int px = 20 + i, py = 18 + j;
            const double d2 = (i - 0.3) * (i - 0.3) + (j + 0.2) * (j + 0.2);
            const double t = T(2, -1, i, j) * flux, e = E(2, -1, i, j) * flux;
            const double e0 = orig.error(px, py);
            if (px == 21 && py == 19) {
                EXPECT_EQ(kBlank, f.image(px, py));
                EXPECT_EQ(e0, f.error(px, py));
            } else if (px == 19 && py == 17) {
                EXPECT_EQ(orig.image(px, py), f.image(px, py));
                EXPECT_EQ(kEBlank, f.error(px, py));
            } else if (d2 >= 16) {
                // Outside both discs: untouched.
                EXPECT_EQ(orig.image(px, py), f.image(px, py)) << i << " " << j;
                EXPECT_EQ(e0, f.error(px, py)) << i << " " << j;
            } else if (d2 < 12) {
                // Both discs: the star is gone, its uncertainty counted twice.
                EXPECT_NEAR(orig.image(px, py), f.image(px, py), 2e-5 * (100 + t)) << i << " " << j;
                EXPECT_NEAR(std::sqrt(e0 * e0 + 2 * e * e), f.error(px, py),
                            1e-5 * f.error(px, py));
            } else {
                // Only the larger disc of add_psf.
                EXPECT_NEAR(orig.image(px, py) + t, f.image(px, py), 2e-5 * (100 + t))
                    << i << " " << j;
                EXPECT_NEAR(std::sqrt(e0 * e0 + e * e), f.error(px, py), 1e-5 * f.error(px, py));
            }
        }
}

TEST(PlaceStars, EdgesAndHalfwayPositions)
{
    // A star at the corner: pixels outside are skipped.
    psf p = gaussPsf(3);
    Field f;
    const Field orig = f.copy();
    p.add_psf(f.image, f.error, 1.2, 39.6, 500, kBlank, kEBlank, 0);
    EXPECT_GT(f.image(1, 40), orig.image(1, 40) + 50);
    EXPECT_EQ(orig.image(6, 40), f.image(6, 40));

    // Halfway between pixels with three shifts per axis: lrint(1.5) = 2 is
    // beyond the tables; the nearest tabulated shift, 1/3, is used.
    const MArray<double, 4> T = p.get_all_binned_psf();
    Field g;
    p.add_psf(g.image, g.error, 20.5, 18, 500, kBlank, kEBlank, 0);
    for (int i = -L; i <= L; ++i)
        for (int j = -L; j <= L; ++j)
            if ((i - 0.5) * (i - 0.5) + j * j < 16) {
                EXPECT_EQ(static_cast<float>(orig.image(20 + i, 18 + j) +
                                             static_cast<float>(T(1, 0, i, j) * 500)),
                          g.image(20 + i, 18 + j));
            }
}

TEST(PlaceStars, PhotonNoise)
{
    psf p = gaussPsf();
    const MArray<double, 4> T = p.get_all_binned_psf();
    const Field orig;
    const int perCall = (2 * L + 1) * (2 * L + 1);
    const auto deviatesAfter = [](int n) {
        long s = -5;
        for (int k = 0; k < n; ++k)
            rangau(s);
        return rangau(s);
    };

    // Gain 0: the star as add_psf places it, errors unchanged; one deviate
    // per box pixel all the same, also for a star off the image.
    for (const double x : {20.3, -50.0}) {
        Field a = orig.copy(), b = orig.copy();
        long seed = -5;
        p.add_psf_noise(a.image, a.error, x, 17.8, 1000, 0, seed, kBlank, kEBlank, 0);
        EXPECT_EQ(deviatesAfter(perCall), rangau(seed));
        Field dummy = orig.copy();
        p.add_psf(b.image, dummy.error, x, 17.8, 1000, kBlank, kEBlank, 0);
        for (int i = 1; i <= 40; ++i)
            for (int j = 1; j <= 40; ++j) {
                ASSERT_EQ(b.image(i, j), a.image(i, j));
                ASSERT_EQ(orig.error(i, j), a.error(i, j));
            }
    }

    // Gain 2: the noise of each pixel has variance value·gain, and the
    // errors carry it.
    const double flux = 20000, gain = 2;
    double chi2 = 0;
    int n = 0;
    long seed = -9;
    for (int draw = 0; draw < 60; ++draw) {
        Field a = orig.copy();
        p.add_psf_noise(a.image, a.error, 20.3, 17.8, flux, gain, seed, kBlank, kEBlank, 0);
        for (int i = -L; i <= L; ++i)
            for (int j = -L; j <= L; ++j) {
                const double d2 = (i - 0.3) * (i - 0.3) + (j + 0.2) * (j + 0.2);
                const double b = T(2, -1, i, j) * flux;
                if (d2 >= 16 || b * gain < 1)
                    continue;
                const int px = 20 + i, py = 18 + j;
                const double s = std::sqrt(b * gain);
                const double r = (a.image(px, py) - orig.image(px, py) - b) / s;
                chi2 += r * r;
                ++n;
                const double e0 = orig.error(px, py);
                ASSERT_NEAR(std::sqrt(s * s + e0 * e0), a.error(px, py), 1e-5 * a.error(px, py));
            }
    }
    EXPECT_NEAR(1, chi2 / n, 5 * std::sqrt(2.0 / n));

    // A negative flux or gain adds the star without noise, never NaN.
    for (const double sign : {-1.0, 1.0}) {
        Field a = orig.copy();
        long s = -3;
        p.add_psf_noise(a.image, a.error, 20.3, 17.8, sign * 1000, -sign * 2, s, kBlank, kEBlank,
                        0);
        for (int i = -L; i <= L; ++i)
            for (int j = -L; j <= L; ++j) {
                const int px = 20 + i, py = 18 + j;
                ASSERT_FALSE(std::isnan(a.image(px, py)));
                ASSERT_EQ(orig.error(px, py), a.error(px, py));
            }
    }
}

TEST(PlaceStars, AFluxOrGainThatIsNotFiniteIsRefused)
{
    psf p = gaussPsf();
    const Field orig;
    struct Case {
        const char *what;
        double flux, gain;
        bool noise;
    };
    for (const Case &c : {Case{"flux", NAN, 1, true}, Case{"flux", INFINITY, 1, true},
                          Case{"gain", 1000, NAN, true}, Case{"gain", 1000, -INFINITY, true},
                          Case{"flux", NAN, 1, false}, Case{"flux", -INFINITY, 1, false}}) {
        SCOPED_TRACE(testing::Message() << c.flux << " " << c.gain << " " << c.noise);
        Field a = orig.copy();
        long seed = -5;
        testing::internal::CaptureStdout();
        if (c.noise) {
            p.add_psf_noise(a.image, a.error, 20.3, 17.8, c.flux, c.gain, seed, kBlank, kEBlank, 0);
        } else {
            p.add_psf(a.image, a.error, 20.3, 17.8, c.flux, kBlank, kEBlank, 0);
            p.subtract_psf(a.image, a.error, 20.3, 17.8, c.flux, kBlank, kEBlank, 0);
        }
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(std::string::npos, out.find(std::string("error: ") + c.what + " is not finite"))
            << out;
        EXPECT_EQ(-5, seed);
        expectUnchanged(orig, a);
    }
}

TEST(PlaceStars, PositionsNoImageHolds)
{
    // A position that is not finite is refused like such a flux; one too
    // far out for any pixel index falls off the image: nothing changes.
    psf p = gaussPsf();
    const Field orig;
    for (const double x : {double(NAN), double(INFINITY), 1e300, -1e300}) {
        SCOPED_TRACE(x);
        Field a = orig.copy();
        long seed = -5;
        testing::internal::CaptureStdout();
        p.add_psf(a.image, a.error, x, 17.8, 1000, kBlank, kEBlank, 0);
        p.subtract_psf(a.image, a.error, 20.3, x, 1000, kBlank, kEBlank, 0);
        p.add_psf_noise(a.image, a.error, x, x, 1000, 1, seed, kBlank, kEBlank, 0);
        p.add_psf_exact(a.image, 20.3, x, 1000, 0);
        const std::string out = testing::internal::GetCapturedStdout();
        if (std::isfinite(x))
            EXPECT_EQ("", out);
        else
            EXPECT_NE(std::string::npos, out.find("is not finite")) << out;
        expectUnchanged(orig, a);
    }
}

TEST(PlaceStars, ExactOffsetBinsAgain)
{
    psf p = gaussPsf();
    psf q = gaussPsf();
    Field f;
    const Field orig = f.copy();
    // Offset (0.3, −0.2) rounds to 1.5 → 2 and −1 sub-grid steps.
    p.add_psf_exact(f.image, 20.3, 17.8, 1000, 0);
    q.binning(0.4, -0.2);
    const MArray<double, 2> b = q.get_binned_psf();
    for (int i = -L; i <= L; ++i)
        for (int j = -L; j <= L; ++j) {
            const float expected = i * i + j * j < L * (L - 1)
                                       ? static_cast<float>(orig.image(20 + i, 18 + j) +
                                                            static_cast<float>(b(i, j) * 1000))
                                       : orig.image(20 + i, 18 + j);
            EXPECT_EQ(expected, f.image(20 + i, 18 + j)) << i << " " << j;
        }
    EXPECT_EQ(b(1, 1), p.get_binned_psf()(1, 1));
    // Near the edge only the pixels inside change.
    p.add_psf_exact(f.image, 39.7, 2, 1000, 0);
    EXPECT_GT(f.image(40, 2), orig.image(40, 2) + 100);
}
