// Gauss-Jordan, covariance re-expansion, Jacobi, ln Gamma, incomplete gamma
// function and Ridders' derivative.
#include "numerics/nrutil.h"
#include "numerics/numrec.h"

#include "common/fatal.h"
#include "nr_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using nrtest::DMat;

// Random symmetric positive definite matrix: B*B^T + n*I.
void random_spd(DMat &s, std::mt19937 &gen)
{
    const int n = s.n;
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<double> b(size_t(n) * n);
    for (double &x : b)
        x = u(gen);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) {
            double sum = i == j ? n : 0.0;
            for (int k = 0; k < n; k++)
                sum += b[(i - 1) * n + k] * b[(j - 1) * n + k];
            s[i][j] = sum;
        }
}

TEST(Gaussj, SwapsRowsOfAPermutationMatrix)
{
    DMat a(2, 2), b(2, 1);
    a[1][1] = 0, a[1][2] = 1, a[2][1] = 1, a[2][2] = 0;
    b[1][1] = 2, b[2][1] = 3;
    gaussj(a.a, 2, b.a, 1);
    EXPECT_EQ(a[1][1], 0.0);
    EXPECT_EQ(a[1][2], 1.0);
    EXPECT_EQ(a[2][1], 1.0);
    EXPECT_EQ(a[2][2], 0.0);
    EXPECT_EQ(b[1][1], 3.0);
    EXPECT_EQ(b[2][1], 2.0);
}

// Inverse and solutions checked by multiplying back with the original.
TEST(Gaussj, InvertsAndSolvesRandomSpdSystems)
{
    std::mt19937 gen(42);
    for (int n = 1; n <= 10; n++) {
        DMat a(n, n), orig(n, n), b(n, 3), borig(n, 3);
        random_spd(a, gen);
        std::uniform_real_distribution<double> u(-5, 5);
        for (int i = 1; i <= n; i++) {
            for (int j = 1; j <= n; j++)
                orig[i][j] = a[i][j];
            for (int j = 1; j <= 3; j++)
                borig[i][j] = b[i][j] = u(gen);
        }
        gaussj(a.a, n, b.a, 3);
        for (int i = 1; i <= n; i++) {
            for (int j = 1; j <= n; j++) {
                double s = 0;
                for (int k = 1; k <= n; k++)
                    s += orig[i][k] * a[k][j];
                EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12) << n;
            }
            for (int j = 1; j <= 3; j++) {
                double s = 0;
                for (int k = 1; k <= n; k++)
                    s += orig[i][k] * b[k][j];
                EXPECT_NEAR(s, borig[i][j], 1e-11) << n;
            }
        }
    }
}

// Among pivots of equal magnitude the last in row-major order is taken,
// which decides the rounding.  The expected bits come from an emulation of
// the elimination with that rule, gaussj_ties.py beside this file, which
// also checks them against the exact rational inverse; taking the first of
// equal candidates instead changes eight of the twelve results in their
// last bits.
TEST(Gaussj, TiesGoToTheLastCandidateInRowMajorOrder)
{
    DMat a(3, 3), b(3, 1);
    const double in[3][3] = {{1.3, 3.0, 0.7}, {2.9, 3.0, 0.3}, {-3.0, 3.0, -0.9}};
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++)
            a[i][j] = in[i - 1][j - 1];
    b[1][1] = 1.0, b[2][1] = 0.5, b[3][1] = -2.0;
    gaussj(a.a, 3, b.a, 1);
    const double inv[3][3] = {{-0x1.1f1a515885fb3p-2, 0x1.7ecdc1cb5d4efp-2, -0x1.7ecdc1cb5d4eep-4},
                              {0x1.10bf66e0e5aebp-3, 0x1.28ac42fd9b838p-4, 0x1.0595224af73a3p-3},
                              {0x1.60e5aea77a04dp+0, -0x1.01323e34a2b11p+0, -0x1.7ecdc1cb5d4f1p-2}};
    const double sol[3] = {0x1.7ecdc1cb5d4e8p-4, -0x1.607f99eb43c98p-4, 0x1.9fb37072d753ep+0};
    for (int i = 1; i <= 3; i++) {
        for (int j = 1; j <= 3; j++)
            EXPECT_EQ(a[i][j], inv[i - 1][j - 1]) << i << "," << j;
        EXPECT_EQ(b[i][1], sol[i - 1]) << i;
    }
}

