// The PSF-fit chi at a position and the chi maps.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "psftools/psf.h"
#include "tests/psftools/psf_field.h"
#include "tests/psftools/psf_truth.h"

using orv::MArray;
using orv::Range;
using psffield::Field;
using psffield::kRadius;

namespace {

// The weighted amplitude fit written out plainly from its definition: fit
// pixels inside the circle (strict), in both images, with an error above 0
// and a table value not 0.
struct Fit {
    double amplitude = 0, amplitude_error = 0, nchi = 0;
    int n = 0;
};

Fit directFit(const psf &p, const MArray<float, 2> &image, const MArray<float, 2> &error, double x,
              double y, double radius)
{
    const MArray<double, 4> P = p.get_all_binned_psf(), E2 = p.get_all_e2binned_psf();
    const long ix = std::lrint(x), iy = std::lrint(y);
    const double dx = x - ix, dy = y - iy;
    const int S = p.get_subpixel(), sx = std::lrint(S * dx), sy = std::lrint(S * dy);
    const int L = p.get_analyt();
    struct Pix {
        double p, v, e2, m2;
    };
    std::vector<Pix> pix;
    for (int a = -L; a <= L; ++a)
        for (int b = -L; b <= L; ++b) {
            const long u = ix + a, w = iy + b;
            if (u < image.firstIndex(1) || u > image.lastIndex(1) || w < image.firstIndex(2) ||
                w > image.lastIndex(2))
                continue;
            if (!((a - dx) * (a - dx) + (b - dy) * (b - dy) < radius * radius))
                continue;
            if (P(sx, sy, a, b) == 0 || !(error(u, w) > 0))
                continue;
            const double e = error(u, w);
            pix.push_back({P(sx, sy, a, b), image(u, w), e * e, E2(sx, sy, a, b)});
        }
    double spp = 0, sip = 0;
    for (const Pix &q : pix) {
        spp += q.p * q.p / q.e2;
        sip += q.v * q.p / q.e2;
    }
    Fit f;
    f.amplitude = sip / spp;
    f.amplitude_error = std::sqrt(1 / spp);
    double chi2 = 0;
    for (const Pix &q : pix)
        chi2 += std::pow(f.amplitude * q.p - q.v, 2) / (q.e2 + f.amplitude * f.amplitude * q.m2);
    f.n = static_cast<int>(pix.size());
    f.nchi = std::sqrt(chi2 / (f.n - 1));
    return f;
}

struct ChiFixture : testing::Test {
    psf p = psffield::gaussianPsf();
    Field f{p, 40, 40, {{20.4, 20.0, 800}}, 2.0, 11};
};

} // namespace

TEST_F(ChiFixture, FitMatchesTheWeightedLeastSquaresDefinition)
{
    // A pixel with error 0 and a table value 0 inside the circles: both stay
    // out of the sums and of n. The tables give the model error its part.
    f.error(21, 19) = 0;
    MArray<double, 4> P = p.get_all_binned_psf(), E2 = p.get_all_e2binned_psf();
    P(2, 0, -1, 1) = 0;
    E2 = 0.0004;
    struct Case {
        double x, y, radius;
    };
    // x = 20.5 rounds to 20 (shift +2), 21.5 to 22 (shift −2); a radius of
    // 2.4 reaches two pixels, 2.5 and −2.5 three; (1, 1) is the image corner.
    for (const Case c : {Case{20.5, 20.0, 2.4}, Case{20.5, 20.0, 2.5}, Case{20.5, 20.0, -2.5},
                         Case{21.5, 19.7, 3.7}, Case{20.3, 20.1, 3.0}, Case{19.9, 20.4, 1.2},
                         Case{1.0, 1.0, 3.0}}) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", r = " << c.radius);
        const Fit want = directFit(p, f.image, f.error, c.x, c.y, c.radius);
        double a = 0, ea = 0, fast_a = 0;
        const double chi = p.nchi_calc(f.image, f.error, c.x, c.y, a, ea, c.radius, 0);
        EXPECT_NEAR(want.nchi, chi, 1e-12 * want.nchi);
        EXPECT_NEAR(want.amplitude, a, 1e-12 * std::fabs(want.amplitude));
        EXPECT_NEAR(want.amplitude_error, ea, 1e-12 * want.amplitude_error);
        EXPECT_EQ(chi, p.nchi_calc_fast(f.image, f.error, c.x, c.y, fast_a, c.radius));
        EXPECT_EQ(a, fast_a);
        double a2 = 0;
        EXPECT_EQ(chi, p.nchi_calc(f.image, f.error, c.x, c.y, a2, c.radius, 0));
        EXPECT_EQ(a, a2);
        EXPECT_EQ(chi, p.nchi_calc(f.image, f.error, c.x, c.y, c.radius, 0));
    }
}

