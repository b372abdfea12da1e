#include "psftools/marquardt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/arrays.h"

using namespace test_common;
using orv::MArray;

namespace {

// Linear in its parameters: a1 + a2·x + a3·y + a4·x·y.
class LinearModel : public marquardt {
public:
    using marquardt::marquardt;
    int funcs(double x, double y, const MArray<double, 1> &a, double &f,
              MArray<double, 1> &d) override
    {
        d(1) = 1;
        d(2) = x;
        d(3) = y;
        d(4) = x * y;
        f = a(1) + a(2) * x + a(3) * y + a(4) * x * y;
        return 0;
    }
};

// a1 + (a2 + a3)·x: two parameters that the data cannot tell apart.
class DegenerateModel : public marquardt {
public:
    using marquardt::marquardt;
    int funcs(double x, double, const MArray<double, 1> &a, double &f,
              MArray<double, 1> &d) override
    {
        d(1) = 1;
        d(2) = x;
        d(3) = x;
        f = a(1) + (a(2) + a(3)) * x;
        return 0;
    }
};

// Cannot be evaluated anywhere.
class BrokenModel : public marquardt {
public:
    using marquardt::marquardt;
    int funcs(double, double, const MArray<double, 1> &, double &, MArray<double, 1> &) override
    {
        return -1;
    }
};

// 30 points with seeded scatter about a linear surface, errors 0.1..0.39.
struct Data {
    MArray<double, 1> x{30}, y{30}, z{30}, s{30};
    Data()
    {
        C_rangau noise(5);
        for (int i = 1; i <= 30; ++i) {
            x(i) = 0.3 * (i % 6) - 0.5;
            y(i) = 0.25 * (i / 6) + 0.1;
            s(i) = 0.1 + 0.01 * (i - 1);
            z(i) = 2 - 1.5 * x(i) + 0.7 * y(i) + 0.4 * x(i) * y(i) + s(i) * noise.eval();
        }
    }
};

// Weighted linear least squares done directly in extended precision: the
// normal matrix J^T W J of the free columns, its inverse by Gauss-Jordan
// elimination with partial pivoting, and the solution.
struct LeastSquares {
    std::vector<std::vector<long double>> cov;
    std::vector<long double> p;
    long double chi2 = 0;
    LeastSquares(const Data &d, const std::vector<int> &cols, const std::vector<double> &fixed,
                 int skip = 0)
    {
        const int m = static_cast<int>(cols.size());
        std::vector<std::vector<long double>> n(m, std::vector<long double>(2 * m, 0));
        std::vector<long double> rhs(m, 0);
        auto column = [&](int c, int i) -> long double {
            const long double x = d.x(i), y = d.y(i);
            return c == 1 ? 1 : c == 2 ? x : c == 3 ? y : x * y;
        };
        auto target = [&](int i) {
            long double t = d.z(i);
            for (int c = 1; c <= 4; ++c)
                t -= fixed[c - 1] * column(c, i);
            return t;
        };
        for (int i = 1; i <= 30; ++i) {
            if (i == skip)
                continue;
            const long double w = 1 / ((long double)d.s(i) * d.s(i));
            for (int j = 0; j < m; ++j) {
                for (int k = 0; k < m; ++k)
                    n[j][k] += column(cols[j], i) * column(cols[k], i) * w;
                rhs[j] += column(cols[j], i) * target(i) * w;
            }
        }
        for (int j = 0; j < m; ++j)
            n[j][m + j] = 1;
        for (int c = 0; c < m; ++c) {
            int piv = c;
            for (int r = c + 1; r < m; ++r)
                if (std::fabs(n[r][c]) > std::fabs(n[piv][c]))
                    piv = r;
            std::swap(n[c], n[piv]);
            const long double inv = 1 / n[c][c];
            for (auto &v : n[c])
                v *= inv;
            for (int r = 0; r < m; ++r)
                if (r != c) {
                    const long double f = n[r][c];
                    for (int k = 0; k < 2 * m; ++k)
                        n[r][k] -= f * n[c][k];
                }
        }
        cov.assign(m, std::vector<long double>(m));
        p.assign(m, 0);
        for (int j = 0; j < m; ++j)
            for (int k = 0; k < m; ++k) {
                cov[j][k] = n[j][m + k];
                p[j] += cov[j][k] * rhs[k];
            }
        for (int i = 1; i <= 30; ++i) {
            if (i == skip)
                continue;
            long double r = target(i);
            for (int j = 0; j < m; ++j)
                r -= p[j] * column(cols[j], i);
            chi2 += r * r / ((long double)d.s(i) * d.s(i));
        }
    }
};

void expectRelative(long double truth, double value, double tol, const std::string &what)
{
    EXPECT_LE(std::fabs(value - truth), tol * std::fmax(1e-300, std::fabs((double)truth))) << what;
}

} // namespace

