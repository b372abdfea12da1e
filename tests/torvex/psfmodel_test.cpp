// The PSF path of the model assembly: components rendered on their
// convolution boxes, convolved with the shifted PSF and binned back, against
// analytic Gaussians (a Sersic profile of n = 0.5 is a Gaussian).
#include "psf_helpers.h"
#include "torvex/model/mkmodel.h"
#include "torvex/model/render.h"
#include "torvex/model/sersic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

using psftest::owned_image;
using psftest::pixel_gauss;
using psftest::point_gauss;

namespace {

// A Sersic of n = 0.5 is exp(-kappa (r/Re)^2) with kappa(0.5) = ln 2.
double sigma_of_re(double re)
{
    return re / std::sqrt(2 * getinterp(0.5f));
}

// One component over an n x n fit region (zeropoint 25) with the program's
// PSF, oversampling and convolution box set for the test.
class PsfModel : public ::testing::Test {
protected:
    psftest::psf_state_guard guard;
    std::unique_ptr<owned_image> p;
    std::unique_ptr<psftest::loaded_psf> loaded;
    convpars cpar;
    fitpars comp;
    derivs node;
    image model;
    const long n = 64;

    void SetUp() override
    {
        model.naxes[1] = model.naxes[2] = n;
        model.magzpt = 25;
        model.z = matrix(1, n, 1, n);
        kernel = nullptr;
        input.convbox[1] = input.convbox[2] = 40;
        std::strcpy(comp.objtype, "sersic");
        const float a[11] = {0, 32, 30, 15, 3, 0.5f, 0, 0, 1, 0, 0}; // 10^4 counts
        std::memcpy(comp.a, a, sizeof a);
        for (int i = 1; i <= 10; i++)
            comp.ia[i] = 0;
        node.naxes[1] = node.naxes[2] = n;
    }
    void TearDown() override
    {
        for (float **m : node.dpm)
            if (m)
                free_matrix(m, 1, n, 1, n);
        free_matrix(model.z, 1, n, 1, n);
        loaded.reset();
    }
    // A Gaussian PSF of width sp_psf PSF pixels, size psz, os PSF pixels a
    // data pixel; psfname "none" leaves the model unconvolved.
    void load(double sp_psf, long psz, int os)
    {
        const double c = psz / 2 + 1;
        p.reset(new owned_image(psz, psz,
                                [=](long x, long y) { return point_gauss(x, y, c, c, sp_psf); }));
        loaded.reset(new psftest::loaded_psf(*p));
        std::strcpy(psf.name, "psf.fits");
        input.sampfac = os;
        cpar.sampfac = os;
        cpar.psfsz[1] = cpar.psfsz[2] = psz;
    }
    void images(std::initializer_list<int> free_slots)
    {
        for (int s : free_slots)
            comp.ia[s] = 1;
        for (int i = 0; i <= 10; i++)
            if (i == 0 || comp.ia[i] == 1)
                node.dpm[i] = matrix(1, n, 1, n);
    }
    void run(int output) { mkmodel(&model, &node, &comp, &cpar, output); }
    double model_sum() const
    {
        double s = 0;
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++)
                s += model.z[y][x];
        return s;
    }
    // Largest difference from the pixel-integrated Gaussian of width s
    // centred on (cx, cy), over the pixels within 12 of it.
    double worst(double cx, double cy, double s) const
    {
        double w = 0;
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++)
                if (std::fabs(x - cx) <= 12 && std::fabs(y - cy) <= 12)
                    w = std::max(w, std::fabs(model.z[y][x] -
                                              1e4 * pixel_gauss(x, cx, s) * pixel_gauss(y, cy, s)));
        return w;
    }
};

TEST_F(PsfModel, GaussianGalaxyTimesGaussianPsf)
{
    // Galaxy sigma about 2.55, PSF sigma 1.6: the model is the Gaussian of
    // width sqrt(sg^2 + sp^2), wherever its centre falls on the pixels.
    const double sg = sigma_of_re(3), sp = 1.6, s = std::sqrt(sg * sg + sp * sp);
    const double peak = 1e4 * pixel_gauss(0, 0, s) * pixel_gauss(0, 0, s);
    struct {
        float x, y;
    } cases[] = {{32, 30}, {32.3f, 29.6f}, {31.5f, 30.5f}};
    load(sp, 32, 1);
    images({});
    for (const auto &c : cases) {
        comp.a[1] = c.x;
        comp.a[2] = c.y;
        run(1);
        EXPECT_LT(worst(c.x, c.y, s) / peak, 3e-4) << c.x << "," << c.y;
        EXPECT_NEAR(model_sum(), 1e4, 1e-3 * 1e4) << c.x << "," << c.y;
    }
}

TEST_F(PsfModel, OversampledPsf)
{
    // os = 2: PSF sigma 3.2 PSF pixels is 1.6 data pixels; the galaxy is
    // rendered on the twice finer grid and binned back.
    const double sg = sigma_of_re(3), sp = 1.6, s = std::sqrt(sg * sg + sp * sp);
    const double peak = 1e4 * pixel_gauss(0, 0, s) * pixel_gauss(0, 0, s);
    load(2 * sp, 64, 2);
    images({});
    for (float x : {32.25f, 32.0f}) {
        comp.a[1] = x;
        run(1);
        EXPECT_LT(worst(x, 30, s) / peak, 1e-3) << x;
        EXPECT_NEAR(model_sum(), 1e4, 2e-3 * 1e4) << x;
    }
}

