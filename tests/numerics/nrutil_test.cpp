// Index layout of the one-based allocators and the fatal error path.
#include "numerics/nrutil.h"

#include "common/fatal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

// Vectors: every index from the spare element nl-1 to nh must be writable
// and the block must start at v + nl - 1 (ASan checks both in its build).
TEST(Allocators, VectorsCoverTheirRangeAndTheSpareElement)
{
    const long ranges[][2] = {{1, 10}, {0, 9}, {-4, 3}, {7, 7}, {1, 0}};
    for (const auto &r : ranges) {
        long nl = r[0], nh = r[1];
        float *v = vector(nl, nh);
        double *d = dvector(nl, nh);
        int *iv = ivector(nl, nh);
        unsigned long *lv = lvector(nl, nh);
        unsigned char *cv = cvector(nl, nh);
        for (long i = nl - 1; i <= nh; i++) {
            v[i] = float(i);
            d[i] = double(i);
            iv[i] = int(i);
            lv[i] = static_cast<unsigned long>(i);
            cv[i] = static_cast<unsigned char>(i);
        }
        for (long i = nl; i <= nh; i++)
            EXPECT_EQ(v[i], float(i));
        free_vector(v, nl, nh);
        free_dvector(d, nl, nh);
        free_ivector(iv, nl, nh);
        free_lvector(lv, nl, nh);
        free_cvector(cv, nl, nh);
    }
}

TEST(Allocators, MatrixRowsAreAdjacentInOneBlock)
{
    float **m = matrix(1, 3, 1, 4);
    EXPECT_EQ(&m[1][1] + 4, &m[2][1]);
    EXPECT_EQ(&m[1][1] + 11, &m[3][4]);
    float *flat = &m[1][1];
    for (int k = 0; k < 12; k++)
        flat[k] = float(k);
    EXPECT_EQ(m[2][3], 6.0f);
    EXPECT_EQ(m[3][4], 11.0f);
    flat[-1] = 0; // the spare element ahead of the data
    free_matrix(m, 1, 3, 1, 4);

    const long shapes[][4] = {{0, 4, 0, 2}, {-2, 1, 3, 9}, {1, 1, 1, 1}};
    for (const auto &s : shapes) {
        long nrow = s[1] - s[0] + 1, ncol = s[3] - s[2] + 1;
        double **d = dmatrix(s[0], s[1], s[2], s[3]);
        int **im = imatrix(s[0], s[1], s[2], s[3]);
        for (long i = s[0]; i <= s[1]; i++)
            for (long j = s[2]; j <= s[3]; j++) {
                d[i][j] = double((i - s[0]) * ncol + (j - s[2]));
                im[i][j] = 1;
            }
        for (long k = 0; k < nrow * ncol; k++)
            EXPECT_EQ((&d[s[0]][s[2]])[k], double(k));
        free_dmatrix(d, s[0], s[1], s[2], s[3]);
        free_imatrix(im, s[0], s[1], s[2], s[3]);
    }
}

// An empty range still gets its blocks: the release routine finds the data
// through the first row, and rows of no width all start where the data do
// (ASan checks that every block is released).
TEST(Allocators, EmptyMatricesAllocateAndRelease)
{
    float **m = matrix(1, 0, 1, 5);
    ASSERT_NE(m, nullptr);
    EXPECT_NE(m[1], nullptr);
    free_matrix(m, 1, 0, 1, 5);

    float **n = matrix(1, 3, 1, 0);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n[2], n[1]);
    EXPECT_EQ(n[3], n[1]);
    free_matrix(n, 1, 3, 1, 0);

    float ***t = f3tensor(1, 0, 1, 0, 1, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t[1], nullptr);
    EXPECT_NE(t[1][1], nullptr);
    free_f3tensor(t, 1, 0, 1, 0, 1, 0);
}

