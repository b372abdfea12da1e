// PSF preparation (padding, refusal of unusable PSFs, diffusion kernel,
// FWHM, bicubic patches) and the sub-pixel shift.
#include "fit_helpers.h"
#include "psf_helpers.h"

#include "numerics/spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <unistd.h>

using fit_test::CapturePrint;
using psftest::owned_image;
using psftest::point_gauss;

namespace {

// psfcheck takes over the pixel matrix, so these images are released by
// their final size.
struct psf_image {
    image im;
    psf_image(long nx, long ny, float (*f)(long, long))
    {
        im.naxes[1] = nx;
        im.naxes[2] = ny;
        im.z = matrix(1, ny, 1, nx);
        std::snprintf(im.name, sizeof im.name, "psf.fits");
        for (long y = 1; y <= ny; y++)
            for (long x = 1; x <= nx; x++)
                im.z[y][x] = f(x, y);
    }
    ~psf_image() { free_matrix(im.z, 1, im.naxes[2], 1, im.naxes[1]); }
};

float coded(long x, long y)
{
    return static_cast<float>(100 * y + x);
}

TEST(Psfcheck, OddSizesGainAZeroFirstRowOrColumn)
{
    struct {
        long nx, ny, wantx, wanty;
    } cases[] = {
        {31, 31, 32, 32}, {32, 31, 32, 32}, {31, 32, 32, 32}, {32, 32, 32, 32}, {3, 2, 4, 2}};
    for (const auto &c : cases) {
        psf_image p(c.nx, c.ny, coded);
        ASSERT_EQ(psfcheck(&p.im), 0);
        ASSERT_EQ(p.im.naxes[1], c.wantx);
        ASSERT_EQ(p.im.naxes[2], c.wanty);
        const long ox = c.wantx - c.nx, oy = c.wanty - c.ny;
        for (long y = 1; y <= c.wanty; y++)
            for (long x = 1; x <= c.wantx; x++) {
                const float want = (x <= ox || y <= oy) ? 0 : coded(x - ox, y - oy);
                ASSERT_EQ(p.im.z[y][x], want) << c.nx << "x" << c.ny << " at " << x << "," << y;
            }
    }
    // The old centre pixel (16, 16) of a 31 x 31 PSF is the new centre.
    psf_image p(31, 31, [](long x, long y) { return x == 16 && y == 16 ? 1.0f : 0.0f; });
    psfcheck(&p.im);
    EXPECT_EQ(p.im.z[17][17], 1);
}

TEST(Psfcheck, RefusesPsfsThatCannotBeNormalised)
{
    struct {
        const char *what;
        long nx, ny;
        float (*f)(long, long);
        const char *message;
    } cases[] = {
        {"one column", 1, 9, [](long, long) { return 1.0f; }, "at least 2 x 2"},
        {"one pixel", 1, 1, [](long, long) { return 1.0f; }, "at least 2 x 2"},
        {"sum 0", 5, 5, [](long x, long) { return x == 1   ? 1.0f
                                                  : x == 2 ? -1.0f
                                                           : 0.0f; },
         "sum to 0"},
        {"all zero", 4, 4, [](long, long) { return 0.0f; }, "sum to 0"},
        {"NaN pixel", 5, 5,
         [](long x, long y) {
             return x == 3 && y == 2 ? std::numeric_limits<float>::quiet_NaN() : 1.0f;
         },
         "cannot be normalised"},
        {"infinite pixel", 5, 5,
         [](long x, long) { return x == 3 ? std::numeric_limits<float>::infinity() : 1.0f; },
         "cannot be normalised"},
    };
    for (const auto &c : cases) {
        CapturePrint cap;
        psf_image p(c.nx, c.ny, c.f);
        EXPECT_EQ(psfcheck(&p.im), 1) << c.what;
        EXPECT_NE(cap.text().find(c.message), std::string::npos) << c.what << ": " << cap.text();
        EXPECT_NE(cap.text().find("psf.fits"), std::string::npos) << c.what;
        EXPECT_EQ(p.im.naxes[1], c.nx) << c.what; // left as it was
    }
    // Oversampled by more than its size, a PSF spans less than a data pixel.
    for (int os : {9, 429496730}) {
        CapturePrint cap;
        psf_image p(8, 12, [](long, long) { return 1.0f; });
        input.sampfac = os;
        EXPECT_EQ(psfcheck(&p.im), 1) << os;
        input.sampfac = 1;
        EXPECT_NE(cap.text().find("psf.fits has 8 x 12 pixels; oversampled by " +
                                  std::to_string(os) +
                                  " (E), it spans\n   less than one data pixel."),
                  std::string::npos)
            << cap.text();
    }
    input.sampfac = 8;
    psf_image fits(8, 12, [](long, long) { return 1.0f; });
    EXPECT_EQ(psfcheck(&fits.im), 0);
    input.sampfac = 1;
}

class Kernel : public ::testing::Test {
protected:
    std::string path;
    void SetUp() override
    {
        path = testing::TempDir() + "kernel_" + std::to_string(getpid()) + ".txt";
    }
    void TearDown() override { std::remove(path.c_str()); }
    image *read(const std::string &text)
    {
        std::ofstream(path) << text;
        return getkernel(path.c_str());
    }
    static void release(image *k)
    {
        free_matrix(k->z, 1, k->naxes[2], 1, k->naxes[1]);
        delete k;
    }
};

TEST_F(Kernel, OddKernelGetsZeroFirstRowAndColumn)
{
    image *k = read("0.1 0.1 0.1\n0.1 0.2 0.1\n0.1 0.1 0.1\n");
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->naxes[1], 4);
    ASSERT_EQ(k->naxes[2], 4);
    for (long i = 1; i <= 4; i++) {
        EXPECT_EQ(k->z[1][i], 0);
        EXPECT_EQ(k->z[i][1], 0);
    }
    EXPECT_FLOAT_EQ(k->z[3][3], 0.2f);
    EXPECT_FLOAT_EQ(k->z[2][2], 0.1f);
    EXPECT_FLOAT_EQ(k->z[4][4], 0.1f);
    release(k);
}

