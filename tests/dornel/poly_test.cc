#include "dornel/poly.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/arrays.h"
#include "dornel/sky_error.h"

using namespace test_common;
using orv::MArray;

TEST(Gaussj, SolvesAndInverts)
{
    MArray<double, 2> a = matrix(2, {1, 2, 3, 4});
    MArray<double, 1> b = doubles({5, 6});
    ASSERT_EQ(0, gaussj(a, 2, b));
    EXPECT_NEAR(-4.0, b(1), 1e-12);
    EXPECT_NEAR(4.5, b(2), 1e-12);
    EXPECT_NEAR(-2.0, a(1, 1), 1e-12);
    EXPECT_NEAR(1.0, a(1, 2), 1e-12);
    EXPECT_NEAR(1.5, a(2, 1), 1e-12);
    EXPECT_NEAR(-0.5, a(2, 2), 1e-12);
}

TEST(Gaussj, LargerSystemAgainstKnownSolution)
{
    // A well-conditioned 4x4 system with the solution (1, -2, 3, 0.5).
    MArray<double, 2> a = matrix(4, {4, 1, 0, 2, 1, 5, 1, 0, 0, 1, 6, 1, 2, 0, 1, 7});
    const double x[4] = {1, -2, 3, 0.5};
    MArray<double, 2> keep(4, 4);
    keep = a;
    MArray<double, 1> b(4);
    for (int r = 1; r <= 4; ++r) {
        b(r) = 0;
        for (int c = 1; c <= 4; ++c)
            b(r) += a(r, c) * x[c - 1];
    }
    ASSERT_EQ(0, gaussj(a, 4, b));
    for (int r = 1; r <= 4; ++r)
        EXPECT_NEAR(x[r - 1], b(r), 1e-12);
    // a now holds the inverse: keep · a is the identity.
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c) {
            double s = 0;
            for (int k = 1; k <= 4; ++k)
                s += keep(r, k) * a(k, c);
            EXPECT_NEAR(r == c ? 1.0 : 0.0, s, 1e-12);
        }
}

TEST(Gaussj, SingularAndNonFiniteSystems)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char *what;
        std::initializer_list<double> a;
    };
    const Case cases[] = {
        {"all zero", {0, 0, 0, 0}},         {"rank one", {1, 2, 2, 4}},
        {"all NaN", {nan, nan, nan, nan}},  {"NaN after the first step", {1, 1, 1, nan}},
        {"infinite pivot", {inf, 1, 1, 1}},
    };
    for (const Case &c : cases) {
        MArray<double, 2> a = matrix(2, c.a);
        MArray<double, 1> b = doubles({1, 1});
        EXPECT_EQ(-1, gaussj(a, 2, b)) << c.what;
    }
    MArray<double, 2> empty(0, 0);
    MArray<double, 1> none(0);
    EXPECT_EQ(0, gaussj(empty, 0, none));
}

TEST(Gaussj, EqualMagnitudes)
{
    MArray<double, 2> a = matrix(2, {1, 1, 1, -1});
    MArray<double, 1> b = doubles({3, 1});
    ASSERT_EQ(0, gaussj(a, 2, b));
    EXPECT_DOUBLE_EQ(2.0, b(1));
    EXPECT_DOUBLE_EQ(1.0, b(2));
}

TEST(Poly2d, RecoversSurfacesOfEveryOverload)
{
    // Points on z = 2 + 3x - y + 0.5xy - 0.25y^2 over a small grid.
    const int side = 6, n = side * side;
    MArray<double, 1> x(n), y(n), z(n), w(n);
    MArray<float, 1> xf(n), yf(n), zf(n), wf(n);
    int k = 1;
    for (int i = 1; i <= side; ++i)
        for (int j = 1; j <= side; ++j, ++k) {
            x(k) = i;
            y(k) = j;
            z(k) = 2 + 3.0 * i - j + 0.5 * i * j - 0.25 * j * j;
            w(k) = 0.5 + 0.1 * (k % 3);
            xf(k) = static_cast<float>(x(k));
            yf(k) = static_cast<float>(y(k));
            zf(k) = static_cast<float>(z(k));
            wf(k) = static_cast<float>(w(k));
        }
    // Order 2, k = 1 + l·3 + j for x^j·y^l.
    const double truth[9] = {2, 3, 0, -1, 0.5, 0, -0.25, 0, 0};
    MArray<double, 1> c;
    ASSERT_EQ(0, poly2d(x, y, z, w, 2, c));
    ASSERT_EQ(9, c.length(1));
    for (int i = 1; i <= 9; ++i)
        EXPECT_NEAR(truth[i - 1], c(i), 1e-9) << i;
    ASSERT_EQ(0, poly2d(x, y, z, 2, c));
    for (int i = 1; i <= 9; ++i)
        EXPECT_NEAR(truth[i - 1], c(i), 1e-9) << i;
    ASSERT_EQ(0, poly2d(xf, yf, zf, wf, 2, c));
    for (int i = 1; i <= 9; ++i)
        EXPECT_NEAR(truth[i - 1], c(i), 1e-4) << i;
    ASSERT_EQ(0, poly2d(xf, yf, zf, 2, c));
    for (int i = 1; i <= 9; ++i)
        EXPECT_NEAR(truth[i - 1], c(i), 1e-4) << i;
}