TEST(Chi, ScaledPsfGivesItsAmplitudeAndNoChi)
{
    psf p = psffield::gaussianPsf();
    // c times the exact pixel integrals of the PSF centred at 20.4 and
    // 17.6: positions that round to the shifts (2, −2).
    MArray<float, 2> image(40, 40), error(40, 40);
    const double c = 1234.5;
    for (int i = 1; i <= 40; ++i)
        for (int j = 1; j <= 40; ++j) {
            image(i, j) = static_cast<float>(c * psftruth::pixelIntegral(i, j, 20.4, 17.6, 1.0));
            error(i, j) = static_cast<float>(0.5 + 0.01 * i);
        }
    for (const double x : {20.5, 20.4, 20.35}) {
        double a = 0, ea = 0;
        const double chi = p.nchi_calc(image, error, x, 17.6, a, ea, kRadius, 0);
        EXPECT_NEAR(c, a, 1e-6 * c) << x;
        EXPECT_LT(chi, 1e-4) << x;
    }
}

TEST(Chi, ASyntheticPsfNeedsSmallErrorsForItsChiToMeanAnything)
{
    // A star of Gaussian FWHM 2.8 pixels in noise, fitted with synthetic
    // PSFs of FWHM 2.8 and 2.0, as they come (errors 1) and with negligible
    // errors (normalised, errors 1e-7).
    const auto synthetic = [](double fwhm, bool prepared) {
        psf p(6, 4, 15, 0);
        testing::internal::CaptureStdout();
        p.generate_gauss(fwhm, fwhm, 0, 0);
        if (prepared) {
            p.normalize_psf();
            p.get_epsf() = 1e-7;
        }
        p.calc_base(5, 0);
        testing::internal::GetCapturedStdout();
        return p;
    };
    psf truth = synthetic(2.8, true);
    const Field f(truth, 40, 40, {{20.2, 19.6, 20000}}, 2.0, 3);
    const auto nchi = [&](const psf &p) {
        double a, ea;
        return p.nchi_calc(f.image, f.error, 20.2, 19.6, a, ea, kRadius, 0);
    };
    // Errors of 1 swamp every residual: matching or not, a few thousandths.
    EXPECT_LT(nchi(synthetic(2.8, false)), 0.01);
    EXPECT_LT(nchi(synthetic(2.0, false)), 0.01);
    // Prepared: the noise alone for the right PSF, a misfit for the wrong one.
    EXPECT_NEAR(1, nchi(truth), 0.5);
    EXPECT_GT(nchi(synthetic(2.0, true)), 3);
}

TEST(Chi, PureNoiseHasMeanSquareChiOne)
{
    // Over many positions of a noise image: nchi² averages to 1, and the
    // amplitude in units of its error has mean 0 and spread 1.
    psf p = psffield::gaussianPsf();
    const Field f(p, 80, 80, {}, 3.0, 5);
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    double s2 = 0, z = 0, z2 = 0;
    int n = 0;
    for (int i = 8; i <= 72; ++i)
        for (int j = 8; j <= 72; ++j) {
            double a, ea;
            const double chi =
                p.nchi_calc(f.image, f.error, i + u(rng), j + u(rng), a, ea, kRadius, 0);
            s2 += chi * chi;
            z += a / ea;
            z2 += a * a / (ea * ea);
            ++n;
        }
    EXPECT_NEAR(1, s2 / n, 0.05);
    EXPECT_NEAR(0, z / n, 0.1);
    EXPECT_NEAR(1, z2 / n, 0.1);
}