TEST_F(Kernel, AnyWhiteSpaceSeparatesAndLinesHaveNoLengthLimit)
{
    // Tabs, runs of blanks, leading blanks, blank lines and CR line ends.
    image *k = read("  1\t2   3 4\r\n\n5 6\t\t7 8\n");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->naxes[1], 4);
    EXPECT_EQ(k->naxes[2], 2);
    EXPECT_EQ(k->z[1][1], 1);
    EXPECT_EQ(k->z[1][4], 4);
    EXPECT_EQ(k->z[2][3], 7);
    release(k);

    std::string line;
    for (int i = 0; i < 60; i++)
        line += "0.0078125 ";
    k = read(line + "\n" + line + "\n");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->naxes[1], 60);
    EXPECT_FLOAT_EQ(k->z[2][60], 0.0078125f);
    release(k);
}

TEST_F(Kernel, UnusableFilesGiveNoKernel)
{
    const char *cases[] = {
        "0.1 0.1 0.1\n0.1 0.1\n0.1 0.1 0.1\n", // a short row
        "1\n",                                 // one number
        "",                                    // empty
        "1 -1\n-1 1\n",                        // sums to 0
        // Words that are not wholly numbers would be read as 0 or as
        // their leading digits.
        "0.1 0.1 0.1\n0.1 0,2 0.1\n0.1 0.1 0.1\n",
        "kernel E2\n0.1 0.1\n0.1 0.7\n",
        "0.25 0.25x\n0.25 0.25\n",
    };
    for (const char *text : cases)
        EXPECT_EQ(read(text), nullptr) << text;
    EXPECT_EQ(getkernel((path + ".missing").c_str()), nullptr);
}

TEST(PsfFwhm, GaussiansOfKnownWidth)
{
    struct {
        double sigma, want;
    } cases[] = {
        {1.0, 2.4523 - 0.5}, // linear interpolation between samples
        {4 / 2.354820045, 4.0},
        {6 / 2.354820045, 6.0},
    };
    for (const auto &c : cases) {
        owned_image p(32, 32, [&](long x, long y) { return point_gauss(x, y, 17, 17, c.sigma); });
        EXPECT_NEAR(psf_fwhm(p.im), c.want, 0.01) << c.sigma;
    }
}

