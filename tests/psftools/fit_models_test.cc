#include "psftools/fit_models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>

#include "common/arrays.h"

using namespace test_common;
using orv::MArray;

namespace {

MArray<int, 1> allFree(int n)
{
    MArray<int, 1> ia(n);
    ia = 1;
    return ia;
}

// A square stamp of pixels -10..10 on both axes, flattened to points.
struct Stamp {
    MArray<double, 1> x{441}, y{441}, z{441}, s{441};
    Stamp()
    {
        int i = 1;
        for (int ix = -10; ix <= 10; ++ix)
            for (int iy = -10; iy <= 10; ++iy, ++i) {
                x(i) = ix;
                y(i) = iy;
                z(i) = 0;
                s(i) = 1;
            }
    }
};

// The true profiles written out on their own, for the synthetic stamps.
double gaussProfile(const MArray<double, 1> &a, double x, double y)
{
    const double dx = x - a(5), dy = y - a(6);
    const double u = dx * std::cos(a(7)) + dy * std::sin(a(7)),
                 v = dy * std::cos(a(7)) - dx * std::sin(a(7));
    return a(1) + a(2) * std::exp(-(a(3) * u * u + a(4) * v * v));
}
double moffatProfile(const MArray<double, 1> &a, double x, double y)
{
    const double dx = x - a(5), dy = y - a(6);
    const double u = dx * std::cos(a(7)) + dy * std::sin(a(7)),
                 v = dy * std::cos(a(7)) - dx * std::sin(a(7));
    return a(1) + a(9) * x + a(10) * y +
           a(2) * std::pow(1 + std::pow(a(3) * u, 2) + std::pow(a(4) * v, 2), -a(8));
}

// su = 1.8, sv = 1.2 pixels along axes turned by 0.5 rad.
MArray<double, 1> gaussTruth()
{
    return doubles({10, 500, 1 / (2 * 1.8 * 1.8), 1 / (2 * 1.2 * 1.2), 0.3, -0.4, 0.5});
}
MArray<double, 1> moffatTruth()
{
    return doubles({20, 800, 0.4, 0.55, -0.2, 0.35, 0.3, 2.8, 0.5, -0.3});
}

// Fills the stamp from the profile; with a seed, adds noise of standard
// deviation sqrt(value) and sets the errors to it.
template <class Profile>
void render(Stamp &st, const MArray<double, 1> &truth, Profile profile, long seed)
{
    C_rangau noise(seed);
    for (int i = 1; i <= 441; ++i) {
        const double m = profile(truth, st.x(i), st.y(i));
        st.z(i) = m;
        if (seed == 0)
            continue;
        st.s(i) = std::sqrt(m);
        st.z(i) += st.s(i) * noise.eval();
    }
}

// Central differences of funcs against its analytic derivatives.
void checkDerivatives(marquardt &model, const MArray<double, 1> &a, double x, double y,
                      const std::string &what)
{
    const int n = a.lastIndex(1);
    MArray<double, 1> d(n), dummy(n), p(n);
    double f;
    ASSERT_EQ(0, model.funcs(x, y, a, f, d));
    for (int k = 1; k <= n; ++k) {
        const double h = 1e-5 * std::fmax(std::fabs(a(k)), 0.1);
        double fp, fm;
        p = a;
        p(k) = a(k) + h;
        model.funcs(x, y, p, fp, dummy);
        p(k) = a(k) - h;
        model.funcs(x, y, p, fm, dummy);
        const double numeric = (fp - fm) / (2 * h);
        EXPECT_NEAR(numeric, d(k),
                    1e-6 * std::fmax(1.0, std::fabs(f) / std::fmax(std::fabs(a(k)), 0.1)))
            << what << " d(" << k << ") at (" << x << ", " << y << ")";
    }
}

} // namespace