// A system of no equations touches neither matrix, and is not singular.
TEST(Gaussj, EmptySystemReturnsAtOnce)
{
    gaussj(nullptr, 0, nullptr, 0);
    DMat a(1, 1), b(1, 1);
    a[1][1] = 7;
    b[1][1] = -3;
    gaussj(a.a, 0, b.a, 0);
    EXPECT_EQ(a[1][1], 7.0);
    EXPECT_EQ(b[1][1], -3.0);
}

TEST(Gaussj, SingularAndNonFiniteMatricesAreFatal)
{
    auto run = [](double a11, double a12, double a21, double a22) {
        DMat a(2, 2), b(2, 1);
        a[1][1] = a11, a[1][2] = a12, a[2][1] = a21, a[2][2] = a22;
        b[1][1] = b[2][1] = 1;
        gaussj(a.a, 2, b.a, 1);
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_NRERROR(run(1, 2, 1, 2), "gaussj: Singular Matrix-[12]");
    EXPECT_NRERROR(run(0, 0, 0, 0), "gaussj: Singular Matrix-2");
    EXPECT_NRERROR(run(nan, nan, nan, nan), "gaussj: Singular Matrix-2");
    EXPECT_NRERROR(run(inf, 1, 1, 1), "gaussj: Singular Matrix-2");
    EXPECT_NRERROR(run(1, 1, 1, nan), "gaussj: Singular Matrix-2");

    // The same systems, for a caller that goes on: the reason, and no end.
    auto solve = [](double a11, double a12, double a21, double a22) {
        DMat a(2, 2), b(2, 1);
        a[1][1] = a11, a[1][2] = a12, a[2][1] = a21, a[2][2] = a22;
        b[1][1] = b[2][1] = 1;
        const char *why = gaussj_solve(a.a, 2, b.a, 1);
        return std::string(why ? why : "");
    };
    EXPECT_EQ(solve(1, 2, 1, 2).rfind("gaussj: Singular Matrix-", 0), 0u);
    for (auto why :
         {solve(0, 0, 0, 0), solve(nan, nan, nan, nan), solve(inf, 1, 1, 1), solve(1, 1, 1, nan)})
        EXPECT_EQ(why, "gaussj: Singular Matrix-2");
    EXPECT_EQ(solve(2, 1, 1, 3), "");
}

TEST(Covsrt, SpreadsTheFittedBlockOverAllSlots)
{
    DMat c(3, 3);
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++)
            c[i][j] = 99;
    c[1][1] = 1, c[1][2] = 2, c[2][1] = 2, c[2][2] = 4;
    int ia[4] = {0, 1, 0, 1};
    covsrt(c.a, 3, ia, 2);
    const double want[3][3] = {{1, 0, 2}, {0, 0, 0}, {2, 0, 4}};
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++)
            EXPECT_EQ(c[i][j], want[i - 1][j - 1]) << i << "," << j;
}

TEST(Covsrt, MatchesTheFullCovarianceOfRandomMasks)
{
    std::mt19937 gen(5);
    const int ma = 8;
    for (int trial = 0; trial < 20; trial++) {
        int ia[ma + 1];
        std::vector<int> fitted;
        for (int j = 1; j <= ma; j++) {
            ia[j] = (gen() % 3 != 0) ? 1 : 0;
            if (ia[j])
                fitted.push_back(j);
        }
        const int mfit = int(fitted.size());
        DMat full(ma, ma), c(ma, ma);
        for (int i = 1; i <= ma; i++)
            for (int j = 1; j <= ma; j++)
                full[i][j] = (ia[i] && ia[j]) ? 10 * std::min(i, j) + std::max(i, j) : 0;
        for (int i = 1; i <= ma; i++)
            for (int j = 1; j <= ma; j++)
                c[i][j] = -1;
        for (int p = 0; p < mfit; p++)
            for (int q = 0; q < mfit; q++)
                c[p + 1][q + 1] = full[fitted[p]][fitted[q]];
        covsrt(c.a, ma, ia, mfit);
        for (int i = 1; i <= ma; i++)
            for (int j = 1; j <= ma; j++)
                EXPECT_EQ(c[i][j], full[i][j]) << trial << ": " << i << "," << j;
    }
}

