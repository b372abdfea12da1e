#include "psftools/lu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>

#include "common/arrays.h"
#include "common/program.h"

using namespace test_common;
using orv::MArray;

namespace {

double binomial(int n, int k)
{
    double b = 1;
    for (int i = 1; i <= k; ++i)
        b = b * (n - k + i) / i;
    return b;
}

// The Hilbert matrix 1/(i + j - 1) scaled by `scale`, and the closed form of
// the inverse of the unscaled one (whole numbers):
// (-1)^(i+j) (i+j-1) C(n+i-1, n-j) C(n+j-1, n-i) C(i+j-2, i-1)².
MArray<double, 2> hilbert(int n, double scale = 1)
{
    MArray<double, 2> h(n, n);
    for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j)
            h(i, j) = scale / (i + j - 1);
    return h;
}
double hilbertInverse(int n, int i, int j)
{
    const double c = binomial(i + j - 2, i - 1);
    return ((i + j) % 2 ? -1 : 1) * (i + j - 1) * binomial(n + i - 1, n - j) *
           binomial(n + j - 1, n - i) * c * c;
}

void decompose(MArray<double, 2> a)
{
    test_common::skip_leak_check(); // the process ends with its arrays alive
    MArray<int, 1> indx;
    double d;
    ludecomp(a, indx, d);
}

// A 2 x 2 system solved, and its residual taken, with a right-hand side of
// one element.
void solveShort()
{
    test_common::skip_leak_check();
    MArray<double, 2> a = matrix(2, {2, 1, 1, 3});
    MArray<int, 1> indx;
    double d;
    ludecomp(a, indx, d);
    MArray<double, 1> b = doubles({1});
    lubacksub(a, indx, b);
}
void residuumShort()
{
    test_common::skip_leak_check();
    MArray<double, 2> a = matrix(2, {2, 1, 1, 3});
    MArray<double, 1> x = doubles({1, 2}), b = doubles({1}), r;
    residuum(a, x, b, r);
}

// A product into a 3 x 3 matrix of a 2 x 2 factor, a matrix of fewer
// columns than rows printed, and a vector without element 1 printed.
void multiplyShort()
{
    test_common::skip_leak_check();
    MArray<double, 2> c(3, 3), a = matrix(2, {1, 2, 3, 4}), b = hilbert(3);
    matmult(c, a, b);
}
void printShortRows()
{
    test_common::skip_leak_check();
    MArray<double, 2> a(3, 2);
    a = 1.0;
    matprint(a);
}
void printFromTwo()
{
    test_common::skip_leak_check();
    MArray<double, 1> v = doubles({1, 2}, 2);
    vecprint(v);
}

} // namespace

TEST(LuSolvers, DecomposesWithScaledPivotingAndSolves)
{
    MArray<double, 2> a = matrix(2, {1, 2, 3, 4});
    MArray<int, 1> indx;
    double d = 0;
    ludecomp(a, indx, d);
    // Scaled values 1/3 and 3/7 choose row 2.
    EXPECT_EQ(2, indx(1));
    EXPECT_DOUBLE_EQ(-2.0, d);
    EXPECT_DOUBLE_EQ(3.0, a(1, 1));
    EXPECT_DOUBLE_EQ(4.0, a(1, 2));
    EXPECT_DOUBLE_EQ(1.0 / 3, a(2, 1));
    EXPECT_DOUBLE_EQ(2.0 / 3, a(2, 2));
    MArray<double, 1> b = doubles({5, 6});
    lubacksub(a, indx, b);
    EXPECT_NEAR(-4.0, b(1), 1e-14);
    EXPECT_NEAR(4.5, b(2), 1e-14);

    MArray<double, 2> one = matrix(1, {-2.5});
    ludecomp(one, indx, d);
    EXPECT_EQ(-2.5, d);
    EXPECT_EQ(-2.5, one(1, 1));
    MArray<double, 1> b1 = doubles({5});
    lubacksub(one, indx, b1);
    EXPECT_EQ(-2.0, b1(1));
}

TEST(LuSolvers, LuIterInvertsAndSolvesKnownSystems)
{
    MArray<double, 2> a = matrix(2, {1, 2, 3, 4});
    MArray<double, 1> b = doubles({5, 6});
    testing::internal::CaptureStdout();
    lu_iter(a, b, 1, 0);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_NEAR(-2.0, a(1, 1), 1e-14);
    EXPECT_NEAR(1.0, a(1, 2), 1e-14);
    EXPECT_NEAR(1.5, a(2, 1), 1e-14);
    EXPECT_NEAR(-0.5, a(2, 2), 1e-14);
    EXPECT_NEAR(-4.0, b(1), 1e-14);
    EXPECT_NEAR(4.5, b(2), 1e-14);

    // Hilbert matrices against their closed-form inverses; the determinant of
    // the 4 x 4 one is 1/6048000.
    MArray<double, 2> h4 = hilbert(4);
    MArray<int, 1> indx;
    double det;
    ludecomp(h4, indx, det);
    EXPECT_NEAR(1.0 / 6048000, det, 1e-12 / 6048000);
    for (int n = 3; n <= 6; ++n) {
        MArray<double, 2> h = hilbert(n);
        MArray<double, 1> rhs(n);
        for (int i = 1; i <= n; ++i) {
            rhs(i) = 0;
            for (int j = 1; j <= n; ++j)
                rhs(i) += h(i, j) * j;
        }
        lu_iter(h, rhs, 2, 0);
        for (int i = 1; i <= n; ++i) {
            EXPECT_NEAR(i, rhs(i), 1e-7 * n) << n;
            for (int j = 1; j <= n; ++j)
                EXPECT_NEAR(hilbertInverse(n, i, j), h(i, j),
                            1e-8 * std::fabs(hilbertInverse(n, i, j)))
                    << n;
        }
    }
}