TEST(PsfFwhm, StaysInsideThePsfWhenThePeakIsAtTheBorder)
{
    // Peak in the corner, and a flat PSF that never falls to half its peak.
    owned_image corner(8, 8, [](long x, long y) { return point_gauss(x, y, 1, 1, 1.0); });
    const float fc = psf_fwhm(corner.im);
    EXPECT_TRUE(std::isfinite(fc));
    EXPECT_GT(fc, 0);
    owned_image flat(6, 4, [](long, long) { return 2.0; });
    // Widths 6 and 4 measured from beyond the border pixels: mean 5.
    EXPECT_NEAR(psf_fwhm(flat.im), 5, 1e-6);
    owned_image none(4, 4, [](long, long) { return -1.0; });
    EXPECT_EQ(psf_fwhm(none.im), 0);
}

TEST(Cgrid, PatchesReproducePixelsAndVanishOutside)
{
    owned_image p(10, 8, [](long x, long y) { return point_gauss(x, y, 6, 5, 1.6) + 0.01 * x; });
    bicubic_grid **g = get_cgrid(p.im);
    float v, d1, d2;
    for (long j = 0; j <= 9; j++)
        for (long k = 0; k <= 11; k++) {
            // Lower corner of cell (k, j) is pixel (k, j).
            bcuint(g[j][k].c, k, k + 1, j, j + 1, k, j, &v, &d1, &d2);
            const float want = (k >= 1 && k <= 10 && j >= 1 && j <= 8) ? p.z()[j][k] : 0;
            ASSERT_NEAR(v, want, 3e-6) << k << "," << j;
            // Upper corner of the same cell.
            bcuint(g[j][k].c, k, k + 1, j, j + 1, k + 1, j + 1, &v, &d1, &d2);
            const float up =
                (k + 1 >= 1 && k + 1 <= 10 && j + 1 >= 1 && j + 1 <= 8) ? p.z()[j + 1][k + 1] : 0;
            ASSERT_NEAR(v, up, 3e-6) << k << "," << j;
        }
    free_cgrid(g, 0, 9, 0, 11);
}

TEST(Bessel, AgreesWithTheLibraryFunction)
{
    for (double x : {0.0, 0.3, 1.0, 2.0, 3.7, 3.75, 4.0, 7.5, 12.0, -2.5, -9.0}) {
        const double want = std::cyl_bessel_i(0.0, std::fabs(x));
        EXPECT_NEAR(bessi0(static_cast<float>(x)), want, 3e-7 * want) << x;
    }
}

TEST(Sinc, WindowedSincValues)
{
    psftest::psf_state_guard guard;
    alpha_win = 1;
    tau_win = 10;
    EXPECT_EQ(sinc(0), 1);
    EXPECT_EQ(sinc(10.5f), 0);
    EXPECT_EQ(sinc(-11), 0);
    EXPECT_NEAR(sinc(3), 0, 1e-8);
    const double pi = std::acos(-1.0);
    const double want = std::sin(pi * 0.5) / (pi * 0.5) *
                        std::cyl_bessel_i(0.0, std::sqrt(1 - 0.25 / 100)) /
                        std::cyl_bessel_i(0.0, 1.0);
    EXPECT_NEAR(sinc(0.5f), want, 1e-6);
    EXPECT_NEAR(sinc(-0.5f), want, 1e-6);
    // The window falls to I0(0)/I0(alpha) at the edge.
    alpha_win = 2;
    tau_win = 20;
    const double edge = std::sin(pi * 19.5) / (pi * 19.5) *
                        std::cyl_bessel_i(0.0, 2 * std::sqrt(1 - 19.5 * 19.5 / 400)) /
                        std::cyl_bessel_i(0.0, 2.0);
    EXPECT_NEAR(sinc(19.5f), edge, 1e-7);
}

// A Gaussian PSF of the given FWHM centred on the centre pixel (17, 17).
owned_image *gaussian_psf(double fwhm, long n = 32)
{
    const double s = fwhm / 2.354820045;
    const double c = n / 2 + 1;
    return new owned_image(n, n, [=](long x, long y) { return point_gauss(x, y, c, c, s); });
}

