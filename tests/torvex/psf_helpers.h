// Images for the PSF and convolution tests: owned 1-based float images,
// analytic Gaussians, and a guard that restores the program-wide PSF state.
#ifndef TESTS_TORVEX_PSF_HELPERS_H
#define TESTS_TORVEX_PSF_HELPERS_H

#include "numerics/nrutil.h"
#include "torvex/psf/cgrid.h"
#include "torvex/psf/convolve.h"
#include "torvex/psf/convregion.h"
#include "torvex/psf/psfcheck.h"
#include "torvex/psf/shift_psf.h"
#include "torvex/structs.h"

#include <cmath>
#include <functional>
#include <vector>

namespace psftest {

// An image record that owns its pixels; f(x, y) gives pixel (column x, row y).
struct owned_image {
    image im;
    owned_image(long nx, long ny, const std::function<double(long, long)> &f = nullptr)
    {
        im.naxes[1] = nx;
        im.naxes[2] = ny;
        im.z = matrix(1, ny, 1, nx);
        for (long y = 1; y <= ny; y++)
            for (long x = 1; x <= nx; x++)
                im.z[y][x] = f ? static_cast<float>(f(x, y)) : 0.0f;
    }
    ~owned_image() { free_matrix(im.z, 1, im.naxes[2], 1, im.naxes[1]); }
    owned_image(const owned_image &) = delete;
    owned_image &operator=(const owned_image &) = delete;
    float **z() const { return im.z; }
    long nx() const { return im.naxes[1]; }
    long ny() const { return im.naxes[2]; }
    double sum() const { return sum_matrix(im.z, ny(), nx()); }
};

// A 3 x 3 diffusion kernel as getkernel makes it: padded to 4 x 4 by a
// zero first row and column, centre value c, the other eight side.
inline owned_image *padded_kernel(double c, double side)
{
    return new owned_image(4, 4, [=](long x, long y) {
        if (x == 1 || y == 1)
            return 0.0;
        return x == 3 && y == 3 ? c : side;
    });
}

// Fraction of a unit Gaussian (centre c, width s) that falls in the pixel
// x - 0.5 .. x + 0.5.
inline double pixel_gauss(double x, double c, double s)
{
    const double k = 1 / (s * std::sqrt(2.0));
    return 0.5 * (std::erf((x + 0.5 - c) * k) - std::erf((x - 0.5 - c) * k));
}

// Point sample of a unit-peak circular Gaussian.
inline double point_gauss(double x, double y, double cx, double cy, double s)
{
    return std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * s * s));
}

// Direct linear convolution with the unit-sum kernel centred on its pixel
// (nx/2 + 1, ny/2 + 1); zero beyond the image.
inline std::vector<double> direct_convolution(const owned_image &img, const owned_image &k)
{
    const long hx = k.nx() / 2, hy = k.ny() / 2;
    const double ks = k.sum();
    std::vector<double> out(img.nx() * img.ny());
    for (long y = 1; y <= img.ny(); y++)
        for (long x = 1; x <= img.nx(); x++) {
            double s = 0;
            for (long r = 1; r <= k.ny(); r++)
                for (long c = 1; c <= k.nx(); c++) {
                    const long sy = y - (r - hy - 1), sx = x - (c - hx - 1);
                    if (sx >= 1 && sx <= img.nx() && sy >= 1 && sy <= img.ny())
                        s += k.z()[r][c] / ks * img.z()[sy][sx];
                }
            out[(y - 1) * img.nx() + (x - 1)] = s;
        }
    return out;
}

// Saves the program-wide PSF state and puts it back: the tests load their
// own PSF, kernel and settings.
struct psf_state_guard {
    image psf_saved = psf;
    image tpsf_saved = tpsf;
    image *kernel_saved = kernel;
    bicubic_grid **cg_saved = cg;
    float fwhm_saved = fwhmpsf;
    inpars input_saved = input;
    float xsky = xskycent, ysky = yskycent;
    ~psf_state_guard()
    {
        psf = psf_saved;
        tpsf = tpsf_saved;
        kernel = kernel_saved;
        cg = cg_saved;
        fwhmpsf = fwhm_saved;
        input = input_saved;
        xskycent = xsky;
        yskycent = ysky;
    }
};

// Makes p the program's PSF with its FWHM, bicubic patches and a shift
// image of its size, as start-up and the fit driver do; undone by the
// destructor.
struct loaded_psf {
    psf_state_guard guard;
    owned_image shifted;
    loaded_psf(const owned_image &p) : shifted(p.nx(), p.ny())
    {
        psf = p.im;
        fwhmpsf = psf_fwhm(psf);
        cg = get_cgrid(psf);
        tpsf = shifted.im;
    }
    ~loaded_psf() { free_cgrid(cg, 0, psf.naxes[2] + 1, 0, psf.naxes[1] + 1); }
};

} // namespace psftest

#endif