TEST(Marquardt, LinearModelEqualsWeightedLeastSquares)
{
    const Data d;
    struct Case {
        MArray<int, 1> ia;
        std::vector<int> free;
    };
    // A flag of 2 counts as one free parameter.
    Case cases[] = {{ints({1, 1, 1, 1}), {1, 2, 3, 4}}, {ints({1, 0, 2, 1}), {1, 3, 4}}};
    for (Case &c : cases) {
        MArray<double, 1> start = doubles({0.5, -1.0, 0.0, 0.3});
        std::vector<double> fixed(4, 0.0);
        for (int k = 1; k <= 4; ++k)
            if (c.ia(k) == 0)
                fixed[k - 1] = start(k);
        const LeastSquares truth(d, c.free, fixed);
        LinearModel fit(d.x, d.y, d.z, d.s, start, c.ia);
        ASSERT_EQ(0, fit.calc());
        const int m = static_cast<int>(c.free.size());
        EXPECT_EQ(30, fit.npoints);
        EXPECT_EQ(m, fit.mfit);
        EXPECT_EQ(30 - m, fit.dof);
        expectRelative(truth.chi2, fit.chisq, 1e-10, "chi2");
        EXPECT_DOUBLE_EQ(std::sqrt(fit.chisq / 30), fit.rms);
        EXPECT_DOUBLE_EQ(std::sqrt(fit.chisq / (30 - m)), fit.rms_dof);
        for (int j = 0; j < m; ++j) {
            const int pj = c.free[j];
            expectRelative(truth.p[j], fit.a(pj), 1e-9, "a" + std::to_string(pj));
            expectRelative(std::sqrt(truth.cov[j][j]), fit.sa(pj), 1e-9, "sa" + std::to_string(pj));
            for (int k = 0; k < m; ++k)
                expectRelative(truth.cov[j][k], fit.covar(pj, c.free[k]), 1e-8, "covar");
        }
        // Fixed parameters keep their value and have no covariance.
        for (int k = 1; k <= 4; ++k)
            if (c.ia(k) == 0) {
                EXPECT_EQ(start(k), fit.a(k));
                EXPECT_EQ(0.0, fit.sa(k));
                for (int j = 1; j <= 4; ++j) {
                    EXPECT_EQ(0.0, fit.covar(k, j));
                    EXPECT_EQ(0.0, fit.covar(j, k));
                }
            }
    }
}

TEST(Marquardt, PointsWithoutPositiveErrorAreLeftOut)
{
    Data d;
    const LeastSquares truth(d, {1, 2, 3, 4}, {0, 0, 0, 0}, 7);
    d.z(7) = 1e6;
    for (double bad : {0.0, -1.0, std::nan("")}) {
        d.s(7) = bad;
        LinearModel fit(d.x, d.y, d.z, d.s, doubles({0, 0, 0, 0}), ints({1, 1, 1, 1}));
        EXPECT_EQ(29, fit.npoints);
        ASSERT_EQ(0, fit.calc());
        EXPECT_EQ(25, fit.dof);
        for (int k = 1; k <= 4; ++k)
            expectRelative(truth.p[k - 1], fit.a(k), 1e-9, "a");
    }
}