double centroid_x(float **z, long n)
{
    double s = 0, sx = 0;
    for (long y = 1; y <= n; y++)
        for (long x = 1; x <= n; x++) {
            s += z[y][x];
            sx += x * z[y][x];
        }
    return sx / s;
}

TEST(ShiftPsf, ZeroShiftReturnsThePsfWithEveryMethod)
{
    for (double fwhm : {1.0, 1.8, 3.0, 5.0}) {
        std::unique_ptr<owned_image> p(gaussian_psf(fwhm));
        psftest::loaded_psf loaded(*p);
        shift_psf(psf, &tpsf, 0, 0);
        for (long y = 1; y <= 32; y++)
            for (long x = 1; x <= 32; x++)
                ASSERT_NEAR(tpsf.z[y][x], p->z()[y][x], 2e-6) << fwhm << " at " << x << "," << y;
    }
}

TEST(ShiftPsf, MethodAndWindowFollowTheFwhm)
{
    struct {
        float fwhm, alpha, tau;
        // 2.2f lies above the double 2.2 that it is compared with.
    } cases[] = {{1.19f, -1, -1}, {1.2f, 1, 10}, {2.19f, 1, 10},
                 {2.2f, 2, 20},   {4.0f, 2, 20}, {4.01f, -1, -1}};
    std::unique_ptr<owned_image> p(gaussian_psf(3));
    psftest::loaded_psf loaded(*p);
    for (const auto &c : cases) {
        fwhmpsf = c.fwhm;
        alpha_win = tau_win = -1; // kept by the bicubic method
        shift_psf(psf, &tpsf, 0.3f, -0.2f);
        EXPECT_EQ(alpha_win, c.alpha) << c.fwhm;
        EXPECT_EQ(tau_win, c.tau) << c.fwhm;
    }
}

TEST(ShiftPsf, MovesTheCentroidByTheShift)
{
    for (double fwhm : {1.0, 2.0, 3.0, 5.0}) {
        std::unique_ptr<owned_image> p(gaussian_psf(fwhm));
        psftest::loaded_psf loaded(*p);
        for (float dx : {0.5f, -0.25f, 0.1f}) {
            shift_psf(psf, &tpsf, dx, 0);
            EXPECT_NEAR(centroid_x(tpsf.z, 32) - centroid_x(p->z(), 32), dx, 0.01)
                << "FWHM " << fwhm << " dx " << dx;
        }
    }
}

TEST(ShiftPsf, SymmetricPsfStaysSymmetricAboutTheMovedCentre)
{
    // A half-pixel shift of a symmetric PSF is mirror-symmetric about the
    // moved centre (17.5, 17.5).  The sinc core and the bicubic wings must
    // both be centred there and the window must be whole on both sides.
    for (double fwhm : {2.0, 3.0, 3.9}) {
        std::unique_ptr<owned_image> p(gaussian_psf(fwhm));
        psftest::loaded_psf loaded(*p);
        shift_psf(psf, &tpsf, 0.5f, 0.5f);
        double peak = 0, worst = 0;
        for (long y = 3; y <= 32; y++)
            for (long x = 3; x <= 32; x++) {
                peak = std::max(peak, double(tpsf.z[y][x]));
                worst = std::max(worst, double(std::fabs(tpsf.z[y][x] - tpsf.z[35 - y][35 - x])));
            }
        EXPECT_LT(worst, 1e-6 * peak) << "FWHM " << fwhm;
    }
}

TEST(ShiftPsf, ShiftedGaussianMatchesTheMovedGaussian)
{
    // The windowed sinc (alpha 2, scaled to unit sum) is good to about 1%
    // of the peak on a Gaussian this narrow.
    for (double fwhm : {3.0, 3.5}) {
        const double s = fwhm / 2.354820045;
        std::unique_ptr<owned_image> p(gaussian_psf(fwhm));
        psftest::loaded_psf loaded(*p);
        shift_psf(psf, &tpsf, 0.4f, -0.3f);
        double worst = 0;
        for (long y = 1; y <= 32; y++)
            for (long x = 1; x <= 32; x++)
                worst = std::max(worst, std::fabs(tpsf.z[y][x] - point_gauss(x, y, 17.4, 16.7, s)));
        EXPECT_LT(worst, 0.015) << fwhm; // peak 1
    }
}

} // namespace