TEST_F(ChiFixture, FailuresAreFlaggedNeverAPerfectFit)
{
    // The centre pixel's error is 0.
    f.error(20, 20) = 0;
    double a = 5, ea = 5;
    EXPECT_EQ(1e100, p.nchi_calc(f.image, f.error, 20.2, 19.8, a, ea, kRadius, 0));
    EXPECT_EQ(0, a);
    EXPECT_EQ(1e100, ea);
    double fast = 123;
    EXPECT_EQ(1e100, p.nchi_calc_fast(f.image, f.error, 20.2, 19.8, fast, kRadius));
    EXPECT_EQ(123, fast);
    // Off the image, or without tables.
    EXPECT_EQ(1e100, p.nchi_calc(f.image, f.error, -50, 10, kRadius, 0));
    EXPECT_EQ(1e100, p.nchi_calc_fast(f.image, f.error, 10, 41, fast, kRadius));
    const psf untabulated(6, 4, 15, 0);
    EXPECT_EQ(1e100, untabulated.nchi_calc(f.image, f.error, 10, 10, a, ea, kRadius, 0));
    // One fit pixel: n − 1 = 0. None at all (the circle misses the centre
    // pixel of a halfway position): −0 with amplitude NaN.
    // (The single residual may round to exactly 0, giving NaN.)
    const double one = p.nchi_calc(f.image, f.error, 10, 10, 0.3, 0);
    EXPECT_TRUE(one == HUGE_VAL || std::isnan(one)) << one;
    const double none = p.nchi_calc(f.image, f.error, 10.5, 10, a, ea, 0.3, 0);
    EXPECT_EQ(0, none);
    EXPECT_TRUE(std::signbit(none));
    EXPECT_TRUE(std::isnan(a));
    // A circle wider than the tables uses the tabulated offsets only.
    const Fit whole = directFit(p, f.image, f.error, 15, 15, 50);
    EXPECT_NEAR(whole.nchi, p.nchi_calc(f.image, f.error, 15, 15, 50, 0), 1e-12 * whole.nchi);
    EXPECT_EQ(81, whole.n);
}

// ---- chi maps ----

TEST_F(ChiFixture, LocalGridHoldsTheFitsAtItsPositions)
{
    // x = 20.0, nx = 6: cells −6..6 at 18.8 .. 21.2; y = 19.8 lies at the
    // shift −1 of pixel 20, so its cells run −1 − 3 .. −1 + 3.
    MArray<double, 2> chi, amp, err, fchi, famp;
    p.mapping(f.image, f.error, 20.0, 19.8, chi, amp, err, 6, 3, kRadius, 0);
    p.mapping_fast(f.image, f.error, 20.0, 19.8, fchi, famp, 6, 3, kRadius);
    for (const MArray<double, 2> *m : {&chi, &amp, &err, &fchi, &famp}) {
        EXPECT_EQ(-6, m->firstIndex(1));
        EXPECT_EQ(6, m->lastIndex(1));
        EXPECT_EQ(-4, m->firstIndex(2));
        EXPECT_EQ(2, m->lastIndex(2));
    }
    for (int i = -6; i <= 6; ++i)
        for (int j = -4; j <= 2; ++j) {
            double a, ea;
            const double c =
                p.nchi_calc(f.image, f.error, 20 + i * 0.2, 20 + j * 0.2, a, ea, kRadius, 0);
            EXPECT_NEAR(c, chi(i, j), 1e-12 * c);
            EXPECT_NEAR(a, amp(i, j), 1e-12 * std::fabs(a));
            EXPECT_NEAR(ea, err(i, j), 1e-12 * ea);
            EXPECT_EQ(chi(i, j), fchi(i, j));
            EXPECT_EQ(amp(i, j), famp(i, j));
        }
    // The star at 20.4, 20.0 is the lowest cell.
    for (int i = -6; i <= 6; ++i)
        for (int j = -4; j <= 2; ++j)
            if (i != 2 || j != 0) {
                EXPECT_GT(chi(i, j), chi(2, 0)) << i << ", " << j;
            }
    // nx = ny = 0: one cell at the nearest shift.
    p.mapping(f.image, f.error, 20.45, 20.0, chi, amp, 0, 0, kRadius, 0);
    EXPECT_EQ(1, chi.elementCount());
    EXPECT_EQ(2, chi.firstIndex(1));
    EXPECT_EQ(p.nchi_calc(f.image, f.error, 20.4, 20.0, kRadius, 0), chi(2, 0));
}

