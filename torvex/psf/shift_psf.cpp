// The PSF moved by a fraction of a pixel.
#include "torvex/psf/shift_psf.h"

#include "torvex/psf/convolve.h"

#include "numerics/spline.h"

#include <cmath>

float alpha_win = 0;
float tau_win = 0;

float bessi0(float x)
{
    // Abramowitz and Stegun 9.8.1 and 9.8.2.
    const double ax = std::fabs(x);
    if (ax < 3.75) {
        const double y = (x / 3.75) * (x / 3.75);
        return static_cast<float>(
            1.0 + y * (3.5156229 +
                       y * (3.0899424 + y * (1.2067492 + y * (0.2659732 + y * (0.360768e-1 +
                                                                               y * 0.45813e-2))))));
    }
    const double y = 3.75 / ax;
    return static_cast<float>(
        (std::exp(ax) / std::sqrt(ax)) *
        (0.39894228 +
         y * (0.1328592e-1 +
              y * (0.225319e-2 +
                   y * (-0.157565e-2 +
                        y * (0.916281e-2 +
                             y * (-0.2057706e-1 +
                                  y * (0.2635537e-1 + y * (-0.1647633e-1 + y * 0.392377e-2)))))))));
}

float sinc(float x)
{
    if (x == 0)
        return 1;
    if (std::fabs(x) > tau_win)
        return 0;
    const double pi = 3.141592654;
    const double px = pi * x;
    const double x2 = static_cast<double>(x) * x;
    const double t2 = static_cast<double>(tau_win) * tau_win;
    return static_cast<float>(std::sin(px) / px * bessi0(alpha_win * std::sqrt(1 - x2 / t2)) /
                              bessi0(alpha_win));
}

namespace {

// The PSF at the pixel (j, i) of a copy moved by (dx, dy), from the
// bicubic patches; 0 where the source lies beyond the patch array.
float bicubic_at(long j, long i, float dx, float dy, long nx, long ny)
{
    const float X = j - dx, Y = i - dy;
    const long ix = static_cast<long>(X), iy = static_cast<long>(Y);
    if (ix < 0 || iy < 0 || ix > nx || iy > ny)
        return 0;
    float v, d1, d2;
    bcuint(cg[iy][ix].c, static_cast<float>(ix), static_cast<float>(ix + 1), static_cast<float>(iy),
           static_cast<float>(iy + 1), X, Y, &v, &d1, &d2);
    return v;
}

} // namespace

void shift_psf(image psf, image *tpsf, float dx, float dy)
{
    const long nx = psf.naxes[1], ny = psf.naxes[2];
    const double f = fwhmpsf;
    float **out = tpsf->z;

    if (f < 1.2 || fwhmpsf > 4.0f) {
        for (long i = 1; i <= ny; i++)
            for (long j = 1; j <= nx; j++)
                out[i][j] = bicubic_at(j, i, dx, dy, nx, ny);
        return;
    }
    if (f <= 2.2) {
        alpha_win = 1;
        tau_win = 10;
    } else {
        alpha_win = 2;
        tau_win = 20;
    }

    for (long i = 1; i <= ny; i++)
        for (long j = 1; j <= nx; j++)
            out[i][j] = psf.z[i][j];

    // The windowed sinc over the whole window: an even kernel of 2 tau + 2
    // pixels whose centre pixel (tau + 2) has tau pixels on either side
    // (its first row and column are beyond the window and stay 0).
    static scratch_matrix kernel_space;
    const long kn = 2 * static_cast<long>(tau_win) + 2, kc = kn / 2 + 1;
    image k;
    k.z = kernel_space.get(kn, kn);
    k.naxes[1] = k.naxes[2] = kn;
    float sx[64], sy[64];
    for (long m = 1; m <= kn; m++) {
        sx[m] = sinc((m - kc) - dx);
        sy[m] = sinc((m - kc) - dy);
    }
    for (long i = 1; i <= kn; i++)
        for (long j = 1; j <= kn; j++)
            k.z[i][j] = sx[j] * sy[i];

    image moved;
    moved.z = out;
    moved.naxes[1] = nx;
    moved.naxes[2] = ny;
    long cn[3];
    double **t = psfprep_cached(sinc_cache(), k, moved.naxes, 1, cn);
    convolve(&moved, t, cn);

    // The faint wings, from 2.5 FWHM of the moved centre outwards, from the
    // patches.
    const long xc = nx / 2 + 1, yc = ny / 2 + 1;
    const double rw = 2.5 * fwhmpsf;
    for (long i = 1; i <= ny; i++) {
        for (long j = 1; j <= nx; j++) {
            const double ddx = j - xc - dx, ddy = i - yc - dy;
            if (std::sqrt(ddx * ddx + ddy * ddy) >= rw)
                out[i][j] = bicubic_at(j, i, dx, dy, nx, ny);
        }
    }
}
