#include "dornel/spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

using orv::MArray;
using orv::Range;

namespace {

MArray<double, 1> table(int base, std::initializer_list<double> values)
{
    MArray<double, 1> t(Range(base, base + static_cast<int>(values.size()) - 1));
    int i = base;
    for (double v : values)
        t(i++) = v;
    return t;
}

MArray<double, 1> like(const MArray<double, 1> &t)
{
    MArray<double, 1> a(Range(t.firstIndex(1), t.lastIndex(1)));
    a = -7.0;
    return a;
}

} // namespace

TEST(Spline, WorkedValuesOnTablesOfAnyBase)
{
    for (int base : {1, 0, -3, 5}) {
        const MArray<double, 1> x = table(base, {1, 2, 3}), y = table(base, {0, 1, 0});
        MArray<double, 1> y2 = like(x);
        ASSERT_EQ(0, spline(x, y, 1e30, 1e30, y2)) << base;
        EXPECT_DOUBLE_EQ(0.0, y2(base));
        EXPECT_DOUBLE_EQ(-3.0, y2(base + 1));
        EXPECT_DOUBLE_EQ(0.0, y2(base + 2));
        struct Case {
            double x, value;
        };
        for (const Case &c :
             {Case{1.5, 0.6875}, Case{2, 1}, Case{4, -1}, Case{1, 0}, Case{0, -1}}) {
            double v = 99;
            EXPECT_EQ(0, splint(v, c.x, x, y, y2)) << base << " " << c.x;
            EXPECT_DOUBLE_EQ(c.value, v) << base << " " << c.x;
        }
    }
}

TEST(Spline, EndSlopesAndStraightLines)
{
    // Two points with natural ends: a straight line, also outside.
    const MArray<double, 1> x = table(1, {2, 4}), y = table(1, {1, 5});
    MArray<double, 1> y2 = like(x);
    ASSERT_EQ(0, spline(x, y, 1e30, 1e30, y2));
    EXPECT_EQ(0.0, y2(1));
    EXPECT_EQ(0.0, y2(2));
    double v = 0;
    ASSERT_EQ(0, splint(v, 3.5, x, y, y2));
    EXPECT_DOUBLE_EQ(4.0, v);
    ASSERT_EQ(0, splint(v, 10, x, y, y2));
    EXPECT_DOUBLE_EQ(17.0, v);

    // Clamped ends reproduce a cubic exactly: y = x³ with y'(0) = 0, y'(3) = 27.
    const MArray<double, 1> xc = table(1, {0, 1, 2, 3}), yc = table(1, {0, 1, 8, 27});
    MArray<double, 1> y2c = like(xc);
    ASSERT_EQ(0, spline(xc, yc, 0.0, 27.0, y2c));
    for (double t : {0.25, 1.5, 2.9}) {
        ASSERT_EQ(0, splint(v, t, xc, yc, y2c));
        EXPECT_NEAR(t * t * t, v, 1e-12) << t;
    }
    // 9.9e29 is still a slope; only larger values select a natural end.
    MArray<double, 1> slope = like(xc), natural = like(xc);
    spline(xc, yc, 9.9e29, 27.0, slope);
    spline(xc, yc, 9.90000001e29, 27.0, natural);
    EXPECT_NE(0.0, slope(1));
    EXPECT_EQ(0.0, natural(1));
}

TEST(Spline, UnusableTablesGiveAStatus)
{
    double v = 5;
    MArray<double, 1> y2(Range(1, 3));
    struct Case {
        const char *what;
        MArray<double, 1> x;
    };
    const Case cases[] = {
        {"one point", table(1, {1})},
        {"no point", MArray<double, 1>(0)},
        {"equal abscissae", table(1, {1, 1, 2})},
        {"decreasing", table(1, {3, 2, 1})},
        {"NaN abscissa", table(1, {1, std::numeric_limits<double>::quiet_NaN(), 3})},
    };
    for (const Case &c : cases) {
        const MArray<double, 1> y = table(1, {1, 2, 3});
        EXPECT_EQ(1, spline(c.x, y, 1e30, 1e30, y2)) << c.what;
    }
    // y2 not covering the table, y not covering it.
    const MArray<double, 1> x = table(1, {1, 2, 3}), y = table(1, {1, 2, 3}),
                            shortY = table(1, {1, 2});
    MArray<double, 1> shortY2(Range(2, 3));
    EXPECT_EQ(1, spline(x, y, 1e30, 1e30, shortY2));
    EXPECT_EQ(1, spline(x, shortY, 1e30, 1e30, y2));
    EXPECT_EQ(1, splint(v, 1.5, x, shortY, y2));
    // A zero-width interval around x, and tables of fewer than two points.
    // (Below the table the first interval is used; here it has no width.)
    const MArray<double, 1> twice = table(1, {1, 1, 2, 3}), ys = table(1, {0, 1, 1, 0}),
                            zeros = table(1, {0, 0, 0, 0});
    EXPECT_EQ(1, splint(v, 0.5, twice, ys, zeros));
    EXPECT_EQ(0, splint(v, 1.5, twice, ys, zeros));
    v = 5;
    EXPECT_EQ(1, splint(v, 1, table(1, {1}), table(1, {4}), table(1, {0})));
    EXPECT_EQ(1, splint(v, 1, MArray<double, 1>(0), MArray<double, 1>(0), MArray<double, 1>(0)));
    EXPECT_EQ(5.0, v); // a failed evaluation leaves the value alone
}

