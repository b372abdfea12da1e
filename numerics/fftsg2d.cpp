// Two-dimensional transforms on the one-dimensional split-radix machinery.
// Rows are transformed in place; columns are gathered a few at a time into
// the contiguous work area t, transformed there and scattered back.
#include "numerics/fftsg.h"

#include "numerics/fftsg_core.h"

#include <cstdio>
#include <cstdlib>

using namespace fftcore;

namespace {

// The caller's work area, or one of need doubles allocated here.
double *work_area(double *t, long need)
{
    if (t != nullptr)
        return t;
    t = static_cast<double *>(malloc(sizeof(double) * need));
    if (t == nullptr) {
        fprintf(stderr, "fft2d memory allocation error\n");
        exit(1);
    }
    return t;
}

long cdft2d_work(int n1, int n2)
{
    return n2 > 4 ? 8L * n1 : n2 == 4 ? 4L * n1 : 2L * n1;
}

long ddxt2d_work(int n1, int n2)
{
    return n2 > 2 ? 4L * n1 : n2 == 2 ? 2L * n1 : 1L * n1;
}

void check_rows(const char *who, double **a, int n1)
{
    check_pointer(who, "the data a", a);
    for (int i = 0; i < n1; i++)
        check_pointer(who, "a row of the data a", a[i]);
}

// Checks of cdft2d and rdft2d; returns the size of the column work area.
long check_complex_grid(const char *who, int n1, int n2, double **a, long tsize)
{
    check_length(who, "the number of rows n1", n1, 1);
    check_length(who, "the row length n2", n2, 2);
    check_rows(who, a, n1);
    const long need = cdft2d_work(n1, n2);
    check_work(who, need, tsize);
    return need;
}

// Complex transforms along the columns of n1 rows of n2 doubles.
void cftcols(int n1, int n2, int isgn, double **a, double *t, const int *ip,
             int nw, const double *w)
{
    const int n = 2 * n1;
    // Complex columns per block: four, or all of them when there are fewer.
    const int cols = n2 > 4 ? 4 : n2 / 2;
    for (int j = 0; j < n2; j += 2 * cols) {
        for (int i = 0; i < n1; i++) {
            for (int c = 0; c < cols; c++) {
                t[c * n + 2 * i] = a[i][j + 2 * c];
                t[c * n + 2 * i + 1] = a[i][j + 2 * c + 1];
            }
        }
        for (int c = 0; c < cols; c++) {
            if (isgn >= 0)
                cftfsub(n, t + c * n, ip, nw, w);
            else
                cftbsub(n, t + c * n, ip, nw, w);
        }
        for (int i = 0; i < n1; i++) {
            for (int c = 0; c < cols; c++) {
                a[i][j + 2 * c] = t[c * n + 2 * i];
                a[i][j + 2 * c + 1] = t[c * n + 2 * i + 1];
            }
        }
    }
}

// Cosine or sine transforms along the columns of n1 rows of n2 doubles.
void ddxtcols(bool sine, int n1, int n2, int isgn, double **a, double *t,
              const int *ip, const Tables &tb, const double *w)
{
    const int cols = n2 > 4 ? 4 : n2;
    for (int j = 0; j < n2; j += cols) {
        for (int i = 0; i < n1; i++)
            for (int c = 0; c < cols; c++)
                t[c * n1 + i] = a[i][j + c];
        for (int c = 0; c < cols; c++)
            ddxtsub(sine, n1, isgn, t + c * n1, ip, w, tb);
        for (int i = 0; i < n1; i++)
            for (int c = 0; c < cols; c++)
                a[i][j + c] = t[c * n1 + i];
    }
}

void ddxt2d(const char *who, bool sine, int n1, int n2, int isgn, double **a,
            double *t, int *ip, double *w, long ipsize, long wsize, long tsize)
{
    check_length(who, "the number of rows n1", n1, 1);
    check_length(who, "the row length n2", n2, 1);
    check_rows(who, a, n1);
    const long need = ddxt2d_work(n1, n2);
    check_work(who, need, tsize);
    const long nmax = n1 > n2 ? n1 : n2;
    Tables tb = prepare(who, ip, w, nmax, 4, nmax, 1, ipsize, wsize);
    double *tw = work_area(t, need);
    for (int i = 0; i < n1; i++)
        ddxtsub(sine, n2, isgn, a[i], ip, w, tb);
    ddxtcols(sine, n1, n2, isgn, a, tw, ip, tb, w);
    if (t == nullptr)
        free(tw);
}

}  // namespace