TEST(FitModels, GaussianValues)
{
    Stamp st;
    const MArray<double, 1> a = gaussTruth();
    Class_gauss_fit g(st.x, st.y, st.z, st.s, a, allFree(7));
    MArray<double, 1> d(7);
    double f;
    // At the centre the shape derivatives vanish.
    EXPECT_EQ(0, g.funcs(0.3, -0.4, a, f, d));
    EXPECT_DOUBLE_EQ(510.0, f);
    EXPECT_EQ(1.0, d(2));
    for (int k = 3; k <= 7; ++k)
        EXPECT_EQ(0.0, d(k));
    // Far out the exponent stops at -22 (here p·u² = 30).
    MArray<double, 1> far = doubles({1, 2, 0.3, 0.3, 0, 0, 0});
    g.funcs(10, 0, far, f, d);
    EXPECT_DOUBLE_EQ(1 + 2 * std::exp(-22.0), f);
    EXPECT_DOUBLE_EQ(-100 * 2 * std::exp(-22.0), d(3));
    // Turned by a right angle: u = dy, v = -dx.
    MArray<double, 1> turned = doubles({0, 1, 0.5, 0.1, 0, 0, std::acos(-1.0) / 2});
    g.funcs(1, 2, turned, f, d);
    EXPECT_NEAR(std::exp(-(0.5 * 4 + 0.1 * 1)), f, 1e-15);
}

TEST(FitModels, MoffatValues)
{
    Stamp st;
    Class_moffat_fit m(st.x, st.y, st.z, st.s, moffatTruth(), allFree(10));
    MArray<double, 1> d(10);
    double f;
    MArray<double, 1> a = doubles({3, 100, 1, 1, 2, 1, 0.2, 2.5, 0.5, -0.25});
    // Distance 1 from the centre: r = 2.
    const double x = 2 + std::cos(0.7), y = 1 + std::sin(0.7);
    EXPECT_EQ(0, m.funcs(x, y, a, f, d));
    EXPECT_NEAR(0.5 * x + 3 - 0.25 * y + 100 * std::pow(2.0, -2.5), f, 1e-12);
    // beta = 100 at r = 20: t = 131, only the plane is left.
    a(8) = 100;
    const double far = std::sqrt(19.0);
    EXPECT_EQ(0, m.funcs(2 + far, 1, a, f, d));
    EXPECT_DOUBLE_EQ(0.5 * (2 + far) + 3 - 0.25, f);
    EXPECT_EQ(1.0, d(1));
    for (int k = 2; k <= 8; ++k)
        EXPECT_EQ(0.0, d(k));
    EXPECT_EQ(2 + far, d(9));
    EXPECT_EQ(1.0, d(10));
    // beta = -3 at r = 1e60: the profile would be 1e120; funcs fails and
    // leaves f and d alone.
    a(8) = -3;
    f = 42;
    d = 7.0;
    EXPECT_EQ(-1, m.funcs(2 + 1e30, 1, a, f, d));
    EXPECT_EQ(42.0, f);
    for (int k = 1; k <= 10; ++k)
        EXPECT_EQ(7.0, d(k));
}

TEST(FitModels, ShortParameterListsAreRefused)
{
    // Three slots short: nothing is read or written past the lists' ends.
    Stamp st;
    for (const bool gauss : {true, false}) {
        const int needs = gauss ? 7 : 10;
        SCOPED_TRACE(gauss ? "gauss" : "moffat");
        const MArray<double, 1> start =
            gauss ? doubles({8, 400, 0.12, 0.3}) : doubles({15, 700, 0.35, 0.5, 0, 0, 0.25});
        testing::internal::CaptureStderr();
        std::unique_ptr<marquardt> fit;
        if (gauss)
            fit.reset(new Class_gauss_fit(st.x, st.y, st.z, st.s, start, allFree(needs - 3)));
        else
            fit.reset(new Class_moffat_fit(st.x, st.y, st.z, st.s, start, allFree(needs - 3)));
        EXPECT_EQ(std::string(gauss ? "Class_gauss_fit" : "Class_moffat_fit") + ": the model has " +
                      std::to_string(needs) + " parameters, a holds " + std::to_string(needs - 3) +
                      "\n",
                  testing::internal::GetCapturedStderr());
        EXPECT_EQ(-1, fit->calc());
        EXPECT_TRUE(std::isnan(fit->chisq));
        for (int k = 1; k <= needs - 3; ++k)
            EXPECT_EQ(start(k), fit->a(k));
        // Called directly: a full parameter list with short derivatives, and
        // the other way round.
        const MArray<double, 1> full = gauss ? gaussTruth() : moffatTruth();
        MArray<double, 1> shortD(needs - 1), d(needs);
        double f = 42;
        EXPECT_EQ(-1, fit->funcs(0.5, 0.5, full, f, shortD));
        EXPECT_EQ(-1, fit->funcs(0.5, 0.5, start, f, d));
        EXPECT_EQ(42.0, f);
    }
}

