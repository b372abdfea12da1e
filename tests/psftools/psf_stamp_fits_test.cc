// Moffat and Gaussian fits of star stamps made from known parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "psftools/psf.h"
#include "psftools/random.h"

using orv::MArray;
using orv::Range;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kFitIt = 12345;

struct Moffat {
    double c, A, p, q, x0, y0, theta, beta, gx, gy;
    double at(double x, double y) const
    {
        const double dx = x - x0, dy = y - y0;
        const double u = dx * std::cos(theta) + dy * std::sin(theta),
                     v = dy * std::cos(theta) - dx * std::sin(theta);
        return c + gx * x + gy * y + A * std::pow(1 + (p * u) * (p * u) + (q * v) * (q * v), -beta);
    }
    double fwhm(double inverseWidth) const
    {
        return 2 * std::sqrt(std::pow(2.0, 1 / beta) - 1) / inverseWidth;
    }
};

struct Gauss {
    double c, A, p, q, x0, y0, theta;
    double at(double x, double y) const
    {
        const double dx = x - x0, dy = y - y0;
        const double u = dx * std::cos(theta) + dy * std::sin(theta),
                     v = dy * std::cos(theta) - dx * std::sin(theta);
        return c + A * std::exp(-(p * u * u + q * v * v));
    }
};

// A stamp of indices −h..h on both axes and its error stamp.
template <class T = double>
struct Stamp {
    MArray<T, 2> v, e;
    explicit Stamp(int h = 10) : v(Range(-h, h), Range(-h, h)), e(Range(-h, h), Range(-h, h)) {}
    template <class Model>
    Stamp(const Model &m, double err, int h = 10) : Stamp(h)
    {
        for (int i = -h; i <= h; ++i)
            for (int j = -h; j <= h; ++j)
                v(i, j) = static_cast<T>(m.at(i, j));
        e = static_cast<T>(err);
    }
};

// Everything fmoffat gives back.
struct Out {
    int status;
    double c, gx, gy, x, y, A, p, q, angle, beta, rms;
};

Out fitMoffat(const Stamp<> &s, double c, double gx, double gy, double blo, double bhi, double wlo,
              double whi, double x, double y, int verbose = 0)
{
    Out o{};
    o.c = c;
    o.gx = gx;
    o.gy = gy;
    o.x = x;
    o.y = y;
    o.A = o.p = o.q = o.angle = o.beta = o.rms = -77;
    o.status = psf::fmoffat(s.v, s.e, o.c, o.gx, o.gy, blo, bhi, wlo, whi, o.x, o.y, o.A, o.p, o.q,
                            o.angle, o.beta, o.rms, verbose);
    return o;
}

const Moffat kMoffat{20, 800, 0.4, 0.55, 0.3, -0.2, 0.3, 2.8, 0.5, -0.3};

} // namespace

