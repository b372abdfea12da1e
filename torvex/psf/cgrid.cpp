// Bicubic patches over the PSF cells, for evaluating the PSF between pixels.
#include "torvex/psf/cgrid.h"

#include "torvex/psf/shift_psf.h"

#include "numerics/nrutil.h"
#include "numerics/spline.h"

bicubic_grid **new_cgrid(long nrl, long nrh, long ncl, long nch)
{
    const long nrow = nrh - nrl + 1, ncol = nch - ncl + 1;
    if (nrow < 1 || ncol < 1)
        nrerror("new_cgrid: empty patch array");
    // Row pointers and one block of entries, indexed from nrl and ncl.
    bicubic_grid **m = new bicubic_grid *[nrow];
    bicubic_grid *block = new bicubic_grid[nrow * ncol];
    for (long i = 0; i < nrow; i++)
        m[i] = block + i * ncol - ncl;
    return m - nrl;
}

void free_cgrid(bicubic_grid **m, long nrl, long nrh, long ncl, long nch)
{
    for (long i = nrl; i <= nrh; i++)
        for (long j = ncl; j <= nch; j++)
            if (m[i][j].c)
                free_matrix(m[i][j].c, 1, 4, 1, 4);
    delete[](m[nrl] + ncl);
    delete[](m + nrl);
}

void get_derivs(image psf, int x, int y, float **y1a, float **y2a, float **y12a, float *yi,
                float *y1i, float *y2i, float *y12i)
{
    const long nx = psf.naxes[1], ny = psf.naxes[2];
    // Corners counter-clockwise from the lower one.
    const int cx[5] = {0, x, x + 1, x + 1, x};
    const int cy[5] = {0, y, y, y + 1, y + 1};
    for (int k = 1; k <= 4; k++) {
        yi[k] = y1i[k] = y2i[k] = y12i[k] = 0;
        if (cx[k] < 1 || cx[k] > nx || cy[k] < 1 || cy[k] > ny)
            continue;
        yi[k] = psf.z[cy[k]][cx[k]];
        y1i[k] = y1a[cy[k]][cx[k]];
        y2i[k] = y2a[cy[k]][cx[k]];
        y12i[k] = y12a[cy[k]][cx[k]];
    }
}

bicubic_grid **get_cgrid(image psf)
{
    const long nx = psf.naxes[1], ny = psf.naxes[2];
    float **z = psf.z;
    float **y1a = matrix(0, ny + 1, 0, nx + 1);
    float **y2a = matrix(0, ny + 1, 0, nx + 1);
    float **y12a = matrix(0, ny + 1, 0, nx + 1);
    for (long i = 0; i <= ny + 1; i++) {
        for (long j = 0; j <= nx + 1; j++) {
            if (i > 1 && i < ny && j > 1 && j < nx) {
                y1a[i][j] = (z[i][j + 1] - z[i][j - 1]) / 2;
                y2a[i][j] = (z[i + 1][j] - z[i - 1][j]) / 2;
                y12a[i][j] =
                    (z[i + 1][j + 1] - z[i + 1][j - 1] - z[i - 1][j + 1] + z[i - 1][j - 1]) / 4;
            } else {
                y1a[i][j] = y2a[i][j] = y12a[i][j] = 0;
            }
        }
    }

    bicubic_grid **g = new_cgrid(0, ny + 1, 0, nx + 1);
    float y[5], y1[5], y2[5], y12[5];
    for (long j = 0; j <= ny + 1; j++) {
        for (long k = 0; k <= nx + 1; k++) {
            g[j][k].c = matrix(1, 4, 1, 4);
            get_derivs(psf, static_cast<int>(k), static_cast<int>(j), y1a, y2a, y12a, y, y1, y2,
                       y12);
            bcucof(y, y1, y2, y12, 1.0f, 1.0f, g[j][k].c);
        }
    }

    free_matrix(y12a, 0, ny + 1, 0, nx + 1);
    free_matrix(y2a, 0, ny + 1, 0, nx + 1);
    free_matrix(y1a, 0, ny + 1, 0, nx + 1);
    return g;
}

float **spline_psf(image psf, float *x1a, float *x2a)
{
    const long nx = psf.naxes[1], ny = psf.naxes[2];
    for (long j = 1; j <= nx; j++)
        x2a[j] = static_cast<float>(j);
    for (long i = 1; i <= ny; i++)
        x1a[i] = static_cast<float>(i);
    float **y2a = matrix(1, ny, 1, nx);
    splie2(x1a, x2a, psf.z, static_cast<int>(ny), static_cast<int>(nx), y2a);
    return y2a;
}