TEST(Poly2d, OrderZeroIsTheWeightedMean)
{
    MArray<double, 1> x = doubles({1, 2, 3}), y = doubles({1, 1, 1}), z = doubles({1, 2, 4}),
                      w = doubles({1, 2, 0.5});
    MArray<double, 1> c;
    ASSERT_EQ(0, poly2d(x, y, z, w, 0, c));
    const double mean = (1 / 1.0 + 2 / 4.0 + 4 / 0.25) / (1 / 1.0 + 1 / 4.0 + 1 / 0.25);
    EXPECT_NEAR(mean, c(1), 1e-12);
}

TEST(Poly2d, PlaneOfOrderOne)
{
    MArray<double, 1> x = doubles({1, 2, 1, 2, 3}), y = doubles({1, 1, 2, 2, 5}), z(5);
    for (int k = 1; k <= 5; ++k)
        z(k) = 2 + 3 * x(k) - y(k);
    MArray<double, 1> c;
    ASSERT_EQ(0, poly2d(x, y, z, 1, c));
    const double truth[4] = {2, 3, -1, 0};
    for (int i = 1; i <= 4; ++i)
        EXPECT_NEAR(truth[i - 1], c(i), 1e-10);
}

TEST(Poly2d, WithoutPointsTheSystemIsSingularAndTheCoefficientsZero)
{
    MArray<double, 1> none(0);
    MArray<double, 1> c;
    EXPECT_EQ(-1, poly2d(none, none, none, none, 1, c));
    ASSERT_EQ(4, c.length(1));
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(0.0, c(i));
}

TEST(Poly2d, RefusesANegativeOrderAndArraysOfDifferentLengths)
{
    // Either would have read or written past the end of an array.
    MArray<double, 1> x = doubles({1, 2, 3}), y = doubles({1, 2, 3}), z = doubles({1, 2, 3}),
                      shorter = doubles({1, 2});
    MArray<float, 1> xf(3), zf(3), shorterf(2);
    xf = 1.0f;
    zf = 1.0f;
    shorterf = 1.0f;
    MArray<double, 1> c;
    EXPECT_THROW(poly2d(x, y, z, -1, c), SkyError);
    EXPECT_THROW(poly2d(x, shorter, z, 1, c), SkyError);
    EXPECT_THROW(poly2d(x, y, shorter, 1, c), SkyError);
    EXPECT_THROW(poly2d(x, y, z, shorter, 1, c), SkyError);
    EXPECT_THROW(poly2d(xf, shorterf, zf, 0, c), SkyError);
}

TEST(ScaledSurface, RefusesANegativeOrder)
{
    EXPECT_THROW(ScaledSurface(-1, 4, 4), SkyError);
}