TEST(LuSolvers, ImprovementRecoversAnExactSolutionOfAnIllConditionedSystem)
{
    // 360360 times the 8 x 8 Hilbert matrix has whole entries, so with a
    // whole solution the system is exact in double; its condition (about
    // 1.5e10) costs the plain solution six digits.
    const int n = 8;
    MArray<double, 2> a = hilbert(n, 360360), lu(n, n);
    lu = a;
    MArray<double, 1> b(n), x(n);
    for (int i = 1; i <= n; ++i) {
        b(i) = 0;
        for (int j = 1; j <= n; ++j)
            b(i) += a(i, j) * (j % 3 - 1);
    }
    x = b;
    MArray<int, 1> indx;
    double det;
    ludecomp(lu, indx, det);
    lubacksub(lu, indx, x);
    auto error = [&] {
        double e = 0;
        for (int j = 1; j <= n; ++j)
            e = std::fmax(e, std::fabs(x(j) - (j % 3 - 1)));
        return e;
    };
    const double plain = error();
    EXPECT_GT(plain, 1e-9);
    // Each step lands at the floor that the extended-precision residual
    // allows, more than two orders of magnitude better.
    for (int step = 1; step <= 3; ++step) {
        mprove(lu, x, indx, a, b);
        EXPECT_LT(error(), plain / 20) << step;
    }
}

TEST(LuSolvers, ResiduumSumsSmallestTermsFirst)
{
    // 1e20 + 1 is not representable even in extended precision; summed from
    // the smallest magnitude up the exact residual 0 comes out.
    MArray<double, 2> a = matrix(3, {1e20, 1, -1e20, 2, 3, 4, 0, 0, 1});
    MArray<double, 1> x = doubles({1, 1, 1}), b = doubles({1, 9, 0.5}), r;
    residuum(a, x, b, r);
    EXPECT_EQ(1, r.firstIndex(1));
    EXPECT_EQ(3, r.lastIndex(1));
    EXPECT_EQ(0.0, r(1));
    EXPECT_EQ(0.0, r(2));
    EXPECT_EQ(0.5, r(3));
}

TEST(LuSolvers, MatmultAndPrinters)
{
    MArray<double, 2> a = matrix(2, {1, 2, 3, 4}), b = matrix(2, {0, 1, 1, 0.5}), c(2, 2);
    matmult(c, a, b);
    EXPECT_EQ(2.0, c(1, 1));
    EXPECT_EQ(2.0, c(1, 2));
    EXPECT_EQ(4.0, c(2, 1));
    EXPECT_EQ(5.0, c(2, 2));

    const std::string f1 = std::string(14, ' ') + "1", f2 = std::string(14, ' ') + "2";
    testing::internal::CaptureStdout();
    matprint(a);
    MArray<double, 1> v = doubles({1.0 / 3, 2});
    vecprint(v);
    EXPECT_EQ("\n" + f1 + "  " + f2 + "  \n" + std::string(14, ' ') + "3  " + std::string(14, ' ') +
                  "4  \n\n" + "\n     0.33333333  " + f2 + "  \n\n",
              testing::internal::GetCapturedStdout());
    std::cout.precision(6);
}

TEST(LuSolversDeathTest, EndsTheProcessOnASingularOrEmptyMatrix)
{
    // A zero column; a zero last pivot; a 1 x 1 zero; not a number.
    EXPECT_EXIT(decompose(matrix(3, {1, 0, 2, 3, 0, 4, 5, 0, 6})), testing::ExitedWithCode(255),
                "matrix singular");
    EXPECT_EXIT(decompose(matrix(2, {1, 2, 2, 4})), testing::ExitedWithCode(255),
                "matrix singular");
    EXPECT_EXIT(decompose(matrix(1, {0})), testing::ExitedWithCode(255), "matrix singular");
    EXPECT_EXIT(decompose(matrix(2, {1, 0, 0, std::nan("")})), testing::ExitedWithCode(255),
                "matrix singular");
    EXPECT_EXIT(decompose(MArray<double, 2>(0, 0)), testing::ExitedWithCode(255), "matrix empty");
    // Fewer columns than rows, and a right-hand side shorter than the
    // matrix: refused instead of read past their ends.
    EXPECT_EXIT(decompose(MArray<double, 2>(3, 2)), testing::ExitedWithCode(255),
                "matrix does not hold rows and columns 1..N");
    EXPECT_EXIT(solveShort(), testing::ExitedWithCode(255),
                "vector does not hold the elements 1..N");
    EXPECT_EXIT(residuumShort(), testing::ExitedWithCode(255),
                "vector does not hold the elements 1..N");
    // So are a product and the printers given arrays that lack elements
    // they use.
    EXPECT_EXIT(multiplyShort(), testing::ExitedWithCode(255),
                "matrix does not hold rows and columns 1..N");
    EXPECT_EXIT(printShortRows(), testing::ExitedWithCode(255),
                "matrix does not hold rows and columns 1..N");
    EXPECT_EXIT(printFromTwo(), testing::ExitedWithCode(255),
                "vector does not hold the elements 1..N");
}