TEST(Jacobi, DiagonalMatrixNeedsNoRotation)
{
    DMat a(3, 3), v(3, 3);
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++)
            a[i][j] = i == j ? 4.0 - i : 0.0;
    double d[4];
    int nrot = -1;
    jacobi(a.a, 3, d, v.a, &nrot);
    EXPECT_EQ(nrot, 0);
    for (int i = 1; i <= 3; i++) {
        EXPECT_EQ(d[i], 4.0 - i);
        for (int j = 1; j <= 3; j++)
            EXPECT_EQ(v[i][j], i == j ? 1.0 : 0.0);
    }
}

TEST(Jacobi, TwoByTwoTakesOneRotation)
{
    DMat a(2, 2), v(2, 2);
    a[1][1] = 2, a[1][2] = 1, a[2][1] = 1, a[2][2] = 2;
    double d[3];
    int nrot = 0;
    jacobi(a.a, 2, d, v.a, &nrot);
    EXPECT_EQ(nrot, 1);
    EXPECT_NEAR(d[1], 1, 1e-15);
    EXPECT_NEAR(d[2], 3, 1e-15);
    const double r = 1 / std::sqrt(2.0);
    EXPECT_NEAR(v[1][1], r, 1e-15);
    EXPECT_NEAR(v[2][1], -r, 1e-15);
    EXPECT_NEAR(v[1][2], r, 1e-15);
    EXPECT_NEAR(v[2][2], r, 1e-15);
}

TEST(Jacobi, DecomposesRandomSymmetricMatrices)
{
    std::mt19937 gen(9);
    for (int n = 2; n <= 10; n++) {
        DMat a(n, n), orig(n, n), v(n, n);
        random_spd(a, gen);
        a[1][n] -= 3 * n; // not positive definite any more: negative eigenvalues too
        a[n][1] = a[1][n];
        for (int i = 1; i <= n; i++)
            for (int j = 1; j <= n; j++)
                orig[i][j] = a[i][j];
        std::vector<double> d(n + 1);
        int nrot;
        jacobi(a.a, n, d.data(), v.a, &nrot);
        EXPECT_GT(nrot, 0);
        for (int k = 1; k <= n; k++) {
            for (int i = 1; i <= n; i++) {
                double av = 0;
                for (int j = 1; j <= n; j++)
                    av += orig[i][j] * v[j][k];
                EXPECT_NEAR(av, d[k] * v[i][k], 1e-12) << n;
            }
            for (int l = 1; l <= n; l++) {
                double dot = 0;
                for (int i = 1; i <= n; i++)
                    dot += v[i][k] * v[i][l];
                EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-13);
            }
        }
        // The diagonal and the part below it are left as they were.
        for (int i = 1; i <= n; i++)
            for (int j = 1; j <= i; j++)
                EXPECT_EQ(a[i][j], orig[i][j]);
    }
}

TEST(Jacobi, NoConvergenceIsFatal)
{
    auto run = [] {
        DMat a(2, 2), v(2, 2);
        a[1][1] = 1, a[1][2] = std::numeric_limits<double>::quiet_NaN();
        a[2][1] = a[1][2], a[2][2] = 1;
        double d[3];
        int nrot;
        jacobi(a.a, 2, d, v.a, &nrot);
    };
    EXPECT_NRERROR(run(), "Too many iterations in routine jacobi");
}

