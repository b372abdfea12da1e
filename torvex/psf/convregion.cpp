// The convolution box of a component: where it lies in the fit region, how
// its oversampled work grid is convolved, and how the result goes back.
#include "torvex/psf/convregion.h"

#include "torvex/model/component_types.h"

#include "torvex/psf/convolve.h"
#include "torvex/psf/convolve_components.h"
#include "torvex/psf/shift_psf.h"

#include "numerics/nrutil.h"

#include <cstdio>

namespace {

// An edge of the box, rounded, once it lies no farther than just outside
// the region [1, n] (so that a position far away, or one that is not a
// number, never reaches the conversion to a whole number).
long box_edge(double v, long n)
{
    if (!(v >= -1))
        v = -1;
    else if (v > n + 2)
        v = static_cast<double>(n + 2);
    return static_cast<long>(round_half_away(v));
}

} // namespace

long box_margin(long psfsz)
{
    return static_cast<long>(round_half_away(psfsz / 2.0));
}

void convregion(derivs *df, float a[], image *d, convpars *cpar)
{
    const double bx = input.convbox[1], by = input.convbox[2];
    long xmax = box_edge(a[SLOT_X] + bx / 2, d->naxes[1]) - 1;
    long ymax = box_edge(a[SLOT_Y] + by / 2, d->naxes[2]) - 1;
    long xmin = box_edge(a[SLOT_X] - bx / 2, d->naxes[1]);
    long ymin = box_edge(a[SLOT_Y] - by / 2, d->naxes[2]);
    if (xmax > d->naxes[1])
        xmax = d->naxes[1];
    if (ymax > d->naxes[2])
        ymax = d->naxes[2];
    if (xmin < 1)
        xmin = 1;
    if (ymin < 1)
        ymin = 1;

    // Beyond the fit region, or no pixel wide: nothing to convolve.
    if (xmax < xmin || ymax < ymin) {
        write_section(df->imgsect, section_bounds{});
        df->naxes[1] = 0;
        df->naxes[2] = 0;
        return;
    }
    const long os = input.sampfac;
    write_section(df->imgsect, section_bounds{static_cast<int>(xmin), static_cast<int>(xmax),
                                              static_cast<int>(ymin), static_cast<int>(ymax)});
    const long mx = box_margin(cpar->psfsz[1]), my = box_margin(cpar->psfsz[2]);
    df->naxes[1] = 2 * mx + os * (xmax - xmin + 1);
    df->naxes[2] = 2 * my + os * (ymax - ymin + 1);
}

void copy_convregion(convpars *cpar, float **model, image convolved_img, int os)
{
    static scratch_matrix binned_space;

    section_bounds sect;
    if (read_section(convolved_img.imgsect, &sect) != 4)
        return;
    const long xmin = sect.x1, xmax = sect.x2, ymin = sect.y1, ymax = sect.y2;
    const long nbx = xmax - xmin + 1, nby = ymax - ymin + 1;
    if (nbx <= 0 || nby <= 0 || xmin < 1 || ymin < 1)
        return;
    const long mx = box_margin(cpar->psfsz[1]), my = box_margin(cpar->psfsz[2]);
    if (mx + nbx * os > convolved_img.naxes[1] || my + nby * os > convolved_img.naxes[2])
        nrerror("copy_convregion: the box does not fit its work grid");

    // The sum, not the mean: the grid holds light per grid pixel.  Without
    // a diffusion kernel the sums go straight into the fit-region image.
    float **binned = kernel ? binned_space.get(nby, nbx) : nullptr;
    for (long Y = 1; Y <= nby; Y++) {
        float *out = kernel ? binned[Y] + 1 : model[Y + ymin - 1] + xmin;
        const long r0 = my + (Y - 1) * os + 1;
        for (long X = 1; X <= nbx; X++) {
            const long c0 = mx + (X - 1) * os + 1;
            float s = 0;
            for (long r = r0; r < r0 + os; r++) {
                const float *row = convolved_img.z[r] + c0;
                for (long c = 0; c < os; c++)
                    s += row[c];
            }
            out[X - 1] = s;
        }
    }
    if (!kernel)
        return;

    image box;
    box.z = binned;
    box.naxes[1] = nbx;
    box.naxes[2] = nby;
    long cn[3];
    double **t = psfprep_cached(kernel_cache(), *kernel, box.naxes, 1, cn);
    convolve(&box, t, cn);
    for (long Y = 1; Y <= nby; Y++)
        for (long X = 1; X <= nbx; X++)
            model[Y + ymin - 1][X + xmin - 1] = binned[Y][X];
}

void convolve_component(const float a[], const int ia[], derivs *fitnode, derivs *boxnode,
                        image *boximg, convpars *cpar)
{
    if (boxnode->naxes[1] <= 0 || boxnode->naxes[2] <= 0)
        return;
    const int os = input.sampfac;

    // The component was rendered on a whole grid pixel; the PSF carries the
    // fraction of a pixel that this dropped.
    float dx, dy;
    psf_shift_fraction(a[SLOT_X], a[SLOT_Y], os, &dx, &dy);
    shift_psf(psf, &tpsf, dx, dy);

    image shifted;
    shifted.z = tpsf.z;
    shifted.naxes[1] = psf.naxes[1];
    shifted.naxes[2] = psf.naxes[2];
    boximg->naxes[1] = boxnode->naxes[1];
    boximg->naxes[2] = boxnode->naxes[2];
    snprintf(boximg->imgsect, SECT_SIZE, "%s", boxnode->imgsect);
    long cn[3];
    double **t = psfprep_cached(box_cache(), shifted, boximg->naxes, 0, cn);

    for (int i = 0; i <= 10; i++) {
        if (i > 0 && ia[i] != 1)
            continue;
        boximg->z = boxnode->dpm[i];
        convolve(boximg, t, cn);
        copy_convregion(cpar, fitnode->dpm[i], *boximg, os);
    }
}
