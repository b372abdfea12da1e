#include "psftools/psf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "tests/psftools/psf_truth.h"

using orv::MArray;
using orv::Range;

namespace {

void expectIndices(const MArray<double, 2> &a, int lo, int hi)
{
    for (int d = 1; d <= 2; ++d) {
        EXPECT_EQ(lo, a.firstIndex(d));
        EXPECT_EQ(hi, a.lastIndex(d));
    }
}

double sum(const MArray<double, 2> &a)
{
    return orv::sum(a);
}

} // namespace

TEST(PsfClass, ConstructorSizesAndZeroArrays)
{
    struct Case {
        int analyt, subgrid, slen;
    };
    for (const Case c : {Case{3, 5, 17}, Case{3, 4, 14}, Case{0, 1, 0}}) {
        const psf p(10, c.analyt, c.subgrid, 2);
        EXPECT_EQ(10, p.get_boxlen());
        EXPECT_EQ(c.analyt, p.get_analyt());
        EXPECT_EQ(c.subgrid, p.get_subgrid());
        EXPECT_EQ(2, p.get_interpolation());
        EXPECT_EQ(0, p.get_subpixel());
        expectIndices(p.get_psf(), -c.slen, c.slen);
        expectIndices(p.get_epsf(), -c.slen, c.slen);
        expectIndices(p.get_binned_psf(), -c.analyt, c.analyt);
        expectIndices(p.get_ebinned_psf(), -c.analyt, c.analyt);
        EXPECT_EQ(0, orv::max(orv::fabs(p.get_psf())));
        EXPECT_EQ(0, orv::max(orv::fabs(p.get_ebinned_psf())));
        EXPECT_EQ(0, p.get_all_binned_psf().elementCount());
        EXPECT_EQ(0, p.get_all_e2binned_psf().elementCount());
    }
    const psf empty;
    EXPECT_EQ(0, empty.get_psf().elementCount());
    EXPECT_EQ(0, empty.get_subpixel());
}

TEST(PsfClass, SizesThatMakeNoPsfAreRefused)
{
    // No sub-grid point per pixel, negative half-sizes or interpolation, a
    // sub-grid half-size beyond an int: a message, and the object of psf(),
    // on which the synthetic PSF and the tables are refused in turn (no
    // exception, no tables computed from nothing).
    struct Case {
        int boxlen, analyt, subgrid, interpolation;
    };
    for (const Case c : {Case{6, 4, 0, 0}, Case{0, 0, 0, 0}, Case{6, 4, -3, 0}, Case{6, -2, 5, 0},
                         Case{-1, 4, 5, 0}, Case{6, 4, 5, -1}, Case{6, 1 << 30, 15, 0}}) {
        SCOPED_TRACE(testing::Message() << c.boxlen << ", " << c.analyt << ", " << c.subgrid << ", "
                                        << c.interpolation);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        psf p(c.boxlen, c.analyt, c.subgrid, c.interpolation);
        const std::string made = testing::internal::GetCapturedStdout();
        EXPECT_EQ(0u, made.find("error: psf(")) << made;
        EXPECT_EQ(0, p.get_boxlen());
        EXPECT_EQ(0, p.get_analyt());
        EXPECT_EQ(0, p.get_subgrid());
        EXPECT_EQ(0, p.get_interpolation());
        EXPECT_EQ(0, p.get_psf().elementCount());
        EXPECT_EQ(0, p.get_binned_psf().elementCount());
        testing::internal::CaptureStdout();
        p.generate_gauss(2.5, 2.5, 0, 0);
        p.calc_base(5, 0);
        EXPECT_EQ("error: the subgrid value must be at least 1!\n"
                  "error: the subgrid value must be at least 1!\n\n",
                  testing::internal::GetCapturedStdout());
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
        EXPECT_EQ(0, p.get_subpixel());
        EXPECT_EQ(0, p.get_all_binned_psf().elementCount());
    }
}