TEST(ScaledSurface, RecoversThePowersOfAnExactSurface)
{
    // z = sum of c(a, b)·x^b·y^a over a 40 x 30 grid, every term worth a few
    // units; points row by row (not column by column) and unequal errors.
    const int nx = 40, ny = 30;
    for (int n = 0; n <= 4; ++n) {
        std::vector<double> c((n + 1) * (n + 1));
        for (int a = 0; a <= n; ++a)
            for (int b = 0; b <= n; ++b)
                c[a * (n + 1) + b] =
                    ((a + 2 * b) % 3 - 1 + 0.5) * 3 / (std::pow(nx, b) * std::pow(ny, a));
        const auto truth = [&](int x, int y) {
            double v = 0;
            for (int a = 0; a <= n; ++a)
                for (int b = 0; b <= n; ++b)
                    v += c[a * (n + 1) + b] * std::pow(x, b) * std::pow(y, a);
            return v;
        };
        std::vector<double> x, y, z, w;
        for (int j = 1; j <= ny; ++j)
            for (int i = 1; i <= nx; ++i) {
                x.push_back(i);
                y.push_back(j);
                z.push_back(truth(i, j));
                w.push_back(0.5 + 0.25 * ((i + j) % 3));
            }
        ScaledSurface s(n, nx, ny);
        ASSERT_EQ(0, s.fit(x.data(), y.data(), z.data(), w.data(), static_cast<long>(x.size())))
            << n;
        EXPECT_LT(s.condition(), 100) << n;
        const std::vector<double> p = s.powers();
        for (std::size_t k = 0; k < c.size(); ++k)
            EXPECT_NEAR(c[k], p[k], 1e-9 * std::fabs(c[k])) << n << " " << k;
        std::vector<float> row(nx);
        for (int j = 1; j <= ny; ++j) {
            s.row(j, row.data());
            for (int i = 1; i <= nx; ++i)
                ASSERT_NEAR(truth(i, j), row[i - 1], 1e-5) << n << " " << i << "," << j;
        }
    }
    // Points in two columns fix no curve in x: singular or refused.
    const double x[] = {1, 1, 1, 2, 2, 2}, y[] = {1, 2, 3, 1, 2, 3}, z[] = {1, 2, 3, 4, 5, 6},
                 w[] = {1, 1, 1, 1, 1, 1};
    ScaledSurface s(2, 5, 3);
    EXPECT_NE(0, s.fit(x, y, z, w, 6));
    EXPECT_EQ(0.0, s.bound()); // unchanged
}

TEST(Poly, StraightLineAndParabola)
{
    MArray<double, 1> x = doubles({0, 1, 2, 3, 4}), y(5), err = doubles({1, 1, 2, 1, 1});
    for (int p = 1; p <= 5; ++p)
        y(p) = 2 + 3 * x(p);
    MArray<double, 1> line(orv::Range(0, 1));
    EXPECT_NEAR(0.0, poly(x, y, err, line, 1, 5), 1e-20);
    EXPECT_NEAR(3.0, line(0), 1e-12);
    EXPECT_NEAR(2.0, line(1), 1e-12);

    for (int p = 1; p <= 5; ++p)
        y(p) = 1 - x(p) + 0.5 * x(p) * x(p);
    MArray<double, 1> parabola(orv::Range(0, 2));
    EXPECT_NEAR(0.0, poly(x, y, err, parabola, 2, 5), 1e-20);
    EXPECT_NEAR(0.5, parabola(0), 1e-12);
    EXPECT_NEAR(-1.0, parabola(1), 1e-12);
    EXPECT_NEAR(1.0, parabola(2), 1e-12);

    // One point off by 2 with error 2: chi²/N stays below (2/2)²/5, part of the
    // offset being absorbed by the fit.
    y(3) += 2;
    const double chi = poly(x, y, err, parabola, 2, 5);
    EXPECT_GT(chi, 0.0);
    EXPECT_LT(chi, 1.0 / 5);
}

TEST(Poly, RefusesArraysThatLackThePointsOrTheCoefficients)
{
    // Each would have read or written past the end of an array.
    const MArray<double, 1> five = doubles({1, 1, 2, 3, 4}), four = doubles({1, 1, 2, 3}),
                            fromTwo = doubles({1, 1, 2, 3, 4}, 2);
    struct Case {
        const char *why;
        MArray<double, 1> x, y, err;
        orv::Range c;
        int order, N;
    };
    for (const Case &k : {Case{"x short", four, five, five, orv::Range(0, 1), 1, 5},
                          Case{"y short", five, four, five, orv::Range(0, 1), 1, 5},
                          Case{"err short", five, five, four, orv::Range(0, 1), 1, 5},
                          Case{"x from 2", fromTwo, five, five, orv::Range(0, 1), 1, 5},
                          Case{"c lacks the last", five, five, five, orv::Range(0, 1), 2, 5},
                          Case{"c from 1", five, five, five, orv::Range(1, 2), 1, 5},
                          Case{"negative order", five, five, five, orv::Range(0, 1), -1, 5}}) {
        SCOPED_TRACE(k.why);
        MArray<double, 1> c(k.c);
        c = 7.0;
        EXPECT_THROW(poly(k.x, k.y, k.err, c, k.order, k.N), SkyError);
        for (int i = c.firstIndex(1); i <= c.lastIndex(1); ++i)
            EXPECT_EQ(7.0, c(i));
    }
    // Fewer points than the arrays hold is fine.
    MArray<double, 1> line(orv::Range(0, 1));
    EXPECT_NEAR(0.0, poly(five, five, five, line, 1, 3), 1e-20);
    EXPECT_NEAR(1.0, line(0), 1e-12);
    EXPECT_NEAR(0.0, line(1), 1e-12);
}