TEST(Gammln, MatchesKnownValues)
{
    EXPECT_NEAR(gammln(1.0f), 0.0f, 1e-6);
    EXPECT_NEAR(gammln(2.0f), 0.0f, 1e-6);
    EXPECT_NEAR(gammln(0.5f), 0.5 * std::log(std::acos(-1.0)), 1e-6);
    for (float x = 0.05f; x < 60.0f; x *= 1.3f)
        EXPECT_NEAR(gammln(x), std::lgamma(double(x)),
                    2e-6 * std::max(1.0, std::fabs(std::lgamma(double(x)))))
            << x;
}

// P(1, x) = 1 - exp(-x), P(1/2, x) = erf(sqrt x), P(3, x) = 1 - exp(-x)(1 + x + x^2/2),
// through both the series (x < a + 1) and the continued fraction.
TEST(Gammp, MatchesClosedForms)
{
    EXPECT_EQ(gammp(1.0f, 0.0f), 0.0f);
    for (float x = 0.0f; x <= 12.0f; x += 0.25f) {
        const double xd = x;
        EXPECT_NEAR(gammp(1.0f, x), 1 - std::exp(-xd), 1e-6) << x;
        EXPECT_NEAR(gammp(0.5f, x), std::erf(std::sqrt(xd)), 1e-6) << x;
        EXPECT_NEAR(gammp(3.0f, x), 1 - std::exp(-xd) * (1 + xd + xd * xd / 2), 1e-6) << x;
    }
    float gamser, gammcf, gln;
    gser(&gamser, 2.0f, 1.5f, &gln);
    gcf(&gammcf, 2.0f, 1.5f, &gln);
    EXPECT_NEAR(gamser + gammcf, 1.0f, 1e-6);
    EXPECT_NEAR(gln, 0.0f, 1e-6);
}

TEST(Gammp, InvalidInputAndNoConvergenceAreFatal)
{
    EXPECT_NRERROR(gammp(0.0f, 1.0f), "Invalid arguments in routine gammp");
    EXPECT_NRERROR(gammp(1.0f, -1.0f), "Invalid arguments in routine gammp");
    EXPECT_NRERROR(gammp(std::nanf(""), 1.0f), "Invalid arguments in routine gammp");
    float g, gln;
    EXPECT_NRERROR(gser(&g, 1.0f, -0.5f, &gln), "x less than 0 in routine gser");
    EXPECT_NRERROR(gammp(10000.0f, 9990.0f), "a too large, ITMAX too small in routine gser");
    EXPECT_NRERROR(gammp(10000.0f, 10010.0f), "a too large, ITMAX too small in gcf");
}

// Ridders' derivative, and the order and number of evaluations.
std::vector<float> calls;
float recorded_sin(float x)
{
    calls.push_back(x);
    return std::sin(x);
}
float nan_function(float)
{
    return std::numeric_limits<float>::quiet_NaN();
}
float cube(float x)
{
    return x * x * x;
}

TEST(Dfridr, DerivativesOfKnownFunctions)
{
    calls.clear();
    float err = -1;
    const float d = dfridr(recorded_sin, 0.0f, 0.1f, &err);
    EXPECT_NEAR(d, 1.0f, 1e-6);
    EXPECT_GE(err, 0.0f);
    EXPECT_LT(err, 1e-5f);
    ASSERT_GE(calls.size(), 4u);
    EXPECT_LE(calls.size(), 20u);
    EXPECT_EQ(calls[0], 0.1f); // f(x + h) first
    EXPECT_EQ(calls[1], -0.1f);

    const float dc = dfridr(cube, 2.0f, 0.5f, &err);
    EXPECT_NEAR(dc, 12.0f, 1e-4);

    EXPECT_TRUE(std::isnan(dfridr(nan_function, 1.0f, 0.1f, &err)));
}

TEST(Dfridr, ZeroStepIsFatal)
{
    float err;
    EXPECT_NRERROR(dfridr(cube, 1.0f, 0.0f, &err), "h must be nonzero in dfridr\\.");
}

} // namespace