TEST(StampFits, MoffatRecoversKnownParameters)
{
    const Stamp<> s(kMoffat, 1);
    // The stamp is cut with its index 0 at pixel (3, −2) of an image: the
    // position goes in as image coordinates, the fit comes back in stamp
    // coordinates, and the summary line adds the pixel back.
    testing::internal::CaptureStdout();
    const Out o = fitMoffat(s, kFitIt, kFitIt, kFitIt, 1, 10, 0.5, 20, 3.4, -2.1, 3);
    const std::string line = testing::internal::GetCapturedStdout();
    ASSERT_EQ(0, o.status);
    const double tol = 1e-6;
    EXPECT_NEAR(kMoffat.c, o.c, tol);
    EXPECT_NEAR(kMoffat.gx, o.gx, tol);
    EXPECT_NEAR(kMoffat.gy, o.gy, tol);
    EXPECT_NEAR(kMoffat.A, o.A, 1e-4);
    EXPECT_NEAR(kMoffat.p, o.p, tol);
    EXPECT_NEAR(kMoffat.q, o.q, tol);
    EXPECT_NEAR(kMoffat.x0, o.x, tol);
    EXPECT_NEAR(kMoffat.y0, o.y, tol);
    EXPECT_NEAR(kMoffat.theta, o.angle, tol);
    EXPECT_NEAR(kMoffat.beta, o.beta, tol);
    EXPECT_NEAR(0, o.rms, 1e-5);

    // rms_dof, iterations, points, background at the centre, slopes,
    // amplitude, centre in the image, the two FWHM, angle in degrees, beta.
    std::istringstream in(line);
    std::vector<double> col;
    for (double v; in >> v;)
        col.push_back(v);
    ASSERT_EQ(13u, col.size()) << line;
    EXPECT_EQ(12u * 13 + 1, line.size());
    EXPECT_EQ(348, col[2]); // pixels with d² <= 10·11 around (0.4, −0.1)
    EXPECT_NEAR(kMoffat.c + kMoffat.x0 * kMoffat.gx + kMoffat.y0 * kMoffat.gy, col[3], 0.006);
    EXPECT_NEAR(3 + kMoffat.x0, col[7], 0.006);
    EXPECT_NEAR(-2 + kMoffat.y0, col[8], 0.006);
    EXPECT_NEAR(kMoffat.fwhm(kMoffat.p), col[9], 0.006);
    EXPECT_NEAR(kMoffat.fwhm(kMoffat.q), col[10], 0.006);
    EXPECT_NEAR(kMoffat.theta * 180 / kPi, col[11], 0.006);

    // The single-precision free function agrees to float accuracy.
    const Stamp<float> sf(kMoffat, 1);
    float c = kFitIt, gx = kFitIt, gy = kFitIt, x = 3.4f, y = -2.1f, A, p, q, angle, beta, rms;
    ASSERT_EQ(0,
              fmoffat(sf.v, sf.e, c, gx, gy, 1, 10, 0.5f, 20, x, y, A, p, q, angle, beta, rms, 0));
    EXPECT_NEAR(kMoffat.A, A, 0.05);
    EXPECT_NEAR(kMoffat.p, p, 1e-4);
    EXPECT_NEAR(kMoffat.x0, x, 1e-4);
    EXPECT_NEAR(kMoffat.theta, angle, 1e-4);
    // And so does the member for float stamps.
    double cd = kFitIt, gxd = kFitIt, gyd = kFitIt, xd = 3.4, yd = -2.1, Ad, pd, qd, angled, betad,
           rmsd;
    ASSERT_EQ(0, psf::fmoffat(sf.v, sf.e, cd, gxd, gyd, 1, 10, 0.5, 20, xd, yd, Ad, pd, qd, angled,
                              betad, rmsd, 0));
    EXPECT_NEAR(kMoffat.q, qd, 1e-4);
}

TEST(StampFits, MoffatAngleInNormalFormAndFixedParameters)
{
    // Turned by 100 degrees: the same ellipse as 10 degrees with the axes
    // exchanged. Background, slopes (0, not the marker) and beta held fixed.
    Moffat m = kMoffat;
    m.theta = 100 * kPi / 180;
    m.gx = m.gy = 0;
    const Stamp<> s(m, 1);
    const Out o = fitMoffat(s, 20, 0, 0, 2.8, 2.8, 0.5, 20, 0.4, -0.1);
    ASSERT_EQ(0, o.status);
    EXPECT_NEAR(10 * kPi / 180, o.angle, 1e-6);
    EXPECT_NEAR(m.q, o.p, 1e-6);
    EXPECT_NEAR(m.p, o.q, 1e-6);
    EXPECT_EQ(2.8, o.beta);
    EXPECT_EQ(20, o.c);
    EXPECT_EQ(0, o.gx);
}

