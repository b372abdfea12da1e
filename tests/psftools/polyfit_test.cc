#include "psftools/polyfit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>

#include "common/arrays.h"

using namespace test_common;
using orv::MArray;

namespace {

// A 5 x 4 grid of points with values f(x, y) and errors 0.5 + 0.1·i.
struct Grid {
    MArray<double, 1> x{20}, y{20}, z{20}, w{20};
    template <class F>
    explicit Grid(F f)
    {
        int i = 1;
        for (int ix = 0; ix < 5; ++ix)
            for (int iy = 0; iy < 4; ++iy, ++i) {
                x(i) = -1.0 + 0.5 * ix;
                y(i) = 0.3 * iy - 0.2;
                z(i) = f(x(i), y(i));
                w(i) = 0.5 + 0.1 * i;
            }
    }
};

} // namespace

TEST(Poly2dNomix, ExactSurfacesComeBack)
{
    MArray<double, 1> c = doubles({99});
    Grid plane([](double x, double y) { return 1 + 2 * x + 3 * y; });
    ASSERT_EQ(0, poly2d_nomix(plane.x, plane.y, plane.z, plane.w, 1, c));
    ASSERT_EQ(1, c.firstIndex(1));
    ASSERT_EQ(3, c.lastIndex(1));
    EXPECT_NEAR(1.0, c(1), 1e-12);
    EXPECT_NEAR(2.0, c(2), 1e-12);
    EXPECT_NEAR(3.0, c(3), 1e-12);

    // Terms of order 2: 1, x, x², y, x·y, y².
    Grid quadric(
        [](double x, double y) { return 0.5 - x + 4 * x * x + 2 * y + 3 * x * y - y * y; });
    ASSERT_EQ(0, poly2d_nomix(quadric.x, quadric.y, quadric.z, quadric.w, 2, c));
    ASSERT_EQ(6, c.lastIndex(1));
    const double expected[] = {0.5, -1, 4, 2, 3, -1};
    for (int t = 1; t <= 6; ++t)
        EXPECT_NEAR(expected[t - 1], c(t), 1e-11) << t;
}

TEST(Poly2dNomix, OrderZeroIsTheWeightedMean)
{
    Grid g([](double x, double y) { return x * x - y; });
    double s = 0, t = 0;
    for (int i = 1; i <= 20; ++i) {
        s += 1 / (g.w(i) * g.w(i));
        t += g.z(i) / (g.w(i) * g.w(i));
    }
    MArray<double, 1> c;
    ASSERT_EQ(0, poly2d_nomix(g.x, g.y, g.z, g.w, 0, c));
    ASSERT_EQ(1, c.lastIndex(1));
    EXPECT_NEAR(t / s, c(1), 1e-13);
}

TEST(Poly2dNomix, RefusesAZeroErrorAndReportsASingularSystem)
{
    Grid g([](double x, double y) { return x + y; });
    g.w(7) = 0;
    MArray<double, 1> c;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, poly2d_nomix(g.x, g.y, g.z, g.w, 1, c));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("error 0 at point 7"));
    ASSERT_EQ(3, c.lastIndex(1));
    for (int t = 1; t <= 3; ++t)
        EXPECT_EQ(0.0, c(t));

    // Lists shorter than x are refused the same way.
    g.w(7) = 1;
    MArray<double, 1> shortZ(19);
    shortZ = 1.0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, poly2d_nomix(g.x, g.y, shortZ, g.w, 1, c));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("points 1..20"));
    ASSERT_EQ(3, c.lastIndex(1));
    EXPECT_EQ(0.0, c(1));
    // So is an x that lacks point 1 (its indices 2..21), the others 1..21.
    MArray<double, 1> lateX(orv::Range(2, 21)), y21(21), z21(21), w21(21);
    lateX = 0.5;
    y21 = 0.5;
    z21 = 1.0;
    w21 = 1.0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, poly2d_nomix(lateX, y21, z21, w21, 1, c));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("points 1..21"));
    EXPECT_EQ(0.0, c(1));

    // A negative order has no terms: refused, not a crash.
    for (const int order : {-1, -2, -5}) {
        c.makeReference(doubles({9}));
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, poly2d_nomix(g.x, g.y, g.z, g.w, order, c)) << order;
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("negative"));
        EXPECT_EQ(0, c.elementCount()) << order;
    }

    // Two points cannot fix three coefficients.
    MArray<double, 1> x = doubles({0, 1}), y = doubles({0, 1}), z = doubles({1, 2}),
                      w = doubles({1, 1});
    EXPECT_EQ(-1, poly2d_nomix(x, y, z, w, 1, c));
}

TEST(Fitconst, WeightedMeanErrorAndScatter)
{
    struct Case {
        MArray<double, 1> y, e;
        int status;
        double mean, error, scatter;
    };
    Case cases[] = {
        {doubles({1, 2, 3}), doubles({1, 1, 1}), 0, 2.0, std::sqrt(1.0 / 3), 1.0},
        {doubles({1, 2}), doubles({1, 0}), 0, 1.0, 1.0, 0.0},
        {doubles({5, 7, 100}), doubles({1, 2, -1}), 0, (5 + 7 / 4.0) / 1.25, std::sqrt(1 / 1.25),
         std::sqrt(std::pow(5 - 5.4, 2) + std::pow(7 - 5.4, 2) / 4)},
        {doubles({4, 4}), doubles({0, std::nan("")}), -1, 0.0, 0.0, 0.0},
        // Errors for only some of the values: refused, nothing read beyond.
        {doubles({1, 2, 3}), doubles({1, 1}), -1, 0.0, 0.0, 0.0},
        // Values without value 1: refused as well.
        {doubles({1, 2}, 2), doubles({1, 1, 1}), -1, 0.0, 0.0, 0.0},
    };
    for (Case &c : cases) {
        double mean = -9, error = -9, scatter = -9;
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.status, fitconst(c.y, c.e, mean, error, scatter));
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_NEAR(c.mean, mean, 1e-14);
        EXPECT_NEAR(c.error, error, 1e-14);
        EXPECT_NEAR(c.scatter, scatter, 1e-14);
        // A zero error is named; a negative one marks a masked value.
        bool zero = false;
        for (int i = 1; i <= c.e.lastIndex(1); ++i)
            zero |= c.e(i) == 0;
        EXPECT_EQ(zero, message.find("error 0") != std::string::npos) << message;
    }
}