TEST_F(ChiFixture, LocalGridMarksTheBorderAsTheWorstFit)
{
    // _boxlen 6: positions whose pixel is nearer the border than 6 pixels are
    // not fitted. Both forms flag them as failures, never as perfect fits.
    MArray<double, 2> chi, amp, err, fchi, famp;
    p.mapping(f.image, f.error, 8.0, 20.0, chi, amp, err, 10, 0, kRadius, 0);
    p.mapping_fast(f.image, f.error, 8.0, 20.0, fchi, famp, 10, 0, kRadius);
    for (int i = -10; i <= 10; ++i) {
        const bool outside = std::lrint(8.0 + i * 0.2) < 7;
        EXPECT_EQ(outside, chi(i, 0) == 1e100) << i;
        EXPECT_EQ(outside, fchi(i, 0) == 1e100) << i;
        if (outside) {
            EXPECT_EQ(0, amp(i, 0));
            EXPECT_EQ(1e100, err(i, 0));
            EXPECT_EQ(0, famp(i, 0));
        }
    }
    // A failed fit inside (centre error 0) reads the same in both forms.
    f.error(9, 20) = 0;
    p.mapping_fast(f.image, f.error, 9.0, 20.0, fchi, famp, 0, 0, kRadius);
    EXPECT_EQ(1e100, fchi(0, 0));
    EXPECT_EQ(0, famp(0, 0));
}

