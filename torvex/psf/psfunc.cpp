// The point source.

#include "torvex/psf/psfunc.h"

#include "torvex/model/component_types.h"

#include "torvex/psf/convolve.h"
#include "torvex/psf/convolve_components.h"
#include "torvex/psf/shift_psf.h"

#include <cmath>

namespace {

double psf_sum(float **z, long nx, long ny)
{
    double sum = 0;
    for (long r = 1; r <= ny; r++)
        for (long c = 1; c <= nx; c++)
            sum += z[r][c];
    return sum;
}

// F over the sum of the moved copy: the shift keeps the PSF's sum only to
// about 1% at fractional offsets, and a star must carry its whole flux
// wherever it lies.  A moved copy whose sum cannot serve (0, not finite,
// or of the other sign) falls back to the sum of the PSF itself.
float flux_scale(double flux, double moved_sum, double norm)
{
    const bool usable = std::isfinite(moved_sum) && moved_sum != 0 && (moved_sum > 0) == (norm > 0);
    return static_cast<float>(flux / (usable ? moved_sum : norm));
}

} // namespace

void psfunc(float a[], int ia[], image *model, derivs *df)
{
    const long nx = psf.naxes[1], ny = psf.naxes[2];
    if (nx < 1 || ny < 1 || !psf.z)
        return;
    const int os = input.sampfac;

    // The normalisation belongs to the PSF in use, so it is taken from it
    // on every call; the sums are cheap next to the shifts.
    const double norm = psf_sum(psf.z, nx, ny);
    const double flux = std::pow(10.0, (model->magzpt - a[SLOT_MAG]) / 2.5);

    // Position in PSF pixels and the fraction of a pixel the PSF is moved.
    const float xs = static_cast<float>(a[SLOT_X] * os) - 0.5 * (os - 1);
    const float ys = static_cast<float>(a[SLOT_Y] * os) - 0.5 * (os - 1);
    float dx, dy;
    psf_shift_fraction(a[SLOT_X], a[SLOT_Y], os, &dx, &dy);

    static scratch_matrix moved, xplus, xminus, yplus, yminus;
    image t, xp, xm, yp, ym;
    for (image *im : {&t, &xp, &xm, &yp, &ym}) {
        im->naxes[1] = nx;
        im->naxes[2] = ny;
    }
    t.z = moved.get(ny, nx);
    shift_psf(psf, &t, dx, dy);
    const float scale = flux_scale(flux, psf_sum(t.z, nx, ny), norm);
    const float dm = static_cast<float>(scale * 2.302585092994046 / -2.5);
    // Position derivatives: central differences over +-0.1 PSF pixel of
    // the source as it is rendered, each copy carrying the whole flux.
    const bool fx = ia[SLOT_X] == 1, fy = ia[SLOT_Y] == 1, fm = ia[SLOT_MAG] == 1;
    float sxp = 0, sxm = 0, syp = 0, sym = 0;
    if (fx) {
        xp.z = xplus.get(ny, nx);
        xm.z = xminus.get(ny, nx);
        shift_psf(psf, &xp, dx + 0.1f, dy);
        shift_psf(psf, &xm, dx - 0.1f, dy);
        sxp = flux_scale(flux, psf_sum(xp.z, nx, ny), norm);
        sxm = flux_scale(flux, psf_sum(xm.z, nx, ny), norm);
    }
    if (fy) {
        yp.z = yplus.get(ny, nx);
        ym.z = yminus.get(ny, nx);
        shift_psf(psf, &yp, dx, dy + 0.1f);
        shift_psf(psf, &ym, dx, dy - 0.1f);
        syp = flux_scale(flux, psf_sum(yp.z, nx, ny), norm);
        sym = flux_scale(flux, psf_sum(ym.z, nx, ny), norm);
    }

    // Each PSF pixel goes to the data pixel it falls in; with os > 1 the
    // os x os PSF pixels of one data pixel add up there.
    const long nxd = df->naxes[1], nyd = df->naxes[2];
    const double step = 0.2 / os;
    for (long i = 1; i <= ny; i++) {
        const double Y = (i + ys - ny / 2 - 1 + 0.5 * (os - 1)) / os;
        // Tested before the conversion: a source far away lands on no
        // pixel, and its coordinates need not fit a whole number.
        if (!(Y > -1 && Y < nyd + 1))
            continue;
        const long iy = static_cast<long>(round_half_away(Y));
        if (iy < 1 || iy > nyd)
            continue;
        for (long j = 1; j <= nx; j++) {
            const double X = (j + xs - nx / 2 - 1 + 0.5 * (os - 1)) / os;
            if (!(X > -1 && X < nxd + 1))
                continue;
            const long ix = static_cast<long>(round_half_away(X));
            if (ix < 1 || ix > nxd)
                continue;
            df->dpm[0][iy][ix] += t.z[i][j] * scale;
            if (fx)
                df->dpm[1][iy][ix] += (xp.z[i][j] * sxp - xm.z[i][j] * sxm) / step;
            if (fy)
                df->dpm[2][iy][ix] += (yp.z[i][j] * syp - ym.z[i][j] * sym) / step;
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
