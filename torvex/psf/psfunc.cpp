// The point source.

#include "torvex/psf/psfunc.h"

#include "torvex/model/component_types.h"

#include "torvex/psf/convolve.h"
#include "torvex/psf/convolve_components.h"
#include "torvex/psf/shift_psf.h"

#include "numerics/nrutil.h"

#include <cmath>

namespace {

// F over the sum of the moved copy: the shift keeps the PSF's sum only to
// about 1% at fractional offsets, and a star must carry its whole flux
// wherever it lies.  A moved copy whose sum cannot serve (0, not finite,
// or of the other sign) falls back to the sum of the PSF itself.
float flux_scale(double flux, double moved_sum, double norm)
{
    const bool usable = std::isfinite(moved_sum) && moved_sum != 0 && (moved_sum > 0) == (norm > 0);
    return static_cast<float>(flux / (usable ? moved_sum : norm));
}

// The data pixel (1 to nd) that PSF pixel k of n falls in, with the PSF's
// centre at s in PSF pixels and os PSF pixels a data pixel; 0 when it falls
// on none.  Tested before the conversion: a source far away lands on no
// pixel, and its coordinates need not fit a whole number.
inline long data_pixel(long k, float s, long n, int os, long nd)
{
    const double p = (k + s - n / 2 - 1 + 0.5 * (os - 1)) / os;
    if (!(p > -1 && p < nd + 1))
        return 0;
    const long i = static_cast<long>(round_half_away(p));
    return i < 1 || i > nd ? 0 : i;
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
    const double norm = sum_matrix(psf.z, ny, nx);
    const double flux = std::pow(10.0, (model->magzpt - a[SLOT_MAG]) / 2.5);

    // Position in PSF pixels and the fraction of a pixel the PSF is moved.
    const float xs = static_cast<float>(a[SLOT_X] * os) - 0.5 * (os - 1);
    const float ys = static_cast<float>(a[SLOT_Y] * os) - 0.5 * (os - 1);
    float dx, dy;
    psf_shift_fraction(a[SLOT_X], a[SLOT_Y], os, &dx, &dy);

    static scratch_matrix moved, xplus, xminus, yplus, yminus;
    image t, xp, xm, yp, ym;
    // The PSF moved by (mx, my) into im, and the scale that gives it the flux.
    auto moved_copy = [&](image *im, scratch_matrix &m, float mx, float my) {
        im->naxes[1] = nx;
        im->naxes[2] = ny;
        im->z = m.get(ny, nx);
        shift_psf(psf, im, mx, my);
        return flux_scale(flux, sum_matrix(im->z, ny, nx), norm);
    };
    const float scale = moved_copy(&t, moved, dx, dy);
    const float dm = static_cast<float>(scale * 2.302585092994046 / -2.5);
    // Position derivatives: central differences over +-0.1 PSF pixel of
    // the source as it is rendered, each copy carrying the whole flux.
    const bool fx = ia[SLOT_X] == 1, fy = ia[SLOT_Y] == 1, fm = ia[SLOT_MAG] == 1;
    float sxp = 0, sxm = 0, syp = 0, sym = 0;
    if (fx) {
        sxp = moved_copy(&xp, xplus, dx + 0.1f, dy);
        sxm = moved_copy(&xm, xminus, dx - 0.1f, dy);
    }
    if (fy) {
        syp = moved_copy(&yp, yplus, dx, dy + 0.1f);
        sym = moved_copy(&ym, yminus, dx, dy - 0.1f);
    }

    // Each PSF pixel goes to the data pixel it falls in; with os > 1 the
    // os x os PSF pixels of one data pixel add up there.
    const long nxd = df->naxes[1], nyd = df->naxes[2];
    const double step = 0.2 / os;
    for (long i = 1; i <= ny; i++) {
        const long iy = data_pixel(i, ys, ny, os, nyd);
        if (iy == 0)
            continue;
        for (long j = 1; j <= nx; j++) {
            const long ix = data_pixel(j, xs, nx, os, nxd);
            if (ix == 0)
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
