// Index layout of the one-based allocators and the fatal error path.
#include "numerics/nrutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

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

TEST(Allocators, EmptyMatrixAllocatesAndReleases)
{
    float **m = matrix(1, 0, 1, 5);
    free_matrix(m, 1, 0, 1, 5);
    float **n = matrix(1, 3, 1, 0);
    free_matrix(n, 1, 3, 1, 0);
    float ***t = f3tensor(1, 0, 1, 0, 1, 0);
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

struct ChildResult {
    int status = -1; // exit status, or -1 when the child did not exit
    std::string out, err;
    double seconds = 0;
};

std::string slurp(const char *path)
{
    std::string s;
    if (FILE *f = fopen(path, "rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            s.append(buf, n);
        fclose(f);
    }
    return s;
}

// Runs body in a child process with stdout and stderr sent to files.
ChildResult run_child(const std::function<void()> &body)
{
    char out[] = "/tmp/nrutil_out.XXXXXX", err[] = "/tmp/nrutil_err.XXXXXX";
    int fo = mkstemp(out), fe = mkstemp(err);
    fflush(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
#if defined(__SANITIZE_ADDRESS__)
        // The fatal path frees nothing on purpose; that is not a leak.
        __lsan_disable();
#endif
        dup2(fo, 1);
        dup2(fe, 2);
        body();
        _exit(0);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    ChildResult r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    close(fo);
    close(fe);
    r.out = slurp(out);
    r.err = slurp(err);
    unlink(out);
    unlink(err);
    return r;
}

const std::string head = "Numerical Recipes run-time error...\n";
const std::string advice =
    "TORVEX crashed probably because one of the parameters\n"
    "has gotten too crazy.  For example, check that the\n"
    "Nuker parameter alpha, or the Gaussian magnitude has \n"
    "not gotten too big. \n";

TEST(Nrerror, PrintsReasonPictureAdviceAndExits100)
{
    ChildResult r = run_child([] { nrerror("singular matrix"); });
    EXPECT_EQ(r.status, 100);
    EXPECT_EQ(r.err, "");
    std::string expect_start = head + "singular matrix\n...now exiting to system...\n\n";
    ASSERT_EQ(r.out.compare(0, expect_start.size(), expect_start), 0) << r.out;
    std::string expect_end = " \n" + advice + "\a";
    ASSERT_GE(r.out.size(), expect_start.size() + expect_end.size());
    EXPECT_EQ(r.out.substr(r.out.size() - expect_end.size()), expect_end);

    std::string picture = r.out.substr(expect_start.size(),
                                       r.out.size() - expect_start.size() - expect_end.size());
    int lines = 0;
    size_t pos = 0, nl;
    while ((nl = picture.find('\n', pos)) != std::string::npos) {
        size_t width = nl - pos;
        EXPECT_TRUE(width == 48 || width == 49) << "line " << lines << ": " << width;
        lines++;
        pos = nl + 1;
    }
    EXPECT_EQ(lines, 18);
    EXPECT_EQ(pos, picture.size());
    EXPECT_LT(r.seconds, 4.0); // no pause on the regular display
}

TEST(Nrerror, AllocationFailuresEndThroughNrerror)
{
    struct Case {
        std::function<void()> call;
        const char *text;
    };
    const Case cases[] = {
        {[] { vector(5, 1); }, "allocation failure in vector()"},
        {[] { dvector(5, 1); }, "allocation failure in dvector()"},
        {[] { matrix(5, 1, 1, 2); }, "allocation failure 1 in matrix()"},
        {[] { dmatrix(1, 2, 5, 1); }, "allocation failure 2 in matrix()"},
        {[] { f3tensor(1, 2, 1, 2, 5, 1); }, "allocation failure 3 in f3tensor()"},
    };
    for (const Case &c : cases) {
        ChildResult r = run_child(c.call);
        EXPECT_EQ(r.status, 100) << c.text;
        EXPECT_EQ(r.out.compare(0, head.size() + strlen(c.text) + 1,
                                head + c.text + "\n"), 0) << r.out;
    }
}

// Stands in for the curses printer, whose text would vanish with the screen.
int silent_print(const char *, ...) { return 0; }

TEST(Nrerror, DisplayWordDecidesTheCursesPath)
{
    // A longer word that begins with "regular" is regular: no pause.
    ChildResult r = run_child([] {
        strcpy(device, "regularly");
        nrerror("x");
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_LT(r.seconds, 4.0);
    EXPECT_EQ(r.err, "");

    // The curses screen vanishes at its end, so the reason also goes to
    // standard error after the pause.
    r = run_child([] {
        strcpy(device, "curses");
        pfunc = silent_print;
        nrerror("no convergence");
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_GE(r.seconds, 4.5);
    EXPECT_EQ(r.err, head + "no convergence\n");
}

} // namespace