namespace {

// A grid over x1 = 0, 2, 5, 6 (indices -1..2) and x2 = 1, 2, 4 (indices 3..5).
struct Grid {
    MArray<double, 1> x1a = table(-1, {0, 2, 5, 6}), x2a = table(3, {1, 2, 4});
    MArray<double, 2> ya{Range(-1, 2), Range(3, 5)}, y2a{Range(-1, 2), Range(3, 5)};
    template <class F>
    explicit Grid(F f)
    {
        for (int i = -1; i <= 2; ++i)
            for (int j = 3; j <= 5; ++j)
                ya(i, j) = f(x1a(i), x2a(j));
        y2a = 0.0;
    }
};

} // namespace

TEST(Splin2, ReproducesBilinearSurfacesAndEqualsItsTwoHalves)
{
    const auto f = [](double u, double v) { return 3 + 2 * u - 0.5 * v + 0.25 * u * v; };
    Grid g(f);
    ASSERT_EQ(0, splie2(g.x1a, g.x2a, g.ya, g.y2a));
    MArray<double, 1> ytmp, y2tmp;
    std::vector<double> values;
    std::vector<int> statuses;
    for (double x2 : {1.0, 1.5, 3.0, 4.0, 7.0, -2.0}) {
        ASSERT_EQ(0, splin2_rows(ytmp, y2tmp, x2, g.x1a, g.x2a, g.ya, g.y2a));
        ASSERT_EQ(0, splint_ascending(values, statuses, -3, 9, g.x1a, ytmp, y2tmp));
        for (int x1 = -3; x1 <= 9; ++x1) {
            double v = 0;
            ASSERT_EQ(0, splin2(v, x1, x2, g.x1a, g.x2a, g.ya, g.y2a));
            EXPECT_NEAR(f(x1, x2), v, 1e-12) << x1 << "," << x2;
            EXPECT_EQ(v, values[x1 + 3]) << x1 << "," << x2; // bit for bit
        }
    }
    // Curvature along x2 is interpolated, not reproduced, but the nodes are.
    Grid curved([](double u, double v) { return u * u + v * v * v; });
    ASSERT_EQ(0, splie2(curved.x1a, curved.x2a, curved.ya, curved.y2a));
    for (int i = -1; i <= 2; ++i)
        for (int j = 3; j <= 5; ++j) {
            double v = 0;
            ASSERT_EQ(0, splin2(v, curved.x1a(i), curved.x2a(j), curved.x1a, curved.x2a, curved.ya,
                                curved.y2a));
            EXPECT_NEAR(curved.ya(i, j), v, 1e-12);
        }
}

TEST(Splin2, RepeatedAbscissaeCountOncePerRow)
{
    Grid g([](double u, double v) { return u + v; });
    g.x2a(4) = g.x2a(3);                             // x2 = 1, 1, 4
    EXPECT_EQ(4, splie2(g.x1a, g.x2a, g.ya, g.y2a)); // every row's spline refuses
    double v = 0;
    // Below x2 = 1 every row's splint meets the zero-width first interval.
    EXPECT_EQ(4, splin2(v, 2, 0.5, g.x1a, g.x2a, g.ya, g.y2a));
    EXPECT_EQ(0, splin2(v, 2, 2, g.x1a, g.x2a, g.ya, g.y2a));

    // splint_ascending on a table that does not increase gives per-point statuses.
    const MArray<double, 1> x = table(1, {1, 1, 3, 5}), y = table(1, {1, 2, 3, 4}),
                            y2 = table(1, {0, 0, 0, 0});
    std::vector<double> values;
    std::vector<int> statuses;
    EXPECT_EQ(1, splint_ascending(values, statuses, 0, 5, x, y, y2));
    EXPECT_EQ((std::vector<int>{1, 0, 0, 0, 0, 0}), statuses);
    EXPECT_EQ(0.0, values[0]);
}