void cdft2d(int n1, int n2, int isgn, double **a, double *t, int *ip,
            double *w, long ipsize, long wsize, long tsize)
{
    const long need = check_complex_grid("cdft2d", n1, n2, a, tsize);
    const long n = 2L * n1 > n2 ? 2L * n1 : n2;
    Tables tb = prepare("cdft2d", ip, w, n, 4, 0, 0, ipsize, wsize);
    double *tw = work_area(t, need);
    for (int i = 0; i < n1; i++) {
        if (isgn >= 0)
            cftfsub(n2, a[i], ip, tb.nw, w);
        else
            cftbsub(n2, a[i], ip, tb.nw, w);
    }
    cftcols(n1, n2, isgn, a, tw, ip, tb.nw, w);
    if (t == nullptr)
        free(tw);
}

// Rows by the real transform, then columns by the complex one.  Column 0
// holds the k2 = 0 and k2 = n2/2 columns as real and imaginary part of one
// complex column; their transforms are separated by the symmetry of real
// data, X[n1-k1] = conj X[k1].
void rdft2d(int n1, int n2, int isgn, double **a, double *t, int *ip,
            double *w, long ipsize, long wsize, long tsize)
{
    const long need = check_complex_grid("rdft2d", n1, n2, a, tsize);
    const long n = 2L * n1 > n2 ? 2L * n1 : n2;
    Tables tb = prepare("rdft2d", ip, w, n, 4, n2, 4, ipsize, wsize);
    double *tw = work_area(t, need);
    const int n1h = n1 >> 1;
    if (isgn < 0) {
        for (int i = 1; i < n1h; i++) {
            const int j = n1 - i;
            const double xi = a[i][0] - a[j][0];
            a[i][0] += a[j][0];
            a[j][0] = xi;
            const double xr = a[j][1] - a[i][1];
            a[i][1] += a[j][1];
            a[j][1] = xr;
        }
        cftcols(n1, n2, isgn, a, tw, ip, tb.nw, w);
    }
    for (int i = 0; i < n1; i++)
        rdftsub(n2, isgn, a[i], ip, tb.nw, w, tb.nc, tb.c);
    if (isgn >= 0) {
        cftcols(n1, n2, isgn, a, tw, ip, tb.nw, w);
        for (int i = 1; i < n1h; i++) {
            const int j = n1 - i;
            a[j][0] = 0.5 * (a[i][0] - a[j][0]);
            a[i][0] -= a[j][0];
            a[j][1] = 0.5 * (a[i][1] + a[j][1]);
            a[i][1] -= a[j][1];
        }
    }
    if (t == nullptr)
        free(tw);
}

void rdft2dsort(int n1, int n2, int isgn, double **a)
{
    check_length("rdft2dsort", "the number of rows n1", n1, 1);
    check_length("rdft2dsort", "the row length n2", n2, 2);
    check_rows("rdft2dsort", a, n1);
    const int n1h = n1 >> 1;
    // Rows 0 and n1/2 (one row when n1 = 1) hold only real values at k2 = 0
    // and k2 = n2/2.
    const int nreal = n1h > 0 ? 2 : 1;
    const int real_rows[2] = {0, n1h};
    if (isgn < 0) {
        for (int i = n1 - 1; i > n1h; i--) {
            a[i][0] = a[i][n2 + 1];
            a[i][1] = a[i][n2];
        }
        for (int r = 0; r < nreal; r++)
            a[real_rows[r]][1] = a[real_rows[r]][n2];
    } else {
        for (int i = n1 - 1; i > n1h; i--) {
            const int j = n1 - i;
            const double xr = a[i][1], xi = a[i][0];
            a[i][n2] = xr;
            a[i][n2 + 1] = xi;
            a[j][n2] = xr;
            a[j][n2 + 1] = -xi;
            a[i][0] = a[j][0];
            a[i][1] = -a[j][1];
        }
        for (int r = 0; r < nreal; r++) {
            double *row = a[real_rows[r]];
            row[n2] = row[1];
            row[n2 + 1] = 0;
            row[1] = 0;
        }
    }
}

void ddct2d(int n1, int n2, int isgn, double **a, double *t, int *ip,
            double *w, long ipsize, long wsize, long tsize)
{
    ddxt2d("ddct2d", false, n1, n2, isgn, a, t, ip, w, ipsize, wsize, tsize);
}

void ddst2d(int n1, int n2, int isgn, double **a, double *t, int *ip,
            double *w, long ipsize, long wsize, long tsize)
{
    ddxt2d("ddst2d", true, n1, n2, isgn, a, t, ip, w, ipsize, wsize, tsize);
}