TEST(Marquardt, ShortListsAreCutWithAMessage)
{
    const Data d;
    // sig lacks the last point, ia the last flag: the fit uses points 1..29
    // and keeps parameter 4 fixed at its start value.
    MArray<double, 1> s(29);
    for (int i = 1; i <= 29; ++i)
        s(i) = d.s(i);
    const LeastSquares truth(d, {1, 2, 3}, {0, 0, 0, 0.4}, 30);
    testing::internal::CaptureStderr();
    LinearModel fit(d.x, d.y, d.z, s, doubles({0, 0, 0, 0.4}), ints({1, 1, 1}));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("only points 1 to 29 are used")) << err;
    EXPECT_NE(std::string::npos, err.find("0 and fixed")) << err;
    EXPECT_EQ(29, fit.ndata);
    EXPECT_EQ(29, fit.npoints);
    EXPECT_EQ(0, fit.ia(4));
    ASSERT_EQ(0, fit.calc());
    EXPECT_EQ(26, fit.dof);
    EXPECT_EQ(0.4, fit.a(4));
    for (int k = 1; k <= 3; ++k)
        expectRelative(truth.p[k - 1], fit.a(k), 1e-9, "a");
}

TEST(Marquardt, StoppingRules)
{
    const Data d;
    // Nothing free: chi² never falls, the damping grows 18 times.
    LinearModel none(d.x, d.y, d.z, d.s, doubles({2, -1.5, 0.7, 0.4}), ints({0, 0, 0, 0}));
    EXPECT_EQ(0, none.calc());
    EXPECT_EQ(18, none.iterations);
    EXPECT_EQ(30, none.dof);
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(0.0, none.sa(k));

    // The iteration limit: maxiter + 1 steps, result 1, results still set.
    LinearModel limited(d.x, d.y, d.z, d.s, doubles({0, 0, 0, 0}), ints({1, 1, 1, 1}));
    limited.maxiter = 3;
    limited.verbose = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, limited.calc());
    EXPECT_EQ("marquardt: iterations: 4\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ(4, limited.iterations);
    EXPECT_GT(limited.sa(1), 0.0);
    // A second calc starts afresh from the parameters reached.
    limited.maxiter = 10000;
    limited.verbose = 0;
    EXPECT_EQ(0, limited.calc());
    const LeastSquares truth(d, {1, 2, 3, 4}, {0, 0, 0, 0});
    for (int k = 1; k <= 4; ++k)
        expectRelative(truth.p[k - 1], limited.a(k), 1e-9, "a");
}

TEST(Marquardt, ModelFailingAtTheStartIsAFailure)
{
    const Data d;
    BrokenModel fit(d.x, d.y, d.z, d.s, doubles({1, 2, 3}), ints({1, 1, 1}));
    fit.verbose = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, fit.calc());
    EXPECT_EQ("marquardt: error -1\n", testing::internal::GetCapturedStderr());
    EXPECT_TRUE(std::isnan(fit.chisq));
    EXPECT_TRUE(std::isnan(fit.rms_dof));
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(k, fit.a(k)); // the start values, untouched
        EXPECT_EQ(0.0, fit.sa(k));
    }
    EXPECT_EQ(0.0, fit.mcs(0.5, 0.5, 1.0, fit.a));
}

TEST(Marquardt, SingularFinalStepKeepsTheFit)
{
    // Damping keeps every step solvable; only the undamped final matrix shows
    // that a2 and a3 cannot be told apart.
    const Data d;
    DegenerateModel fit(d.x, d.y, d.z, d.s, doubles({0, 0, 0}), ints({1, 1, 1}));
    const double startChi = [&] {
        DegenerateModel probe(d.x, d.y, d.z, d.s, doubles({0, 0, 0}), ints({0, 0, 0}));
        probe.calc();
        return probe.chisq;
    }();
    EXPECT_EQ(-1, fit.calc());
    // The fit itself went through: a straight line in x.
    EXPECT_LT(fit.chisq, 0.1 * startChi);
    EXPECT_EQ(fit.ochisq, fit.chisq);
    EXPECT_NE(0.0, fit.a(2) + fit.a(3));
    EXPECT_EQ(27, fit.dof);
    EXPECT_DOUBLE_EQ(std::sqrt(fit.chisq / 27), fit.rms_dof);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(0.0, fit.sa(k));
        for (int j = 1; j <= 3; ++j)
            EXPECT_EQ(0.0, fit.covar(k, j));
    }
}