TEST(Allocators, TensorIsOneContiguousBlock)
{
    float ***t = f3tensor(1, 2, 0, 2, 1, 4);
    for (long i = 1; i <= 2; i++)
        for (long j = 0; j <= 2; j++)
            for (long k = 1; k <= 4; k++)
                EXPECT_EQ(&t[i][j][k], &t[1][0][1] + (i - 1) * 12 + j * 4 + (k - 1));
    float *flat = &t[1][0][1];
    for (int k = 0; k < 24; k++)
        flat[k] = float(k);
    EXPECT_EQ(t[2][1][3], 18.0f);
    free_f3tensor(t, 1, 2, 0, 2, 1, 4);
}

TEST(Allocators, ViewsShareTheirSource)
{
    float flat[12];
    for (int k = 0; k < 12; k++)
        flat[k] = float(k);
    float **v = convert_matrix(flat, 1, 3, 1, 4);
    EXPECT_EQ(&v[1][1], &flat[0]);
    EXPECT_EQ(v[2][1], 4.0f);
    EXPECT_EQ(v[3][4], 11.0f);
    free_convert_matrix(v, 1, 3, 1, 4);

    float **a = matrix(1, 6, 1, 10);
    for (long i = 1; i <= 6; i++)
        for (long j = 1; j <= 10; j++)
            a[i][j] = float(100 * i + j);
    float **s = submatrix(a, 3, 5, 2, 9, 1, 1);
    EXPECT_EQ(s[1][1], a[3][2]);
    EXPECT_EQ(s[3][1], a[5][2]);
    s[2][2] = -1;
    EXPECT_EQ(a[4][3], -1.0f);
    free_submatrix(s, 1, 3, 1, 8);
    free_matrix(a, 1, 6, 1, 10);
}

// The default fatal path: the reason on standard error, status 100.
TEST(Nrerror, DefaultPrintsTheReasonAndExits100)
{
    EXPECT_EXIT(
        {
            test_common::skip_leak_check();
            nrerror("singular matrix");
        },
        ::testing::ExitedWithCode(100),
        "^Numerical Recipes run-time error\\.\\.\\.\nsingular matrix\n"
        "\\.\\.\\.now exiting to system\\.\\.\\.\n$");
}

TEST(Nrerror, AllocationFailuresEndThroughNrerror)
{
    EXPECT_NRERROR(vector(5, 1), "allocation failure in vector\\(\\)");
    EXPECT_NRERROR(dvector(5, 1), "allocation failure in dvector\\(\\)");
    EXPECT_NRERROR(matrix(5, 1, 1, 2), "allocation failure 1 in matrix\\(\\)");
    EXPECT_NRERROR(dmatrix(1, 2, 5, 1), "allocation failure 2 in matrix\\(\\)");
    EXPECT_NRERROR(f3tensor(1, 2, 1, 2, 5, 1), "allocation failure 3 in f3tensor\\(\\)");
}

[[noreturn]] void exit_with_seven(const char *text)
{
    fprintf(stderr, "handled: %s\n", text);
    _exit(7);
}

void return_quietly(const char *) {}

// The program's handler takes the reason; one that returns does not keep
// the process alive.
TEST(Nrerror, InstalledHandlerTakesTheReason)
{
    EXPECT_EXIT(
        {
            set_fatal_handler(exit_with_seven);
            nrerror("no convergence");
        },
        ::testing::ExitedWithCode(7), "^handled: no convergence\n$");
    EXPECT_EXIT(
        {
            test_common::skip_leak_check();
            set_fatal_handler(return_quietly);
            nrerror("x");
        },
        ::testing::ExitedWithCode(100), "^$");

    const fatal_handler first = set_fatal_handler(exit_with_seven);
    EXPECT_EQ(set_fatal_handler(nullptr), exit_with_seven);
    // Null restored the default, which set_fatal_handler hands back.
    EXPECT_EQ(set_fatal_handler(first), first);
}

} // namespace