TEST(PsfClass, SettersRecomputeTheHalfSizeButKeepShapes)
{
    psf p(10, 3, 4, 0);
    p.set_analyt(4);
    // _slen is 4·4 + 2 = 18 now: the binning reaches sub-grid index 18, which
    // the old array (−14..14) does not have, so the outer pixels stay 0.
    expectIndices(p.get_psf(), -14, 14);
    EXPECT_EQ(4, p.get_analyt());
    MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
    v = 1.0 / 16;
    e = 0.1;
    p.binning(0, 0);
    expectIndices(p.get_binned_psf(), -4, 4);
    expectIndices(p.get_ebinned_psf(), -4, 4);
    EXPECT_NEAR(25.0 / 16, p.get_binned_psf()(3, 3), 1e-14);
    EXPECT_EQ(0, p.get_binned_psf()(4, 0));
    EXPECT_EQ(0, p.get_ebinned_psf()(-4, -4));
    // A psf made without sizes bins into one pixel.
    psf none;
    none.binning(0, 0);
    expectIndices(none.get_binned_psf(), 0, 0);
    EXPECT_EQ(0, none.get_binned_psf()(0, 0));
    p.set_subgrid(5);
    p.set_subpixel(7);
    p.set_boxlen(3);
    p.set_interpolation(1);
    EXPECT_EQ(5, p.get_subgrid());
    EXPECT_EQ(7, p.get_subpixel());
    EXPECT_EQ(3, p.get_boxlen());
    EXPECT_EQ(1, p.get_interpolation());
}

TEST(PsfClass, GettersAndTableSettersShareStorage)
{
    psf p(10, 2, 3, 0);
    p.get_binned_psf()(1, -1) = 4.5;
    EXPECT_EQ(4.5, p.get_binned_psf()(1, -1));
    p.get_epsf()(0, 0) = 2;
    EXPECT_EQ(2, p.get_epsf()(0, 0));

    MArray<double, 4> t{Range(-1, 1), Range(-1, 1), Range(-2, 2), Range(-2, 2)};
    t = 0.0;
    p.write_all_binned_psf(t);
    p.write_all_ebinned_psf(t);
    p.write_all_e2binned_psf(t);
    t(1, 0, -2, 2) = 7;
    EXPECT_EQ(7, p.get_all_binned_psf()(1, 0, -2, 2));
    EXPECT_EQ(7, p.get_all_e2binned_psf()(1, 0, -2, 2));
    // Arrays handed out outlive the object.
    MArray<double, 2> kept;
    {
        psf q(10, 1, 3, 0);
        kept.makeReference(q.get_psf());
        q.get_psf()(2, 2) = 3;
    }
    EXPECT_EQ(3, kept(2, 2));
}

TEST(PsfClass, FactorAndNormalisation)
{
    psf p(10, 1, 3, 0);
    MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
    for (int k = -4; k <= 4; ++k)
        for (int l = -4; l <= 4; ++l) {
            v(k, l) = 1 + 0.1 * k * k + 0.05 * l;
            e(k, l) = 0.5 + 0.01 * (k + 4);
        }
    const double s0 = sum(v);
    const double e0 = e(3, -2);
    p.factor(2);
    EXPECT_DOUBLE_EQ(2 * s0, sum(v));
    EXPECT_DOUBLE_EQ(2 * e0, e(3, -2));

    testing::internal::CaptureStdout();
    p.print_norm_psf();
    std::ostringstream norm;
    norm << " psf-norm = " << 2 * s0 << "\n";
    EXPECT_EQ(norm.str(), testing::internal::GetCapturedStdout());

    p.normalize_psf();
    EXPECT_NEAR(1.0, sum(v), 1e-14);
    EXPECT_NEAR(e0 / s0, e(3, -2), 1e-15);
}

TEST(PsfClass, ASumOfZeroOrNotFiniteIsReportedAndChangesNothing)
{
    struct Case {
        double other; // the sample at (-1, -1), beside 1 at (1, 1)
        const char *message;
    };
    for (const Case &c : {Case{-1, "error: psf sum is 0, psf not normalised\n"},
                          Case{NAN, "error: psf sum is not finite, psf not normalised\n"},
                          Case{INFINITY, "error: psf sum is not finite, psf not normalised\n"}}) {
        psf p(10, 1, 3, 0);
        MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
        v(1, 1) = 1;
        v(-1, -1) = c.other;
        e = 0.25;
        testing::internal::CaptureStdout();
        p.normalize_psf();
        EXPECT_EQ(c.message, testing::internal::GetCapturedStdout());
        EXPECT_EQ(1, v(1, 1));
        EXPECT_EQ(0, v(0, 0));
        EXPECT_EQ(0.25, e(0, 0));
    }
}