TEST(Marquardt, CovSrtSpreadsThePackedBlock)
{
    const Data d;
    LinearModel fit(d.x, d.y, d.z, d.s, doubles({0, 0, 0, 0}), ints({1, 0, 1, 0}));
    fit.mfit = 2;
    MArray<double, 2> c(4, 4);
    c = 7.0;
    c(1, 1) = 1;
    c(1, 2) = c(2, 1) = 2;
    c(2, 2) = 5;
    EXPECT_EQ(0, fit.cov_srt(c));
    const double expected[4][4] = {{1, 0, 2, 0}, {0, 0, 0, 0}, {2, 0, 5, 0}, {0, 0, 0, 0}};
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j)
            EXPECT_EQ(expected[i - 1][j - 1], c(i, j)) << i << "," << j;
}

TEST(Marquardt, SimulatedMeasurements)
{
    const Data d;
    LinearModel fit(d.x, d.y, d.z, d.s, doubles({1, 2, 3, 4}), ints({1, 1, 1, 1}));
    const MArray<double, 1> p = doubles({1, 2, 3, 4});
    const double model = 1 + 2 * 0.5 + 3 * 0.25 + 4 * 0.125;
    C_rangau same(17); // the fitter's generator is seeded with 17
    for (int i = 0; i < 5; ++i)
        EXPECT_DOUBLE_EQ(model + 0.1 * same.eval(), fit.mcs(0.5, 0.25, 0.1, p));
    EXPECT_EQ(model, fit.mcs(0.5, 0.25, 0.0, p));
}

TEST(Marquardt, PrintedTables)
{
    const Data d;
    MArray<double, 1> a(10);
    for (int k = 1; k <= 10; ++k)
        a(k) = k == 1 ? 1.5e9 : 0.25 * k;
    MArray<int, 1> ia(10);
    ia = 1;
    ia(2) = 0;
    LinearModel fit(d.x, d.y, d.z, d.s, a, ia);
    fit.sa = 0.5;
    testing::internal::CaptureStdout();
    fit.print_title();
    fit.print_a();
    fit.print_ia();
    std::string out = testing::internal::GetCapturedStdout();
    std::istringstream lines(out);
    std::string title, values, flagsRow;
    std::getline(lines, title);
    std::getline(lines, values);
    std::getline(lines, flagsRow);
    ASSERT_EQ(150u, title.size());
    EXPECT_EQ("          a( 1)          a( 2)", title.substr(0, 30));
    EXPECT_EQ("          a(10)", title.substr(135));
    ASSERT_EQ(150u, values.size());
    EXPECT_EQ(" 1.50000000e+09        0.50000", values.substr(0, 30));
    EXPECT_EQ("        1.00000        0.00000", flagsRow.substr(0, 30));

    testing::internal::CaptureStdout();
    fit.print_result();
    out = testing::internal::GetCapturedStdout();
    std::cout.precision(6);
    EXPECT_EQ(0u, out.find("   a1 =          1500000000  +/-                 0.5\n"));
    EXPECT_NE(std::string::npos, out.find("\n   a9 =                2.25  +/- "));
    EXPECT_NE(std::string::npos, out.find("\n  a10 =                 2.5  +/- "));

    const std::string name =
        testing::TempDir() + "marquardt_result_" + std::to_string(getpid()) + ".txt";
    fit.a(2) = 1.0 / 3;
    fit.write_result(name.c_str());
    std::ifstream in(name);
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ("          1500000000                 0.5", first);
    EXPECT_EQ("   0.333333333333333                 0.5", second);
    std::remove(name.c_str());
    // Failures are reported, not passed over: a file that cannot be opened
    // (no such folder, a folder of that name) and one that cannot take the
    // lines.
    struct Failure {
        std::string name, message;
    };
    for (const Failure &f :
         {Failure{"/nonexistent-dir/result.txt", "cannot open file /nonexistent-dir/result.txt"},
          Failure{testing::TempDir(), "cannot open file " + testing::TempDir()},
          Failure{"/dev/full", "cannot write file /dev/full"}}) {
        testing::internal::CaptureStderr();
        fit.write_result(f.name.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, err.find("error: " + f.message)) << f.name << ": " << err;
    }
}