TEST(StampFits, MoffatOnNoiseFitsToItsErrors)
{
    // Seeded noise of the stated errors; the background to be fitted starts
    // from the stamp, not from the marker.
    Moffat m = kMoffat;
    m.gx = m.gy = 0;
    m.A = 20000;
    Stamp<> s(m, 1);
    C_rangau noise(3);
    for (int i = -10; i <= 10; ++i)
        for (int j = -10; j <= 10; ++j) {
            s.e(i, j) = std::sqrt(s.v(i, j));
            s.v(i, j) += s.e(i, j) * noise.eval();
        }
    const Out o = fitMoffat(s, kFitIt, 0, 0, 1, 10, 0.5, 20, 0, 0);
    ASSERT_EQ(0, o.status);
    EXPECT_NEAR(1, o.rms, 0.15);
    EXPECT_NEAR(m.c, o.c, 3);
    EXPECT_NEAR(m.x0, o.x, 0.01);
    // Beta and the widths go together; the FWHM is what the data fix.
    Moffat fitted = m;
    fitted.beta = o.beta;
    EXPECT_NEAR(m.fwhm(m.p), fitted.fwhm(o.p), 0.03 * m.fwhm(m.p));
    EXPECT_NEAR(m.fwhm(m.q), fitted.fwhm(o.q), 0.03 * m.fwhm(m.q));
}

TEST(StampFits, MoffatStatusCodes)
{
    Moffat faint = kMoffat;
    faint.gx = faint.gy = 0;
    faint.c = 100;
    faint.A = 5;
    faint.x0 = 0.2;
    faint.y0 = 0.1;
    Moffat offCentre = faint;
    offCentre.x0 = 0.7;
    Moffat edge = kMoffat;
    edge.gx = edge.gy = 0;
    edge.x0 = 10.6;

    struct Case {
        const char *what;
        Stamp<> stamp;
        double c, blo, bhi, wlo, whi, x;
        int status;
    };
    Stamp<> nine(kMoffat, 1);
    for (int i = -10; i <= 10; ++i)
        for (int j = -10; j <= 10; ++j)
            if (std::abs(i) > 1 || std::abs(j) > 1)
                nine.v(i, j) = 0;
    Stamp<> insignificant(faint, 50);
    Stamp<> hollow(faint, 50);
    hollow.v(0, 0) = 0;
    Stamp<> hollowOff(offCentre, 50);
    hollowOff.v(0, 0) = 0;
    const Case cases[] = {
        {"nine usable pixels", nine, kFitIt, 2.8, 2.8, 0.5, 20, 0, -2},
        {"FWHM above the limits", Stamp<>(kMoffat, 1), kFitIt, 1, 10, 3, 20, 0, -3},
        {"beta above the limits", Stamp<>(kMoffat, 1), kFitIt, 1, 2, 0.5, 20, 0, -4},
        {"centre beyond the stamp", Stamp<>(edge, 1), kFitIt, 1, 10, 0.5, 20, 9, -5},
        {"amplitude below its error", insignificant, 100, 2.8, 2.8, 0.5, 20, 0, -6},
        {"amplitude below its error, no pixel under the centre", hollow, 100, 2.8, 2.8, 0.5, 20, 0,
         0},
        // The centre 0.7 lies in pixel 1, which is usable.
        {"amplitude below its error, centre in the next pixel", hollowOff, 100, 2.8, 2.8, 0.5, 20,
         0.6, -6},
        // A negative fixed beta with enormous start widths cannot be
        // evaluated at all: no fit.
        {"no fit", Stamp<>(kMoffat, 1), kFitIt, -3, -3, 1e-60, 1e-60, 0, -3},
    };
    for (const Case &c : cases) {
        const Out o =
            fitMoffat(c.stamp, c.c, kMoffat.gx * (c.c == 100 ? 0 : 1), c.c == 100 ? 0 : kMoffat.gy,
                      c.blo, c.bhi, c.wlo, c.whi, c.x + 2, -3);
        EXPECT_EQ(c.status, o.status) << c.what;
        // x and y become their offsets; the fit itself is given only on
        // success, rms_dof always.
        if (c.status != 0) {
            EXPECT_NEAR(c.x + 2 - std::lrint(c.x + 2), o.x, 1e-12) << c.what;
            EXPECT_EQ(0, o.y) << c.what;
            EXPECT_EQ(-77, o.A) << c.what;
            EXPECT_EQ(c.c, o.c) << c.what;
        }
        EXPECT_NE(-77, o.rms) << c.what;
    }
}

