// Cubic splines, two-dimensional splines and bicubic patches.
#include "numerics/nrutil.h"
#include "numerics/spline.h"

#include "common/fatal.h"
#include "nr_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using nrtest::FMat;

const float natural = 1.0e30f;

// 1-based float vector from values.
std::vector<float> one_based(std::initializer_list<float> v)
{
    std::vector<float> r(1, 0.0f);
    r.insert(r.end(), v);
    return r;
}

TEST(Spline, StraightLineIsReproducedEverywhere)
{
    auto x = one_based({-2, -0.5, 0, 1, 3.5, 4});
    std::vector<float> y(x.size()), y2(x.size());
    for (size_t i = 1; i < x.size(); i++)
        y[i] = 0.5f * x[i] - 1.0f;
    const int n = int(x.size()) - 1;
    spline(x.data(), y.data(), n, natural, natural, y2.data());
    for (int i = 1; i <= n; i++)
        EXPECT_NEAR(y2[i], 0.0f, 1e-6) << i;
    for (float t : {-5.0f, -2.0f, -1.0f, 0.25f, 3.9f, 4.0f, 7.0f}) {
        float v;
        splint(x.data(), y.data(), y2.data(), n, t, &v);
        EXPECT_NEAR(v, 0.5f * t - 1.0f, 1e-5) << t;
    }
    // Two points with natural ends: the line through them.
    spline(x.data(), y.data(), 2, natural, natural, y2.data());
    float v;
    splint(x.data(), y.data(), y2.data(), 2, -1.25f, &v);
    EXPECT_NEAR(v, 0.5f * -1.25f - 1.0f, 1e-6);
}

// With the exact end slopes the spline reproduces any cubic.
TEST(Spline, ClampedSplineReproducesACubic)
{
    auto f = [](double t) { return 0.3 * t * t * t - t * t + 2 * t - 1; };
    auto fp = [](double t) { return 0.9 * t * t - 2 * t + 2; };
    auto x = one_based({0, 0.3, 1.1, 1.5, 2.6, 3.0, 4.2});
    const int n = int(x.size()) - 1;
    std::vector<float> y(n + 1), y2(n + 1);
    for (int i = 1; i <= n; i++)
        y[i] = float(f(x[i]));
    spline(x.data(), y.data(), n, float(fp(0)), float(fp(4.2)), y2.data());
    for (float t = 0; t <= 4.2f; t += 0.07f) {
        float v;
        splint(x.data(), y.data(), y2.data(), n, t, &v);
        EXPECT_NEAR(v, f(t), 2e-5) << t;
    }
    for (int i = 1; i <= n; i++) { // at the knots: the ordinates
        float v;
        splint(x.data(), y.data(), y2.data(), n, x[i], &v);
        EXPECT_FLOAT_EQ(v, y[i]) << i;
    }
}

TEST(Spline, BadAbscissaeAreFatal)
{
    auto same = one_based({1, 1, 1, 1});
    std::vector<float> y(5, 1.0f), y2(5, 0.0f);
    EXPECT_NRERROR(splint(same.data(), y.data(), y2.data(), 4, 0.5f, y.data()),
                   "Bad xa input to routine splint");
    auto x = one_based({0, 1, 1, 2});
    EXPECT_NRERROR(spline(x.data(), y.data(), 4, natural, natural, y2.data()),
                   "Bad x input to routine spline");
    EXPECT_NRERROR(spline(x.data(), y.data(), 1, natural, natural, y2.data()),
                   "spline: at least two points are needed");
}

TEST(Splin2, ReproducesBilinearAndApproximatesSmoothSurfaces)
{
    const int m = 7, n = 9;
    std::vector<float> x1(m + 1), x2(n + 1);
    for (int i = 1; i <= m; i++)
        x1[i] = 0.5f * i + 0.1f * (i % 2);
    for (int j = 1; j <= n; j++)
        x2[j] = -1.0f + 0.4f * j;
    auto bilinear = [](double a, double b) { return 2 + 3 * a - b + 0.5 * a * b; };
    auto smooth = [](double a, double b) { return std::sin(a) * std::cos(0.7 * b); };
    for (int which = 0; which < 2; which++) {
        FMat ya(m, n), y2a(m, n);
        for (int i = 1; i <= m; i++)
            for (int j = 1; j <= n; j++)
                ya.a[i][j] = float(which ? smooth(x1[i], x2[j]) : bilinear(x1[i], x2[j]));
        splie2(x1.data(), x2.data(), ya.a, m, n, y2a.a);
        for (double a = 1.0; a <= 3.5; a += 0.3) {
            for (double b = -0.4; b <= 2.5; b += 0.35) {
                float v;
                splin2(x1.data(), x2.data(), ya.a, y2a.a, m, n, float(a), float(b), &v);
                if (which)
                    EXPECT_NEAR(v, smooth(a, b), 1e-2) << a << "," << b;
                else
                    EXPECT_NEAR(v, bilinear(a, b), 2e-5) << a << "," << b;
            }
        }
    }
}

