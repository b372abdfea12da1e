// Kernel transforms, the FFT convolution, the convolution box and the
// binning of a box back into the fit region, against direct sums and
// analytic Gaussians.
#include "psf_helpers.h"

#include "common/fatal.h"
#include "common/fits.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

using psftest::direct_convolution;
using psftest::owned_image;
using psftest::pixel_gauss;
using psftest::point_gauss;

namespace {

void convolve_with(owned_image &img, const owned_image &k, int add0pad, long cn[3])
{
    double **t = psfprep(k.im, img.im.naxes, add0pad, cn);
    convolve(&img.im, t, cn);
    free_dmatrix(t, 0, cn[2] - 1, 0, 2 * cn[1] - 1);
}

TEST(Psfprep, ComplexSizes)
{
    struct {
        long mx, my, kx, ky;
        int pad;
        long cn1, cn2;
    } cases[] = {
        {32, 32, 30, 30, 1, 64, 64},                          // 32 + 30 rounds up to 64
        {33, 17, 4, 4, 0, 64, 32},     {1, 1, 2, 2, 0, 2, 2}, // never below 2
        {16, 16, 2, 2, 0, 16, 16},     {16, 16, 2, 2, 1, 32, 32},
        {100, 60, 33, 7, 1, 256, 128}, // 100 + 2*round(16.5) = 134, 60 + 2*4 = 68
    };
    for (const auto &c : cases) {
        owned_image k(c.kx, c.ky, [](long, long) { return 1.0; });
        long naxes[3] = {0, c.mx, c.my}, cn[3];
        double **t = psfprep(k.im, naxes, c.pad, cn);
        EXPECT_EQ(cn[1], c.cn1) << c.mx << "x" << c.my << " pad " << c.pad;
        EXPECT_EQ(cn[2], c.cn2) << c.mx << "x" << c.my << " pad " << c.pad;
        free_dmatrix(t, 0, cn[2] - 1, 0, 2 * cn[1] - 1);
    }
}

TEST(Convolve, CentredDeltaIsTheIdentity)
{
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(-5, 20);
    owned_image img(21, 13, [&](long, long) { return u(gen); });
    owned_image orig(21, 13, [&](long x, long y) { return img.z()[y][x]; });
    owned_image k(8, 6, [](long x, long y) { return x == 5 && y == 4 ? 1.0 : 0.0; });
    for (int pad : {0, 1}) {
        long cn[3];
        convolve_with(img, k, pad, cn);
        for (long y = 1; y <= img.ny(); y++)
            for (long x = 1; x <= img.nx(); x++)
                ASSERT_NEAR(img.z()[y][x], orig.z()[y][x], 2e-5) << x << "," << y;
    }
}

TEST(Convolve, MatchesDirectSumWithPadding)
{
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> u(0, 1);
    // Kernels with an odd-looking content and every quarter populated, so
    // that the wrapping of all four quarters is exercised.
    for (long kn : {2L, 6L, 10L}) {
        owned_image k(kn, kn + 2, [&](long, long) { return u(gen); });
        owned_image img(19, 12, [&](long, long) { return u(gen) * 100; });
        const std::vector<double> want = direct_convolution(img, k);
        long cn[3];
        convolve_with(img, k, 1, cn);
        for (long y = 1; y <= img.ny(); y++)
            for (long x = 1; x <= img.nx(); x++)
                ASSERT_NEAR(img.z()[y][x], want[(y - 1) * img.nx() + (x - 1)], 1e-4)
                    << "kernel " << kn << " at " << x << "," << y;
    }
}

TEST(Convolve, LightWrapsOnlyWithoutPadding)
{
    // A kernel that moves light one column right: the last column's light
    // reaches column 1 when the image fills the complex size.
    owned_image k(4, 4, [](long x, long y) { return x == 4 && y == 3 ? 1.0 : 0.0; });
    auto make = [] {
        return new owned_image(16, 16,
                               [](long x, long y) { return x == 16 && y == 5 ? 7.0 : 0.0; });
    };
    long cn[3];
    owned_image *a = make();
    convolve_with(*a, k, 0, cn);
    EXPECT_NEAR(a->z()[5][1], 7, 1e-5);
    EXPECT_NEAR(a->sum(), 7, 1e-4);
    delete a;
    owned_image *b = make();
    convolve_with(*b, k, 1, cn);
    EXPECT_NEAR(b->z()[5][1], 0, 1e-5);
    EXPECT_NEAR(b->sum(), 0, 1e-4); // gone past the edge, into the padding
    delete b;
}

TEST(Convolve, GaussianTimesGaussianIsTheWiderGaussian)
{
    // A pixel-integrated Gaussian galaxy convolved with a sampled Gaussian
    // PSF is the pixel-integrated Gaussian of width sqrt(sg^2 + sp^2).
    const double sg = 2.3, sp = 1.7, cx = 30.4, cy = 27.8, flux = 5000;
    owned_image gal(64, 60, [&](long x, long y) {
        return flux * pixel_gauss(x, cx, sg) * pixel_gauss(y, cy, sg);
    });
    owned_image k(24, 24, [&](long x, long y) { return point_gauss(x, y, 13, 13, sp); });
    long cn[3];
    convolve_with(gal, k, 0, cn);
    const double s = std::sqrt(sg * sg + sp * sp);
    const double peak = flux * pixel_gauss(0, 0, s) * pixel_gauss(0, 0, s);
    double maxerr = 0;
    for (long y = 1; y <= gal.ny(); y++)
        for (long x = 1; x <= gal.nx(); x++) {
            const double want = flux * pixel_gauss(x, cx, s) * pixel_gauss(y, cy, s);
            maxerr = std::max(maxerr, std::fabs(gal.z()[y][x] - want));
        }
    EXPECT_LT(maxerr / peak, 2e-6);
    EXPECT_NEAR(gal.sum(), flux, 1e-5 * flux); // light is kept
}

TEST(Convolve, KernelThatSumsToZeroStaysFinite)
{
    owned_image k(4, 4, [](long x, long y) {
        return x == 3 && y == 3 ? 1.0 : x == 2 && y == 3 ? -1.0 : 0.0;
    });
    owned_image img(8, 8, [](long x, long y) { return x == 4 && y == 4 ? 1.0 : 0.0; });
    long cn[3];
    convolve_with(img, k, 1, cn);
    EXPECT_NEAR(img.z()[4][4], 1, 1e-6);
    EXPECT_NEAR(img.z()[4][3], -1, 1e-6);
    EXPECT_TRUE(std::isfinite(img.sum()));
}

TEST(Convolve, CachedTransformEqualsFreshOne)
{
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> u(0, 1);
    owned_image k(6, 6, [&](long, long) { return u(gen); });
    long naxes[3] = {0, 20, 12}, cn[3], cc[3];
    double **fresh = psfprep(k.im, naxes, 1, cn);
    prepcache cache;
    for (int round = 0; round < 2; round++) {
        double **cached = psfprep_cached(&cache, k.im, naxes, 1, cc);
        ASSERT_EQ(cc[1], cn[1]);
        ASSERT_EQ(cc[2], cn[2]);
        for (long i = 0; i < cn[2]; i++)
            ASSERT_EQ(0, std::memcmp(fresh[i], cached[i], sizeof(double) * 2 * cn[1]));
    }
    EXPECT_EQ(cache.entries.size(), 1u);
    // Changed pixels make a new transform, not the old one.
    k.z()[2][3] += 1;
    double **changed = psfprep_cached(&cache, k.im, naxes, 1, cc);
    EXPECT_NE(0, std::memcmp(fresh[0], changed[0], sizeof(double) * 2 * cn[1]));
    free_dmatrix(fresh, 0, cn[2] - 1, 0, 2 * cn[1] - 1);
}

TEST(ConvolveDeath, ImageLargerThanTheTransform)
{
    owned_image k(2, 2, [](long x, long y) { return x == 2 && y == 2 ? 1.0 : 0.0; });
    owned_image img(20, 8);
    long naxes[3] = {0, 8, 8}, cn[3];
    double **t = psfprep(k.im, naxes, 0, cn);
    EXPECT_NRERROR(convolve(&img.im, t, cn), "larger than the transform");
    free_dmatrix(t, 0, cn[2] - 1, 0, 2 * cn[1] - 1);
}

TEST(Mkimg, WritesTheMatrixAsAFitsImage)
{
    test_common::ScratchDir dir;
    owned_image img(5, 3, [](long x, long y) { return x + 10.0 * y + 0.25; });
    mkimg(img.z(), img.im.naxes, dir.file("work.fits").c_str(), "");
    test_common::Hdu h = test_common::read_hdu(dir.file("work.fits"), 1);
    ASSERT_EQ(h.status, 0);
    ASSERT_EQ(h.nx, 5);
    ASSERT_EQ(h.ny, 3);
    EXPECT_EQ(h.at(4, 2), 24.25f);
    EXPECT_EQ(h.text("OBJECT"), "");
}

class Box : public ::testing::Test {
protected:
    psftest::psf_state_guard guard;
    convpars cpar;
    derivs node;
    image region;
    void SetUp() override
    {
        region.naxes[1] = 100;
        region.naxes[2] = 100;
        cpar.psfsz[1] = cpar.psfsz[2] = 32;
    }
    std::string box(float x, float y, int bx, int by, int os = 1)
    {
        input.convbox[1] = bx;
        input.convbox[2] = by;
        input.sampfac = os;
        float a[11] = {0, x, y};
        convregion(&node, a, &region, &cpar);
        return node.imgsect;
    }
};

TEST_F(Box, SectionsAndGridSizes)
{
    struct {
        float x, y;
        int bx, by, os;
        const char *sect;
        long gx, gy;
    } cases[] = {
        {10.4f, 20.6f, 50, 40, 1, "[1:34,1:40]", 32 + 34, 32 + 40},
        {50, 50, 10, 10, 2, "[45:54,45:54]", 52, 52},
        {50, 50, 11, 11, 1, "[45:55,45:55]", 43, 43},
        {95.5f, 2.2f, 20, 20, 1, "[86:100,1:11]", 47, 43},
        {250, 50, 20, 20, 1, "[0:0,0:0]", 0, 0}, // beyond the right edge
        {50, -40, 20, 20, 1, "[0:0,0:0]", 0, 0}, // below the region
        {-30, 50, 20, 20, 1, "[0:0,0:0]", 0, 0}, // left of it
        {50, 50, 0, 10, 1, "[0:0,0:0]", 0, 0},   // no width
        // Positions no pixel number can hold: no box, and no overflow.
        {-1e30f, 50, 20, 20, 1, "[0:0,0:0]", 0, 0},
        {50, 1e30f, 20, 20, 1, "[0:0,0:0]", 0, 0},
        {3e19f, -3e19f, 20, 20, 1, "[0:0,0:0]", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(box(c.x, c.y, c.bx, c.by, c.os), c.sect) << c.x << "," << c.y;
        EXPECT_EQ(node.naxes[1], c.gx) << c.sect;
        EXPECT_EQ(node.naxes[2], c.gy) << c.sect;
    }
}

TEST_F(Box, BinningSumsOsByOsGridPixelsPastTheMargin)
{
    // os = 2, 32 x 32 PSF, 10 x 10 box: a 52 x 52 grid whose data pixel
    // (1, 1) is the sum of grid pixels 17..18 x 17..18.
    EXPECT_EQ(box(50, 50, 10, 10, 2), "[45:54,45:54]");
    owned_image grid(node.naxes[1], node.naxes[2], [](long x, long y) { return x + 1000.0 * y; });
    image g = grid.im;
    std::strcpy(g.imgsect, node.imgsect);
    owned_image fit(100, 100, [](long, long) { return -1.0; });
    copy_convregion(&cpar, fit.z(), g, 2);
    auto grid_sum = [](long X, long Y) {
        double s = 0;
        for (long r = 16 + 2 * Y - 1; r <= 16 + 2 * Y; r++)
            for (long c = 16 + 2 * X - 1; c <= 16 + 2 * X; c++)
                s += c + 1000.0 * r;
        return s;
    };
    EXPECT_FLOAT_EQ(fit.z()[45][45], (17 + 18) * 2 + 1000.0 * (17 + 18) * 2);
    for (long Y = 1; Y <= 10; Y++)
        for (long X = 1; X <= 10; X++)
            EXPECT_FLOAT_EQ(fit.z()[Y + 44][X + 44], grid_sum(X, Y));
    EXPECT_EQ(fit.z()[44][45], -1); // outside the box untouched
    EXPECT_EQ(fit.z()[45][55], -1);
}

TEST_F(Box, DiffusionKernelIsAppliedToTheBinnedBox)
{
    box(50, 50, 12, 12, 1);
    owned_image grid(node.naxes[1], node.naxes[2], [](long x, long y) {
        return x == 16 + 6 && y == 16 + 5 ? 10.0 : 0.0; // box pixel (6, 5)
    });
    image g = grid.im;
    std::strcpy(g.imgsect, node.imgsect);
    std::unique_ptr<owned_image> k(psftest::padded_kernel(0.2, 0.1));
    kernel = &k->im;
    owned_image fit(100, 100);
    copy_convregion(&cpar, fit.z(), g, 1);
    // Box pixel (6, 5) is fit pixel (49, 48).
    EXPECT_NEAR(fit.z()[48][49], 10 * 0.2 / 1.0, 1e-5);
    EXPECT_NEAR(fit.z()[47][48], 1, 1e-5);
    EXPECT_NEAR(fit.z()[49][50], 1, 1e-5);
    EXPECT_NEAR(fit.sum(), 10, 1e-4);
}

} // namespace