TEST_F(PsfModel, BoxOutsideTheRegionLeavesTheComponentUnconvolved)
{
    load(1.6, 32, 1);
    images({});
    comp.a[1] = -30; // its wing still reaches the region
    comp.a[4] = 20;
    run(1);
    owned_image convolved(n, n, [&](long x, long y) { return model.z[y][x]; });
    std::strcpy(psf.name, "none");
    run(1);
    for (long y = 1; y <= n; y++)
        for (long x = 1; x <= n; x++)
            ASSERT_EQ(convolved.z()[y][x], model.z[y][x]) << x << "," << y;
    EXPECT_GT(model_sum(), 0);
}

TEST_F(PsfModel, OutsideTheBoxTheImageStaysUnconvolved)
{
    input.convbox[1] = input.convbox[2] = 10;
    load(1.6, 32, 1);
    images({});
    run(1);
    owned_image convolved(n, n, [&](long x, long y) { return model.z[y][x]; });
    std::strcpy(psf.name, "none");
    run(1);
    // Box [27:36,25:34]: only its pixels differ from the plain rendering.
    for (long y = 1; y <= n; y++)
        for (long x = 1; x <= n; x++) {
            const bool in = x >= 27 && x <= 36 && y >= 25 && y <= 34;
            if (!in) {
                ASSERT_EQ(convolved.z()[y][x], model.z[y][x]) << x << "," << y;
            }
        }
    EXPECT_LT(convolved.z()[30][32], model.z[30][32]); // the peak is blurred
}

TEST_F(PsfModel, DerivativeImagesAreConvolvedToo)
{
    load(1.6, 32, 1);
    images({1, 3, 4});
    run(0);
    owned_image dx(n, n, [&](long x, long y) { return node.dpm[1][y][x]; });
    owned_image dm(n, n, [&](long x, long y) { return node.dpm[3][y][x]; });
    owned_image dre(n, n, [&](long x, long y) { return node.dpm[4][y][x]; });
    owned_image base(n, n, [&](long x, long y) { return model.z[y][x]; });
    // The magnitude derivative is -ln(10)/2.5 times the convolved image.
    for (long y = 20; y <= 40; y++)
        for (long x = 22; x <= 42; x++)
            ASSERT_NEAR(dm.z()[y][x], -std::log(10.0) / 2.5 * base.z()[y][x], 2e-3);
    // The others against differences of the convolved model.
    auto compare = [&](const owned_image &d, int slot, float h) {
        const float a0 = comp.a[slot];
        comp.a[slot] = a0 + h;
        run(1);
        owned_image plus(n, n, [&](long x, long y) { return model.z[y][x]; });
        comp.a[slot] = a0 - h;
        run(1);
        comp.a[slot] = a0;
        double worst = 0, scale = 0;
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++) {
                const double fd = (plus.z()[y][x] - model.z[y][x]) / (2 * h);
                worst = std::max(worst, std::fabs(d.z()[y][x] - fd));
                scale = std::max(scale, std::fabs(fd));
            }
        return worst / scale;
    };
    EXPECT_LT(compare(dx, 1, 0.05f), 1e-3);
    EXPECT_LT(compare(dre, 4, 0.05f), 1e-3);
}

// The unconvolved rendering leaves a rectangle it is told to skip alone
// (the convolution box, written over later) and renders every other pixel
// as it would without it; with no rectangle alive it renders everything.
TEST_F(PsfModel, RenderingLeavesTheSkippedRectangleAlone)
{
    images({1, 4});
    comp.a[1] = 30.3f;
    sersic(comp.a, comp.ia, &model, &node);
    owned_image full0(n, n, [&](long x, long y) { return node.dpm[0][y][x]; });
    owned_image full4(n, n, [&](long x, long y) { return node.dpm[4][y][x]; });
    for (int i : {0, 1, 4})
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++)
                node.dpm[i][y][x] = -7;
    {
        render::pixel_rect r;
        r.x1 = 21;
        r.x2 = 40;
        r.y1 = 25;
        r.y2 = 34;
        render::skip_pixels skip(r);
        sersic(comp.a, comp.ia, &model, &node);
    }
    for (long y = 1; y <= n; y++)
        for (long x = 1; x <= n; x++) {
            if (x >= 21 && x <= 40 && y >= 25 && y <= 34) {
                for (int i : {0, 1, 4}) {
                    ASSERT_EQ(node.dpm[i][y][x], -7) << i << " at " << x << "," << y;
                }
            } else {
                ASSERT_EQ(node.dpm[0][y][x], full0.z()[y][x]) << x << "," << y;
                ASSERT_EQ(node.dpm[4][y][x], full4.z()[y][x]) << x << "," << y;
            }
        }
    sersic(comp.a, comp.ia, &model, &node); // the guard is gone
    EXPECT_EQ(node.dpm[0][30][30], full0.z()[30][30]);
}

} // namespace
