// The program end to end with a PSF: fits of synthetic images made here
// (PSF-convolved Gaussian galaxy, point source) recover the truth within a
// few of their reported uncertainties; create-only runs with an oversampled
// PSF and a diffusion kernel; PSFs that cannot be used are refused.
#include "common/fits.h"
#include "common/program.h"
#include "program_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace test_common;

namespace {

struct RunResult {
    int status;
    std::string out; // standard output and error as they came
};

RunResult torvex(const ScratchDir &dir, const std::string &param)
{
    spit(dir.file("fit.param"), param);
    const ProgramRun r = run_in(dir, "'" TORVEX_BIN "' fit.param 2>&1");
    return {r.status, r.out};
}

// The settings of a run over the region [from:to,from:to].
std::string settings(const char *psf_line, int os, int from, int to, int box, int create)
{
    Settings s;
    s.sigma = "sigma.fits";
    s.psf = psf_line;
    s.sampfac = os;
    s.x1 = s.y1 = from;
    s.x2 = s.y2 = to;
    s.box = box;
    s.create = create;
    return param_file(s, "");
}

// An n x n PSF image of a Gaussian of sigma s centred on pixel (c, c).
void write_gaussian_psf(const std::string &path, long n, double c, double s)
{
    write_image(path, n, n, [&](long x, long y) {
        return float(std::exp(-((x - c) * (x - c) + (y - c) * (y - c)) / (2 * s * s)));
    });
}

// Fraction of a unit Gaussian of width s centred on c inside pixel x.
double pixel_gauss(double x, double c, double s)
{
    const double k = 1 / (s * std::sqrt(2.0));
    return 0.5 * (std::erf((x + 0.5 - c) * k) - std::erf((x - 0.5 - c) * k));
}

#define EXPECT_RECOVERED(h, key, truth, nsig)                                                      \
    do {                                                                                           \
        Fitted f_ = card(h, key);                                                                  \
        EXPECT_GT(f_.error, 0) << key;                                                             \
        EXPECT_LT(std::fabs(f_.value - (truth)), (nsig)*f_.error)                                  \
            << key << " = " << f_.value << " +/- " << f_.error << ", truth " << (truth);           \
    } while (0)

TEST(PsfFit, ConvolvedSersicIsRecovered)
{
    // A Sersic of n = 0.5 is a Gaussian, so the truth convolved with a
    // Gaussian PSF is a Gaussian again: covariance R diag(sa^2, (q sa)^2) R'
    // + sp^2, integrated over each pixel here, plus sky and seeded noise.
    ScratchDir dir;
    const double x0 = 45.3, y0 = 44.6, mag = 16, re = 4, q = 0.6, pa = 30, sky = 5;
    const double sp = 1.5, noise = 2;
    const double sa = re / std::sqrt(2 * std::log(2.0)), sb = q * sa;
    const double t = pa * M_PI / 180;
    // Major axis along PA from +y towards -x.
    const double ux = -std::sin(t), uy = std::cos(t);
    const double cxx = sa * sa * ux * ux + sb * sb * uy * uy + sp * sp;
    const double cyy = sa * sa * uy * uy + sb * sb * ux * ux + sp * sp;
    const double cxy = (sa * sa - sb * sb) * ux * uy;
    const double det = cxx * cyy - cxy * cxy;
    const double flux = std::pow(10.0, (26 - mag) / 2.5);
    auto gal = [&](double x, double y) {
        const double dx = x - x0, dy = y - y0;
        const double r2 = (cyy * dx * dx - 2 * cxy * dx * dy + cxx * dy * dy) / det;
        return flux * std::exp(-0.5 * r2) / (2 * M_PI * std::sqrt(det));
    };
    std::mt19937 gen(11);
    std::normal_distribution<double> n01;
    write_image(dir.file("data.fits"), 90, 90,
                [&](long x, long y) {
                    double s = 0;
                    const int k = 10;
                    for (int j = 0; j < k; j++)
                        for (int i = 0; i < k; i++)
                            s += gal(x - 0.5 + (i + 0.5) / k, y - 0.5 + (j + 0.5) / k);
                    return static_cast<float>(s / (k * k) + sky + noise * n01(gen));
                },
                {{"EXPTIME", "1"}});
    write_image(dir.file("sigma.fits"), 90, 90, [&](long, long) { return float(noise); });
    write_gaussian_psf(dir.file("psf.fits"), 32, 17, sp);

    const std::string comps = "0) sersic\n1) 46.0 44.0 1 1\n3) 16.5 1\n4) 5.0 1\n5) 0.8 1\n"
                              "8) 0.7 1\n9) 20.0 1\n10) 0.0 0\nZ) 0\n"
                              "0) sky\n1) 4.0 1\n2) 0.0 0\n3) 0.0 0\nZ) 0\n";
    RunResult r = torvex(dir, settings("psf.fits", 1, 11, 80, 50, 0) + comps);
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(r.out.find("No convolution"), std::string::npos) << r.out;
    Hdu h = read_hdu(dir.file("block.fits"), 3); // after the empty primary and the data
    ASSERT_EQ(h.text("OBJECT"), "model");
    EXPECT_RECOVERED(h, "1_XCENT", x0, 4);
    EXPECT_RECOVERED(h, "1_YCENT", y0, 4);
    EXPECT_RECOVERED(h, "1_MAG", mag, 4);
    EXPECT_RECOVERED(h, "1_Re", re, 4);
    EXPECT_RECOVERED(h, "1_n", 0.5, 4);
    EXPECT_RECOVERED(h, "1_AR", q, 4);
    EXPECT_RECOVERED(h, "1_PA", pa, 4);
    EXPECT_RECOVERED(h, "2_SKY", sky, 4);
}

TEST(PsfFit, PointSourcePositionAndFlux)
{
    // A star is the PSF (a pixel-integrated Gaussian) scaled and placed at
    // a sub-pixel position, on a sky with seeded noise.
    ScratchDir dir;
    const double x0 = 30.37, y0 = 29.72, mag = 18, sky = 3, s = 1.4, noise = 1;
    const double flux = std::pow(10.0, (26 - mag) / 2.5);
    std::mt19937 gen(12);
    std::normal_distribution<double> n01;
    write_image(dir.file("data.fits"), 60, 60,
                [&](long x, long y) {
                    return float(flux * pixel_gauss(x, x0, s) * pixel_gauss(y, y0, s) + sky +
                                 noise * n01(gen));
                },
                {{"EXPTIME", "1"}});
    write_image(dir.file("sigma.fits"), 60, 60, [&](long, long) { return float(noise); });
    write_image(dir.file("psf.fits"), 32, 32, [&](long x, long y) {
        return float(pixel_gauss(x, 17, s) * pixel_gauss(y, 17, s));
    });
    const std::string comps = "0) psf\n1) 30.0 30.0 1 1\n3) 18.5 1\nZ) 0\n"
                              "0) sky\n1) 2.0 1\n2) 0.0 0\n3) 0.0 0\nZ) 0\n";
    RunResult r = torvex(dir, settings("psf.fits", 1, 1, 60, 30, 0) + comps);
    ASSERT_EQ(r.status, 0) << r.out;
    Hdu h = read_hdu(dir.file("block.fits"), 3);
    ASSERT_EQ(h.text("OBJECT"), "model");
    EXPECT_RECOVERED(h, "1_XCENT", x0, 4);
    EXPECT_RECOVERED(h, "1_YCENT", y0, 4);
    EXPECT_RECOVERED(h, "2_SKY", sky, 4);
    EXPECT_LT(std::fabs(card(h, "1_XCENT").value - x0), 0.02);
    // The moved PSF is scaled to the star's whole flux wherever it lies: no
    // bias beyond the noise (0.004 mag here) at this fraction of a pixel.
    EXPECT_RECOVERED(h, "1_MAG", mag, 3);
    EXPECT_NEAR(card(h, "1_MAG").value, mag, 0.005);
}

TEST(PsfRun, OversampledPsfWithDiffusionKernel)
{
    // os = 2 and a 3 x 3 kernel: the rendered star keeps its light and its
    // place, and the kernel is used.
    ScratchDir dir;
    write_gaussian_psf(dir.file("psf.fits"), 40, 21, 3);
    spit(dir.file("kernel.txt"), "0.02 0.08 0.02\n0.08\t0.60 0.08\n0.02 0.08 0.02\n");
    const std::string comps = "0) psf\n1) 30.0 25.0 0 0\n3) 16.0 0\nZ) 0\n"
                              "0) sersic\n1) 12.0 40.0 0 0\n3) 17.0 0\n4) 3.0 0\n5) 1.0 0\n"
                              "8) 0.8 0\n9) 10.0 0\n10) 0.0 0\nZ) 0\n";
    RunResult r = torvex(dir, settings("psf.fits kernel.txt", 2, 1, 50, 30, 1) + comps);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("No CCD charge diffusion kernel"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("There is no PSF image"), std::string::npos);
    Hdu h = read_hdu(dir.file("block.fits"), 1);
    ASSERT_EQ(h.nx, 50);
    double total = 0, sx = 0, sy = 0, star = 0;
    for (long y = 1; y <= 50; y++)
        for (long x = 1; x <= 50; x++) {
            total += h.at(x, y);
            if (std::hypot(x - 30.0, y - 25.0) < 8) {
                star += h.at(x, y);
                sx += x * h.at(x, y);
                sy += y * h.at(x, y);
            }
        }
    // 10^4 + 10^3.6 counts, a little lost past the region's edges.
    EXPECT_NEAR(total, 1e4 + std::pow(10.0, 3.6), 0.01 * total);
    EXPECT_NEAR(sx / star, 30, 0.05);
    EXPECT_NEAR(sy / star, 25, 0.05);
}

TEST(PsfRun, UnusablePsfEndsTheRun)
{
    struct {
        const char *what;
        long nx, ny;
        float (*pix)(long, long);
        const char *message;
    } cases[] = {
        {"sum 0", 8, 8, [](long x, long) { return x == 3   ? 1.0f
                                                  : x == 4 ? -1.0f
                                                           : 0.0f; },
         "sum to 0"},
        {"one row", 8, 1, [](long, long) { return 1.0f; }, "at least 2 x 2"},
    };
    for (const auto &c : cases) {
        ScratchDir dir;
        write_image(dir.file("psf.fits"), c.nx, c.ny, c.pix);
        const std::string comps = "0) psf\n1) 10.0 10.0 1 1\n3) 16.0 1\nZ) 0\n";
        RunResult r = torvex(dir, settings("psf.fits", 1, 1, 20, 10, 1) + comps);
        EXPECT_EQ(r.status, 1) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_FALSE(std::ifstream(dir.file("block.fits")).good()) << c.what;
    }
}

TEST(PsfRun, BlankPixelOfAnIntegerPsfCountsAsZero)
{
    // A 16-bit PSF with one BLANK pixel in its wing renders a star exactly
    // as the same PSF in floats with 0 there.
    ScratchDir dir;
    auto gauss = [](long x, long y) {
        return 10000 * std::exp(-((x - 9.0) * (x - 9.0) + (y - 9.0) * (y - 9.0)) / 8.0);
    };
    auto blank = [](long x, long y) { return x == 10 && y == 7; };
    write_short_image(dir.file("psf16.fits"), 16, 16, gauss, blank);
    write_image(dir.file("psf32.fits"), 16, 16, [&](long x, long y) {
        return blank(x, y) ? 0.0f : static_cast<float>(std::lround(gauss(x, y)));
    });
    const std::string comps = "0) psf\n1) 12.3 10.6 0 0\n3) 16.0 0\nZ) 0\n";
    std::string param = settings("psf16.fits", 1, 1, 24, 20, 1) + comps;
    param.replace(param.find("A) data.fits"), 12, "A) none");
    RunResult r = torvex(dir, param);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("-- WARNING: 1 pixel of the PSF image equals its BLANK value and counts "
                         "as 0."),
              std::string::npos)
        << r.out;
    Hdu with_blank = read_hdu(dir.file("block.fits"), 1);
    param.replace(param.find("D) psf16.fits"), 13, "D) psf32.fits");
    r = torvex(dir, param);
    ASSERT_EQ(r.status, 0) << r.out;
    Hdu with_zero = read_hdu(dir.file("block.fits"), 1);
    ASSERT_EQ(with_blank.pix.size(), with_zero.pix.size());
    EXPECT_EQ(with_blank.pix, with_zero.pix);
    EXPECT_GT(with_blank.at(12, 11), 0);
}

TEST(PsfRun, PointSourcesWithoutAPsfAreNamedInOneWarning)
{
    ScratchDir dir;
    const std::string comps = "0) psf\n1) 10.0 10.0 0 0\n3) 16.0 0\nZ) 0\n"
                              "0) sky\n1) 1.0 0\n2) 0.0 0\n3) 0.0 0\nZ) 0\n"
                              "0) psf\n1) 5.0 15.0 0 0\n3) 17.0 0\nZ) 0\n";
    std::string param = settings("none", 1, 1, 20, 10, 1) + comps;
    param.replace(param.find("A) data.fits"), 12, "A) none");
    RunResult r = torvex(dir, param);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string warning =
        "-- WARNING: There is no PSF image, so the point sources (components 1, 3)\n"
        "   render as nothing.";
    const size_t at = r.out.find(warning);
    EXPECT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(warning, at + 1), std::string::npos); // once
    // The model is the sky alone.
    Hdu h = read_hdu(dir.file("block.fits"), 1);
    for (long y = 1; y <= 20; y++)
        for (long x = 1; x <= 20; x++)
            ASSERT_EQ(h.at(x, y), 1.0f);
}

} // namespace