TEST(StampFits, GaussRecoversKnownParameters)
{
    const Gauss g{10, 500, 1 / (2 * 1.8 * 1.8), 1 / (2 * 1.2 * 1.2), 0.3, -0.4, 0.5};
    const Stamp<> s(g, 1);
    for (double c : {kFitIt, 10.0}) {
        double x = 5.2, y = 7.6, A = 0;
        EXPECT_EQ(0, psf::fgauss(s.v, s.e, x, y, A, c, 0));
        EXPECT_NEAR(g.A, A, 1e-5);
        EXPECT_NEAR(g.x0, x, 1e-7);
        EXPECT_NEAR(g.y0, y, 1e-7);
    }
}

TEST(StampFits, GaussFailuresLeaveTheResultsAlone)
{
    const Gauss g{0, 500, 0.2, 0.3, 0.3, -0.4, 0.5};
    Stamp<> nine(g, 1);
    for (int i = -10; i <= 10; ++i)
        for (int j = -10; j <= 10; ++j)
            if (std::abs(i) > 1 || std::abs(j) > 1)
                nine.e(i, j) = 0;
    // A flat stamp holds no star: the fit has nothing to fix the shape and
    // cannot give a result. A stamp of zeros has no usable pixel at all.
    Stamp<> flat(3), zeros(3);
    flat.v = 4.0;
    flat.e = 1.0;
    zeros.v = 0.0;
    zeros.e = 1.0;
    struct Case {
        const char *why;
        const Stamp<> &s;
        double background;
    };
    for (const Case &c : {Case{"nine usable pixels", nine, 0.0}, Case{"flat", flat, kFitIt},
                          Case{"zeros", zeros, kFitIt}}) {
        SCOPED_TRACE(c.why);
        // x and y become their offsets from the nearest pixel at once.
        double x = 2.25, y = -0.5, A = -1;
        EXPECT_EQ(-1, psf::fgauss(c.s.v, c.s.e, x, y, A, c.background, 0));
        EXPECT_EQ(-1, A);
        EXPECT_EQ(0.25, x);
        EXPECT_EQ(-0.5, y);
    }
}

TEST(StampFits, PixelsThatAreNotNumbersAreLeftOut)
{
    // One pixel beside the centre not a number: both fits give what they
    // give with that pixel's error 0.
    const Gauss g{10, 500, 1 / (2 * 1.8 * 1.8), 1 / (2 * 1.2 * 1.2), 0.3, -0.4, 0.5};
    Stamp<> nan(g, 1), bad(g, 1);
    nan.v(1, 0) = NAN;
    bad.e(1, 0) = 0;
    double x[2] = {0, 0}, y[2] = {0, 0}, A[2] = {0, 0};
    const Stamp<> *stamps[2] = {&nan, &bad};
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(0, psf::fgauss(stamps[k]->v, stamps[k]->e, x[k], y[k], A[k], kFitIt, 0)) << k;
    EXPECT_EQ(A[1], A[0]);
    EXPECT_EQ(x[1], x[0]);
    EXPECT_NEAR(g.A, A[0], 1e-5);

    const Moffat m = kMoffat;
    Stamp<> mnan(m, 1), mbad(m, 1);
    mnan.v(1, 0) = NAN;
    mbad.e(1, 0) = 0;
    const Out a = fitMoffat(mnan, kFitIt, kFitIt, kFitIt, 1, 10, 0.5, 20, 0, 0),
              b = fitMoffat(mbad, kFitIt, kFitIt, kFitIt, 1, 10, 0.5, 20, 0, 0);
    EXPECT_EQ(0, a.status);
    EXPECT_EQ(b.A, a.A);
    EXPECT_EQ(b.rms, a.rms);
    EXPECT_NEAR(m.A, a.A, 1e-3);
}