TEST(FitModels, AnalyticDerivativesMatchCentralDifferences)
{
    Stamp st;
    Class_gauss_fit g(st.x, st.y, st.z, st.s, gaussTruth(), allFree(7));
    Class_moffat_fit m(st.x, st.y, st.z, st.s, moffatTruth(), allFree(10));
    const double points[][2] = {{0.0, 0.0}, {1.3, -0.7}, {-2.2, 1.9}, {3.0, 2.5}, {-0.4, -3.1}};
    for (const auto &pt : points) {
        checkDerivatives(g, gaussTruth(), pt[0], pt[1], "gauss");
        checkDerivatives(g, doubles({-1, 3, 0.9, 0.05, 1, 2, -2.0}), pt[0], pt[1],
                         "gauss, elongated");
        checkDerivatives(m, moffatTruth(), pt[0], pt[1], "moffat");
        checkDerivatives(m, doubles({0, 50, 1.2, 0.3, 0.5, -1, 2.2, 1.3, 0, 0}), pt[0], pt[1],
                         "moffat, elongated");
    }
}

TEST(FitModels, NoiselessStampsGiveBackTheirParameters)
{
    struct Case {
        std::string name;
        MArray<double, 1> truth, start;
    };
    Case cases[] = {
        {"gauss", gaussTruth(), doubles({8, 400, 0.12, 0.3, 0, 0, 0.4})},
        {"moffat", moffatTruth(), doubles({15, 700, 0.35, 0.5, 0, 0, 0.25, 2.5, 0, 0})},
    };
    for (Case &c : cases) {
        Stamp st;
        const bool gauss = c.name == "gauss";
        if (gauss)
            render(st, c.truth, gaussProfile, 0);
        else
            render(st, c.truth, moffatProfile, 0);
        const int n = c.truth.lastIndex(1);
        std::unique_ptr<marquardt> fit;
        if (gauss)
            fit.reset(new Class_gauss_fit(st.x, st.y, st.z, st.s, c.start, allFree(n)));
        else
            fit.reset(new Class_moffat_fit(st.x, st.y, st.z, st.s, c.start, allFree(n)));
        fit->maxiter = 1000;
        EXPECT_EQ(0, fit->calc()) << c.name;
        EXPECT_LT(fit->chisq, 1e-8) << c.name;
        for (int k = 1; k <= n; ++k)
            EXPECT_NEAR(c.truth(k), fit->a(k), 1e-7 * std::fmax(1.0, std::fabs(c.truth(k))))
                << c.name << " a" << k;
    }
}

TEST(FitModels, NoisyStampsGiveBackTheirParametersWithinErrors)
{
    for (long seed : {3L, 11L, 29L}) {
        Stamp gs, ms;
        render(gs, gaussTruth(), gaussProfile, seed);
        render(ms, moffatTruth(), moffatProfile, seed);
        Class_gauss_fit g(gs.x, gs.y, gs.z, gs.s, doubles({8, 400, 0.12, 0.3, 0, 0, 0.4}),
                          allFree(7));
        Class_moffat_fit m(ms.x, ms.y, ms.z, ms.s,
                           doubles({15, 700, 0.35, 0.5, 0, 0, 0.25, 2.5, 0, 0}), allFree(10));
        for (marquardt *fit : {static_cast<marquardt *>(&g), static_cast<marquardt *>(&m)}) {
            const MArray<double, 1> truth = fit == &g ? gaussTruth() : moffatTruth();
            const std::string name =
                (fit == &g ? "gauss seed " : "moffat seed ") + std::to_string(seed);
            fit->maxiter = 1000;
            EXPECT_EQ(0, fit->calc()) << name;
            // Errors are right: chi² per degree of freedom near 1.
            EXPECT_NEAR(1.0, fit->rms_dof, 0.15) << name;
            for (int k = 1; k <= truth.lastIndex(1); ++k) {
                EXPECT_GT(fit->sa(k), 0.0) << name << " a" << k;
                EXPECT_LT(std::fabs(fit->a(k) - truth(k)), 4 * fit->sa(k)) << name << " a" << k;
            }
        }
    }
}