// Corner quantities of p(t, u) = sum c[i][j] t^(i-1) u^(j-1) on a cell of
// widths d1, d2: values and derivatives along x1 = x1l + t*d1, x2 = x2l + u*d2.
void corners(float **c, float d1, float d2, float y[5], float y1[5], float y2[5], float y12[5])
{
    static const int corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; k++) {
        const double t = corner[k][0], u = corner[k][1];
        double p = 0, pt = 0, pu = 0, ptu = 0;
        for (int i = 1; i <= 4; i++) {
            for (int j = 1; j <= 4; j++) {
                const double cij = c[i][j];
                p += cij * std::pow(t, i - 1) * std::pow(u, j - 1);
                if (i > 1)
                    pt += cij * (i - 1) * std::pow(t, i - 2) * std::pow(u, j - 1);
                if (j > 1)
                    pu += cij * (j - 1) * std::pow(t, i - 1) * std::pow(u, j - 2);
                if (i > 1 && j > 1)
                    ptu += cij * (i - 1) * (j - 1) * std::pow(t, i - 2) * std::pow(u, j - 2);
            }
        }
        y[k + 1] = float(p);
        y1[k + 1] = float(pt / d1);
        y2[k + 1] = float(pu / d2);
        y12[k + 1] = float(ptu / (d1 * d2));
    }
}

TEST(Bicubic, PatchCoefficientsAreRecoveredFromTheirCorners)
{
    std::mt19937 gen(12);
    std::uniform_real_distribution<float> u(-2, 2);
    for (int trial = 0; trial < 50; trial++) {
        FMat c(4, 4), back(4, 4);
        for (int i = 1; i <= 4; i++)
            for (int j = 1; j <= 4; j++)
                c.a[i][j] = u(gen);
        const float d1 = 0.5f + trial * 0.1f, d2 = 2.0f - trial * 0.02f;
        float y[5], y1[5], y2[5], y12[5];
        corners(c.a, d1, d2, y, y1, y2, y12);
        bcucof(y, y1, y2, y12, d1, d2, back.a);
        for (int i = 1; i <= 4; i++)
            for (int j = 1; j <= 4; j++)
                EXPECT_NEAR(back.a[i][j], c.a[i][j], 2e-4) << trial << ": " << i << "," << j;

        // bcuint evaluates the patch and its derivatives anywhere in the cell.
        const float x1l = -1.0f, x2l = 3.0f;
        for (float t : {0.0f, 0.3f, 0.77f, 1.0f}) {
            for (float s : {0.0f, 0.5f, 0.9f}) {
                double p = 0, pt = 0, pu = 0;
                for (int i = 1; i <= 4; i++)
                    for (int j = 1; j <= 4; j++) {
                        p += c.a[i][j] * std::pow(t, i - 1) * std::pow(s, j - 1);
                        if (i > 1)
                            pt += c.a[i][j] * (i - 1) * std::pow(t, i - 2) * std::pow(s, j - 1);
                        if (j > 1)
                            pu += c.a[i][j] * (j - 1) * std::pow(t, i - 1) * std::pow(s, j - 2);
                    }
                float v, v1, v2;
                bcuint(c.a, x1l, x1l + d1, x2l, x2l + d2, x1l + t * d1, x2l + s * d2, &v, &v1, &v2);
                EXPECT_NEAR(v, p, 1e-4);
                EXPECT_NEAR(v1, pt / d1, 1e-4 / d1);
                EXPECT_NEAR(v2, pu / d2, 1e-4 / d2);
            }
        }
    }
}

TEST(Bicubic, ConstantAndPlanePatches)
{
    FMat c(4, 4);
    float y[5] = {0, 1, 1, 1, 1}, zero[5] = {0, 0, 0, 0, 0};
    bcucof(y, zero, zero, zero, 0.5f, 2.0f, c.a);
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 4; j++)
            EXPECT_EQ(c.a[i][j], i == 1 && j == 1 ? 1.0f : 0.0f);
    float v, v1, v2;
    bcuint(c.a, 0, 0.5f, 0, 2, 0.2f, 1.3f, &v, &v1, &v2);
    EXPECT_EQ(v, 1.0f);
    EXPECT_EQ(v1, 0.0f);
    EXPECT_EQ(v2, 0.0f);

    // p = t: 0 at corners 1 and 4, 1 at corners 2 and 3, y1 = 1/d1.
    const float d1 = 4.0f;
    float yp[5] = {0, 0, 1, 1, 0}, y1[5] = {0, 0.25f, 0.25f, 0.25f, 0.25f};
    bcucof(yp, y1, zero, zero, d1, 2.0f, c.a);
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 4; j++)
            EXPECT_EQ(c.a[i][j], i == 2 && j == 1 ? 1.0f : 0.0f);
    bcuint(c.a, 1, 1 + d1, 0, 2, 2.0f, 0.5f, &v, &v1, &v2);
    EXPECT_EQ(v, 0.25f);
    EXPECT_EQ(v1, 1 / d1);
    EXPECT_EQ(v2, 0.0f);
}

// The weight table's last row (the coefficient c[4][4]) read off through
// unit inputs with d1 = d2 = 1.
TEST(Bicubic, WeightTableRowOfTheHighestCoefficient)
{
    const int want[16] = {4, -4, 4, -4, 2, 2, -2, -2, 2, -2, -2, 2, 1, 1, 1, 1};
    for (int k = 0; k < 16; k++) {
        float q[4][5] = {};
        q[k / 4][k % 4 + 1] = 1.0f;
        FMat c(4, 4);
        bcucof(q[0], q[1], q[2], q[3], 1.0f, 1.0f, c.a);
        EXPECT_EQ(c.a[4][4], float(want[k])) << k;
        EXPECT_EQ(c.a[1][1], k == 0 ? 1.0f : 0.0f) << k;
    }
}

TEST(Bicubic, ZeroWidthCellIsFatal)
{
    FMat c(4, 4);
    float v, v1, v2;
    EXPECT_NRERROR(bcuint(c.a, 1, 1, 0, 1, 1, 0.5f, &v, &v1, &v2), "Bad input in routine bcuint");
    EXPECT_NRERROR(bcuint(c.a, 0, 1, 2, 2, 1, 0.5f, &v, &v1, &v2), "Bad input in routine bcuint");
}

} // namespace