// ---- binning ---------------------------------------------------------------

namespace {

// g = 5 sub-grid points per pixel, analyt 4: a unit Gaussian of 1.1 pixels
// as sub-cell integrals, with the same error on every sample.
struct GaussPsf {
    static constexpr int g = 5, L = 4;
    static constexpr double sigma = 1.1, err = 0.002;
    psf p{10, L, g, 0};
    GaussPsf()
    {
        psftruth::fillSubgridGaussian(p.get_psf(), g, sigma);
        MArray<double, 2> e = p.get_epsf();
        e = err;
    }
};

} // namespace

TEST(PsfBinning, GaussianMatchesExactPixelIntegralsAtShifts)
{
    GaussPsf gp;
    // (dx, dy) and the shift they round to on the sub-grid (halves go up).
    struct Case {
        double dx, dy, ox, oy;
    };
    for (const Case c : {Case{0, 0, 0, 0}, Case{0.4, -0.2, 0.4, -0.2}, Case{-0.4, 0.2, -0.4, 0.2},
                         Case{-0.1, 0.1, 0, 0.2}, Case{-0.3, 0.06, -0.4, 0}}) {
        gp.p.binning(c.dx, c.dy);
        const MArray<double, 2> b = gp.p.get_binned_psf(), e = gp.p.get_ebinned_psf();
        for (int i = -4; i <= 4; ++i)
            for (int j = -4; j <= 4; ++j) {
                // The pixel on the side away from the shift reaches outside
                // the sub-grid and is dropped.
                const bool dropped = (c.ox > 0 && i == -4) || (c.ox < 0 && i == 4) ||
                                     (c.oy > 0 && j == -4) || (c.oy < 0 && j == 4);
                if (dropped) {
                    EXPECT_EQ(0, b(i, j)) << i << " " << j;
                    EXPECT_EQ(0, e(i, j));
                    continue;
                }
                const double truth = psftruth::pixelIntegral(i, j, c.ox, c.oy, GaussPsf::sigma);
                EXPECT_NEAR(truth, b(i, j), 1e-15 + 1e-12 * truth)
                    << c.dx << " " << c.dy << " " << i << " " << j;
                EXPECT_NEAR(5 * GaussPsf::err, e(i, j), 1e-15); // 25 samples in quadrature
            }
    }
}

TEST(PsfBinning, FlatPsfAndUnusableSamples)
{
    // A flat PSF of density 1: every pixel integrates to 1 for an odd
    // sub-grid; an even one gives g + 1 samples per axis, shared with the
    // neighbour.
    struct Case {
        int g;
        double pixel;
    };
    for (const Case c : {Case{5, 1.0}, Case{4, 25.0 / 16}}) {
        psf p(10, 3, c.g, 0);
        MArray<double, 2> v = p.get_psf(), e = p.get_epsf();
        v = 1.0 / (c.g * c.g);
        e = 0.1;
        p.binning(0, 0);
        MArray<double, 2> b = p.get_binned_psf(), eb = p.get_ebinned_psf();
        const int n = 2 * (c.g / 2) + 1;
        for (int i = -3; i <= 3; ++i)
            for (int j = -3; j <= 3; ++j) {
                EXPECT_NEAR(c.pixel, b(i, j), 1e-14);
                EXPECT_NEAR(0.1 * n, eb(i, j), 1e-14);
            }
        // One sample of 0 inside pixel (1, 0) at its border with pixel (2, 0),
        // one NaN error in pixel (-2, -2).
        v(c.g + c.g / 2, 0) = 0;
        e(-2 * c.g, -2 * c.g) = std::nan("");
        p.binning(0, 0);
        EXPECT_EQ(0, b(1, 0));
        EXPECT_EQ(0, eb(1, 0));
        EXPECT_EQ(0, b(-2, -2));
        // The neighbour shares the sample only for an even sub-grid.
        EXPECT_NEAR(c.g % 2 == 0 ? 0.0 : c.pixel, b(2, 0), 1e-14);
        EXPECT_NEAR(c.pixel, b(0, 0), 1e-14);
        // Errors of zero everywhere: nothing is usable.
        e = 0.0;
        p.binning(0, 0);
        EXPECT_EQ(0, orv::max(orv::fabs(b)));
    }
}

