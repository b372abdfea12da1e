// Sky plane and point source.
#include "torvex/psfunc.h"

#include "torvex/convolve.h"
#include "torvex/mkmodel.h"
#include "torvex/psf.h"

#include <cmath>

void sky(float a[], int ia[], image *model, derivs *df)
{
    // The caller gives model and df the same size; never run past either.
    const long nx = model->naxes[1] < df->naxes[1] ? model->naxes[1] : df->naxes[1];
    const long ny = model->naxes[2] < df->naxes[2] ? model->naxes[2] : df->naxes[2];
    for (long y = 1; y <= ny; y++) {
        for (long x = 1; x <= nx; x++) {
            const float ox = x - xskycent, oy = y - yskycent;
            df->dpm[0][y][x] += a[1] + ox * a[2] + oy * a[3];
            if (ia[1] == 1)
                df->dpm[1][y][x] = 1;
            if (ia[2] == 1)
                df->dpm[2][y][x] = ox;
            if (ia[3] == 1)
                df->dpm[3][y][x] = oy;
        }
    }
}

void psfunc(float a[], int ia[], image *model, derivs *df)
{
    const long nx = psf.naxes[1], ny = psf.naxes[2];
    if (nx < 1 || ny < 1 || !psf.z)
        return;
    const int os = input.sampfac;

    // The normalisation belongs to the PSF in use, so it is taken from it
    // on every call; the sum is cheap next to the shift.
    double norm = 0;
    for (long r = 1; r <= ny; r++)
        for (long c = 1; c <= nx; c++)
            norm += psf.z[r][c];

    const double flux = std::pow(10.0, (model->magzpt - a[3]) / 2.5);
    const float scale = static_cast<float>(flux / norm);
    const float dm = static_cast<float>(scale * 2.302585092994046 / -2.5);

    // Position in PSF pixels and the fraction of a pixel the PSF is moved.
    const float xs = static_cast<float>(a[1] * os) - 0.5 * (os - 1);
    const float ys = static_cast<float>(a[2] * os) - 0.5 * (os - 1);
    const float dx = static_cast<float>(xs - round_half_away(xs));
    const float dy = static_cast<float>(ys - round_half_away(ys));

    static scratch_matrix moved, xplus, xminus, yplus, yminus;
    image t, xp, xm, yp, ym;
    for (image *im : {&t, &xp, &xm, &yp, &ym}) {
        im->naxes[1] = nx;
        im->naxes[2] = ny;
    }
    t.z = moved.get(ny, nx);
    shift_psf(psf, &t, dx, dy);
    // Position derivatives: central differences over +-0.1 PSF pixel.
    const bool fx = ia[1] == 1, fy = ia[2] == 1, fm = ia[3] == 1;
    if (fx) {
        xp.z = xplus.get(ny, nx);
        xm.z = xminus.get(ny, nx);
        shift_psf(psf, &xp, dx + 0.1f, dy);
        shift_psf(psf, &xm, dx - 0.1f, dy);
    }
    if (fy) {
        yp.z = yplus.get(ny, nx);
        ym.z = yminus.get(ny, nx);
        shift_psf(psf, &yp, dx, dy + 0.1f);
        shift_psf(psf, &ym, dx, dy - 0.1f);
    }

    // Each PSF pixel goes to the data pixel it falls in; with os > 1 the
    // os x os PSF pixels of one data pixel add up there.
    const long nxd = df->naxes[1], nyd = df->naxes[2];
    const double step = 0.2 / os;
    for (long i = 1; i <= ny; i++) {
        const double Y = (i + ys - ny / 2 - 1 + 0.5 * (os - 1)) / os;
        const long iy = static_cast<long>(round_half_away(Y));
        if (iy < 1 || iy > nyd)
            continue;
        for (long j = 1; j <= nx; j++) {
            const double X = (j + xs - nx / 2 - 1 + 0.5 * (os - 1)) / os;
            const long ix = static_cast<long>(round_half_away(X));
            if (ix < 1 || ix > nxd)
                continue;
            df->dpm[0][iy][ix] += t.z[i][j] * scale;
            if (fx)
                df->dpm[1][iy][ix] += (xp.z[i][j] - xm.z[i][j]) * scale / step;
            if (fy)
                df->dpm[2][iy][ix] += (yp.z[i][j] - ym.z[i][j]) * scale / step;
            if (fm)
                df->dpm[3][iy][ix] += t.z[i][j] * dm;
        }
    }

    if (kernel) {
        long cn[3];
        double **kt = psfprep_cached(kernel_cache(), *kernel, df->naxes, 1, cn);
        image img;
        img.naxes[1] = nxd;
        img.naxes[2] = nyd;
        for (int k = 0; k <= 3; k++) {
            if (k > 0 && ia[k] != 1)
                continue;
            img.z = df->dpm[k];
            convolve(&img, kt, cn);
        }
    }
}
