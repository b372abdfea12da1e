// The sky plane and the point source.
#include "psf_helpers.h"
#include "torvex/model/sky.h"
#include "torvex/psf/psfunc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using psftest::owned_image;
using psftest::point_gauss;

namespace {

// A component node over an nx x ny fit region with dpm[0..3], all zero.
struct node {
    derivs d;
    node(long nx, long ny)
    {
        d.naxes[1] = nx;
        d.naxes[2] = ny;
        for (int k = 0; k <= 3; k++) {
            d.dpm[k] = matrix(1, ny, 1, nx);
            for (long y = 1; y <= ny; y++)
                for (long x = 1; x <= nx; x++)
                    d.dpm[k][y][x] = 0;
        }
    }
    ~node()
    {
        for (int k = 0; k <= 3; k++)
            free_matrix(d.dpm[k], 1, d.naxes[2], 1, d.naxes[1]);
    }
    double sum(int k = 0) const
    {
        double s = 0;
        for (long y = 1; y <= d.naxes[2]; y++)
            for (long x = 1; x <= d.naxes[1]; x++)
                s += d.dpm[k][y][x];
        return s;
    }
    void centroid(double *cx, double *cy) const
    {
        double s = 0, sx = 0, sy = 0;
        for (long y = 1; y <= d.naxes[2]; y++)
            for (long x = 1; x <= d.naxes[1]; x++) {
                s += d.dpm[0][y][x];
                sx += x * d.dpm[0][y][x];
                sy += y * d.dpm[0][y][x];
            }
        *cx = sx / s;
        *cy = sy / s;
    }
};

TEST(Sky, PlaneAndItsDerivatives)
{
    psftest::psf_state_guard guard;
    xskycent = 10.5f;
    yskycent = 8.5f;
    image model;
    model.naxes[1] = 20;
    model.naxes[2] = 16;
    int ia[11] = {0, 1, 1, 1};
    for (float slope : {0.0f, 0.25f}) {
        node n(20, 16);
        float a[11] = {0, 3, slope, -slope / 2};
        sky(a, ia, &model, &n.d);
        for (long y = 1; y <= 16; y++)
            for (long x = 1; x <= 20; x++) {
                ASSERT_FLOAT_EQ(n.d.dpm[0][y][x], 3 + slope * (x - 10.5f) - slope / 2 * (y - 8.5f));
                ASSERT_EQ(n.d.dpm[1][y][x], 1);
                ASSERT_EQ(n.d.dpm[2][y][x], x - 10.5f);
                ASSERT_EQ(n.d.dpm[3][y][x], y - 8.5f);
            }
    }
    // Fixed slopes leave their images alone.
    node n(20, 16);
    float a[11] = {0, 3, 1, 1};
    int fixed[11] = {0, 1, 0, 0};
    sky(a, fixed, &model, &n.d);
    EXPECT_EQ(n.sum(2), 0);
    EXPECT_EQ(n.sum(3), 0);
}

// A loaded Gaussian PSF of the given FWHM (PSF pixels) and size, sampling
// factor os, zeropoint 25: magnitude 20 is 100 counts.
class PointSource : public ::testing::Test {
protected:
    std::unique_ptr<owned_image> p;
    std::unique_ptr<psftest::loaded_psf> loaded;
    image model;
    void load(double fwhm, long n, int os, double scale = 1)
    {
        const double s = fwhm / 2.354820045, c = n / 2 + 1;
        loaded.reset();
        p.reset(new owned_image(
            n, n, [=](long x, long y) { return scale * point_gauss(x, y, c, c, s); }));
        loaded.reset(new psftest::loaded_psf(*p));
        input.sampfac = os;
        kernel = nullptr;
        model.magzpt = 25;
    }
    void TearDown() override { loaded.reset(); }
    void render(node &n, float x, float y, int ia1 = 0, int ia2 = 0, int ia3 = 0)
    {
        float a[11] = {0, x, y, 20};
        int ia[11] = {0, ia1, ia2, ia3};
        psfunc(a, ia, &model, &n.d);
    }
};

TEST_F(PointSource, FluxAndPositionAtWholeAndSubPixelPlaces)
{
    load(3, 32, 1);
    struct {
        float x, y;
        double tol;
    } cases[] = {{30, 25, 1e-5}, {30.3f, 24.6f, 1e-5}, {17.5f, 33.2f, 1e-5}, {20.5f, 20.5f, 1e-5}};
    for (const auto &c : cases) {
        node n(60, 50);
        render(n, c.x, c.y);
        EXPECT_NEAR(n.sum(), 100, 100 * c.tol) << c.x << "," << c.y;
        double cx, cy;
        n.centroid(&cx, &cy);
        EXPECT_NEAR(cx, c.x, 0.01) << c.x;
        EXPECT_NEAR(cy, c.y, 0.01) << c.y;
    }
    // The sub-pixel shift keeps the PSF's sum only to about 1%; the star
    // still carries its whole flux at every place.
    // At a whole pixel the image is the PSF itself, scaled.
    node n(60, 50);
    render(n, 30, 25);
    EXPECT_NEAR(n.d.dpm[0][25][30], 100 * p->z()[17][17] / p->sum(), 1e-5);
    EXPECT_NEAR(n.d.dpm[0][23][31], 100 * p->z()[15][18] / p->sum(), 1e-5);
}

TEST_F(PointSource, LightBeyondTheRegionIsDroppedNotWrapped)
{
    load(3, 32, 1);
    node n(40, 40);
    render(n, 2, 20);
    // PSF columns 1..15 fall on columns 0 and below.
    double kept = 0;
    for (long y = 1; y <= 32; y++)
        for (long x = 16; x <= 32; x++)
            kept += p->z()[y][x];
    EXPECT_NEAR(n.sum(), 100 * kept / p->sum(), 1e-3);
    for (long y = 1; y <= 40; y++)
        EXPECT_EQ(n.d.dpm[0][y][40], 0);
    // A source no pixel number can reach lands nowhere.
    for (float far : {1e30f, -1e30f, 3e19f}) {
        node f(40, 40);
        render(f, far, 20, 1, 1, 1);
        EXPECT_EQ(f.sum(), 0) << far;
        render(f, 20, far, 1, 1, 1);
        EXPECT_EQ(f.sum(), 0) << far;
    }
}

TEST_F(PointSource, OversampledPsfIsBinnedToDataPixels)
{
    // A Gaussian of sigma 3 PSF pixels with os = 2 is a Gaussian of sigma
    // 1.5 data pixels; a 40 x 40 PSF covers 20 x 20 data pixels.
    load(3 * 2.354820045, 40, 2);
    for (float x : {30.0f, 29.7f}) {
        node n(60, 50);
        render(n, x, 25);
        EXPECT_NEAR(n.sum(), 100, 0.01);
        double cx, cy;
        n.centroid(&cx, &cy);
        EXPECT_NEAR(cx, x, 0.01);
        EXPECT_NEAR(cy, 25, 0.01);
        long first = 0, last = 0;
        for (long c = 1; c <= 60; c++)
            if (n.d.dpm[0][25][c] != 0) {
                if (!first)
                    first = c;
                last = c;
            }
        EXPECT_LE(last - first + 1, 21) << x;
        EXPECT_GE(last - first + 1, 20) << x;
        if (x == 30.0f) {
            // Each data pixel holds the four PSF samples at +-0.25 pixel
            // from its centre; the PSF sums to 2 pi 3^2.
            double worst = 0;
            for (long r = 15; r <= 35; r++)
                for (long c = 20; c <= 40; c++) {
                    double want = 0;
                    for (double u : {-0.25, 0.25})
                        for (double v : {-0.25, 0.25})
                            want += point_gauss(c + u, r + v, 30, 25, 1.5);
                    want *= 100 / (2 * M_PI * 9);
                    worst = std::max(worst, std::fabs(n.d.dpm[0][r][c] - want));
                }
            EXPECT_LT(worst, 0.02); // peak 7; the bicubic half-pixel shift
        }
    }
}

TEST_F(PointSource, DerivativeImages)
{
    load(3, 32, 1);
    node n(40, 40);
    render(n, 20.2f, 19.8f, 1, 1, 1);
    // Differences of the model over +-0.1 pixel, which keep the whole-pixel
    // place of the source.
    node xp(40, 40), xm(40, 40), yp(40, 40), ym(40, 40);
    render(xp, 20.3f, 19.8f);
    render(xm, 20.1f, 19.8f);
    render(yp, 20.2f, 19.9f);
    render(ym, 20.2f, 19.7f);
    for (long y = 1; y <= 40; y++)
        for (long x = 1; x <= 40; x++) {
            ASSERT_NEAR(n.d.dpm[1][y][x], (xp.d.dpm[0][y][x] - xm.d.dpm[0][y][x]) / 0.2, 2e-4);
            ASSERT_NEAR(n.d.dpm[2][y][x], (yp.d.dpm[0][y][x] - ym.d.dpm[0][y][x]) / 0.2, 2e-4);
            ASSERT_NEAR(n.d.dpm[3][y][x], -std::log(10.0) / 2.5 * n.d.dpm[0][y][x], 1e-5);
        }
}

TEST_F(PointSource, NormalisationFollowsThePsfInUse)
{
    load(3, 32, 1);
    node a(40, 40);
    render(a, 20, 20);
    load(3, 32, 1, 4.0); // the same PSF, four times brighter
    node b(40, 40);
    render(b, 20, 20);
    EXPECT_NEAR(a.sum(), 100, 1e-3);
    EXPECT_NEAR(b.sum(), 100, 1e-3);
}

TEST_F(PointSource, DiffusionKernelConvolvesTheImage)
{
    load(3, 32, 1);
    node plain(30, 30);
    render(plain, 15.3f, 14.8f);
    std::unique_ptr<owned_image> k(psftest::padded_kernel(0.6, 0.05));
    kernel = &k->im;
    node blurred(30, 30);
    render(blurred, 15.3f, 14.8f);
    kernel = nullptr;
    owned_image img(30, 30, [&](long x, long y) { return plain.d.dpm[0][y][x]; });
    const std::vector<double> want = psftest::direct_convolution(img, *k);
    for (long y = 1; y <= 30; y++)
        for (long x = 1; x <= 30; x++)
            ASSERT_NEAR(blurred.d.dpm[0][y][x], want[(y - 1) * 30 + (x - 1)], 1e-4);
}

} // namespace