TEST(ChiMaps, SubpixelGridCoversTheWholeImage)
{
    // Index bases −3 and 5: cell k of the map is the position
    // Bx + (k − 3)/5, so pixel Bx owns cells 1..5 with its centre at cell 3.
    psf p = psffield::gaussianPsf(4);
    const Field f(p, 24, 20, {{6.2, 14.8, 600}}, 1.5, 3, -3, 5);
    MArray<double, 2> chi, amp, err;
    testing::internal::CaptureStdout();
    p.mapping_full(f.image, f.error, chi, amp, err, kRadius, 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(" wenn hier abbricht sind Bilder zu gross fuer Speicher ...\n alles ok!\n", out);
    for (const MArray<double, 2> *m : {&chi, &amp, &err}) {
        EXPECT_EQ(1, m->firstIndex(1));
        EXPECT_EQ(120, m->lastIndex(1));
        EXPECT_EQ(1, m->firstIndex(2));
        EXPECT_EQ(100, m->lastIndex(2));
    }
    // _boxlen 4 and the fit block 3: pixels −3+4 .. 20−4 and 5+4 .. 24−4 are
    // fitted, the others hold 0 everywhere.
    for (int k = 1; k <= 120; ++k)
        for (int l = 1; l <= 100; ++l) {
            const double x = -3 + (k - 3) / 5.0, y = 5 + (l - 3) / 5.0;
            const long px = std::lrint(x), py = std::lrint(y);
            EXPECT_EQ(px, -3 + (k - 1) / 5);
            if (px < 1 || px > 16 || py < 9 || py > 20) {
                ASSERT_EQ(0, chi(k, l));
                ASSERT_EQ(0, amp(k, l));
                ASSERT_EQ(0, err(k, l));
                continue;
            }
            double a, ea;
            const double c = p.nchi_calc(f.image, f.error, x, y, a, ea, kRadius, 0);
            ASSERT_NEAR(c, chi(k, l), 1e-12 * c) << k << ", " << l;
            ASSERT_NEAR(a, amp(k, l), 1e-12 * std::fabs(a));
            ASSERT_NEAR(ea, err(k, l), 1e-12 * ea);
        }
}

TEST(ChiMaps, TheMarginKeepsTheFitInsideForAnyBoxlen)
{
    // _boxlen 1 with a fit block of 3: the margin is the block's.
    psf p = psffield::gaussianPsf(1);
    const Field f(p, 12, 12, {}, 1.0, 4);
    MArray<double, 2> chi, amp, err;
    testing::internal::CaptureStdout();
    p.mapping_full(f.image, f.error, chi, amp, err, kRadius, 0);
    testing::internal::GetCapturedStdout();
    for (int k = 1; k <= 60; ++k) {
        const long px = 1 + (k - 1) / 5;
        EXPECT_EQ(px >= 4 && px <= 9, chi(k, 28) != 0) << k;
    }
}

TEST(ChiMaps, SomeEvaluatesTheBlocksAroundStarsOnly)
{
    psf p = psffield::gaussianPsf(4);
    const Field f(p, 30, 30, {{15.2, 15.0, 500}}, 1.0, 8);
    MArray<double, 2> chi, amp, err, fchi, famp, ferr;
    testing::internal::CaptureStdout();
    p.mapping_full(f.image, f.error, fchi, famp, ferr, kRadius, 0);
    // Stars at (15, 15), at the corner (1, 30) and beyond the border: the
    // blocks are cut at the map's edge. The y list is one longer.
    MArray<int, 1> xs(3), ys(4);
    xs(1) = 15, ys(1) = 15;
    xs(2) = 1, ys(2) = 30;
    xs(3) = -1, ys(3) = 31;
    ys(4) = 8;
    p.mapping_some(f.image, f.error, chi, amp, err, xs, ys, kRadius, 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(150, chi.lastIndex(1));
    ASSERT_EQ(150, chi.lastIndex(2));
    for (int k = 1; k <= 150; ++k)
        for (int l = 1; l <= 150; ++l) {
            const long px = 1 + (k - 1) / 5, py = 1 + (l - 1) / 5;
            const bool block = std::abs(px - 15) <= 1 && std::abs(py - 15) <= 1;
            ASSERT_EQ(block ? fchi(k, l) : 0, chi(k, l)) << k << ", " << l;
            ASSERT_EQ(block ? famp(k, l) : 0, amp(k, l));
            ASSERT_EQ(block ? ferr(k, l) : 0, err(k, l));
        }
}

TEST_F(ChiFixture, ProgressOutputFollowsTheVerbosity)
{
    // Positions in the stream's default notation, whatever earlier output
    // left behind.
    const std::ios::fmtflags flags = std::cout.flags();
    const std::streamsize precision = std::cout.precision(6);
    std::cout.unsetf(std::ios::floatfield);
    MArray<double, 2> chi, amp, err;
    const auto local = [&](int verbose) {
        testing::internal::CaptureStdout();
        p.mapping(f.image, f.error, 20, 20, chi, amp, err, 10, 10, kRadius, verbose);
        return testing::internal::GetCapturedStdout();
    };
    // 441 cells: a dot after each column of 21 cells once 4.41 are counted.
    EXPECT_EQ(std::string(21, '.') + "\n\n", local(5));
    EXPECT_EQ("", local(6));
    const MArray<float, 2> image = f.image(Range(1, 14), Range(1, 14)),
                           error = f.error(Range(1, 14), Range(1, 14));
    const auto full = [&](int verbose) {
        testing::internal::CaptureStdout();
        p.mapping_full(image, error, chi, amp, err, kRadius, verbose);
        return testing::internal::GetCapturedStdout();
    };
    const std::string memory =
        " wenn hier abbricht sind Bilder zu gross fuer Speicher ...\n alles ok!\n";
    EXPECT_EQ(memory, full(2));
    EXPECT_EQ(" sx0 = 1\n sx1 = 70\n sy0 = 1\n sy1 = 70\n _boxlen = 6\n" + memory, full(3));
    // 4900 cells, 70 per column: a dot after every column.
    EXPECT_EQ(" sx0 = 1\n sx1 = 70\n sy0 = 1\n sy1 = 70\n _boxlen = 6\n" + memory +
                  std::string(70, '.') + "\n\n",
              full(5));
    const std::string all = full(10);
    EXPECT_NE(std::string::npos, all.find(" double_x = 0.6  double_y = 0.6\n"));
    EXPECT_NE(std::string::npos, all.find(" double_x = 14.4  double_y = 14.4\n"));
    std::cout.flags(flags);
    std::cout.precision(precision);
}

TEST_F(ChiFixture, SomeCountsItsDotsStarByStar)
{
    // 14 × 14 pixels at S = 5: a dot is due once 4900/100 cells are counted,
    // checked after each column of 15 cells of a star's block. One star: dots
    // after columns 4, 8 and 12, 45 cells left over; a second star carries
    // them on: dots after its columns 1, 5, 9 and 13.
    const MArray<float, 2> image = f.image(Range(1, 14), Range(1, 14)),
                           error = f.error(Range(1, 14), Range(1, 14));
    MArray<double, 2> chi, amp, err;
    const auto dots = [&](int stars) {
        MArray<int, 1> xs(stars), ys(stars);
        xs = 7;
        ys = 8;
        testing::internal::CaptureStdout();
        p.mapping_some(image, error, chi, amp, err, xs, ys, kRadius, 5);
        const std::string out = testing::internal::GetCapturedStdout();
        return out.substr(out.find("alles ok!\n") + 10);
    };
    EXPECT_EQ("...\n\n", dots(1));
    EXPECT_EQ(".......\n\n", dots(2));
}