TEST(PsfBinning, ShiftTablesHoldEveryShift)
{
    GaussPsf gp;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    gp.p.calc_base(3, 99);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(3, gp.p.get_subpixel());
    const MArray<double, 4> t = gp.p.get_all_binned_psf(), e = gp.p.get_all_ebinned_psf(),
                            e2 = gp.p.get_all_e2binned_psf();
    for (int d = 1; d <= 4; ++d) {
        EXPECT_EQ(d <= 2 ? -1 : -4, t.firstIndex(d));
        EXPECT_EQ(d <= 2 ? 1 : 4, t.lastIndex(d));
    }
    // Shift s/3 pixel: sub-grid offset round(5s/3) = 2s, so 0.4 s pixel.
    for (int sx = -1; sx <= 1; ++sx)
        for (int sy = -1; sy <= 1; ++sy)
            for (int i = -3; i <= 3; ++i)
                for (int j = -3; j <= 3; ++j) {
                    EXPECT_NEAR(psftruth::pixelIntegral(i, j, 0.4 * sx, 0.4 * sy, GaussPsf::sigma),
                                t(sx, sy, i, j), 1e-14);
                    EXPECT_EQ(e(sx, sy, i, j) * e(sx, sy, i, j), e2(sx, sy, i, j));
                }
    // The binned pair is left at the last shift, (1/3, 1/3).
    EXPECT_EQ(t(1, 1, 0, 2), gp.p.get_binned_psf()(0, 2));
    EXPECT_EQ(0, t(1, 1, -4, 0));

    // Tables handed out earlier keep theirs when new ones are made.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    gp.p.calc_base(4, 0);
    EXPECT_EQ("error: please use an odd subpixel value!\n\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(-1, t.firstIndex(1));
    EXPECT_EQ(-2, gp.p.get_all_binned_psf().firstIndex(1));
    // Shift index 2 of 4 is half a pixel.
    EXPECT_NEAR(psftruth::pixelIntegral(1, 0, 0.6, 0, GaussPsf::sigma),
                gp.p.get_all_binned_psf()(2, 0, 1, 0), 1e-14);

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    gp.p.calc_base(5, 0);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(" _subpixel >= _subgrid !!!!!\n", testing::internal::GetCapturedStderr());
}

TEST(PsfBinning, TablesWithoutShiftsSubGridOrPixelsAreRefused)
{
    // Tables of 3 shifts, then a call that can make none: no shift, or a
    // sub-grid below 1 or a negative _analyt left by the setters (every
    // pixel would bin the same sample, or the pixel range would be
    // negative). A message, and _subpixel and the tables as they were.
    const std::string shifts = "error: the subpixel value must be at least 1!\n\n",
                      subgrid = "error: the subgrid value must be at least 1!\n\n",
                      analyt = "error: the analyt value must be at least 0!\n\n";
    struct Case {
        int n, subgrid, analyt;
        const std::string &message;
    };
    for (const Case &c : {Case{0, 5, 4, shifts}, Case{-3, 5, 4, shifts}, Case{5, 0, 4, subgrid},
                          Case{5, -5, 4, subgrid}, Case{5, 5, -1, analyt}}) {
        SCOPED_TRACE(testing::Message() << c.n << ", " << c.subgrid << ", " << c.analyt);
        GaussPsf gp;
        testing::internal::CaptureStdout();
        gp.p.calc_base(3, 0);
        testing::internal::GetCapturedStdout();
        const MArray<double, 4> before = gp.p.get_all_binned_psf();
        gp.p.set_subgrid(c.subgrid);
        gp.p.set_analyt(c.analyt);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        gp.p.calc_base(c.n, 0);
        EXPECT_EQ(c.message, testing::internal::GetCapturedStdout());
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
        EXPECT_EQ(3, gp.p.get_subpixel());
        EXPECT_EQ(before.dataFirst(), gp.p.get_all_binned_psf().dataFirst());
    }
}
