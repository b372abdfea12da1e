// The PSF path of the model assembly: every component but the sky and the
// point source is rendered again on its convolution box at the PSF's
// oversampling, convolved with the PSF moved to its sub-pixel position,
// binned back to data pixels and written over its fit-region images.
#include "torvex/psf/convolve_components.h"

#include "torvex/model/component_types.h"
#include "torvex/model/mkmodel.h"
#include "torvex/psf/convregion.h"

#include "numerics/nrutil.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The sky is not blurred; the point source is the PSF itself.  Every other
// component (an unknown word too) is convolved inside its box.
bool convolved(const char *type)
{
    const component_type *t = find_component_type(type);
    return !t || t->kind == component_kind::profile;
}

// The box images of one component, kept from one model to the next: they
// are made again only when the box changes size or another image is
// needed, so that a fit does not allocate them on every evaluation.
struct box_node {
    derivs d;
    long nx = 0, ny = 0; // size the images were made for
};

struct box_list {
    std::vector<box_node> nodes;
    ~box_list()
    {
        for (box_node &b : nodes)
            release(b);
    }
    static void release(box_node &b)
    {
        for (float **&m : b.d.dpm) {
            if (m)
                free_matrix(m, 1, b.ny, 1, b.nx);
            m = nullptr;
        }
    }
};

box_list boxes;

// Gives b cleared images for dpm[0] and every slot with ia[i] = 1, of the
// size convregion has just set.
void prepare_box(box_node &b, const int *ia)
{
    const long nx = b.d.naxes[1], ny = b.d.naxes[2];
    if (nx != b.nx || ny != b.ny) {
        box_list::release(b);
        b.nx = nx;
        b.ny = ny;
    }
    for (int i = 0; i <= NSLOTS; i++) {
        if (i > 0 && ia[i] != 1)
            continue;
        if (!b.d.dpm[i])
            b.d.dpm[i] = matrix(1, ny, 1, nx);
        std::memset(&b.d.dpm[i][1][1], 0, sizeof(float) * nx * ny);
    }
}

} // namespace

render::pixel_rect convolved_box(fitpars *p, image *model, convpars *cpar)
{
    render::pixel_rect r;
    if (!convolved(p->objtype))
        return r;
    derivs box;
    convregion(&box, p->a, model, cpar);
    section_bounds sect;
    if (box.naxes[1] <= 0 || box.naxes[2] <= 0 || read_section(box.imgsect, &sect) != 4)
        return r;
    r.x1 = sect.x1;
    r.x2 = sect.x2;
    r.y1 = sect.y1;
    r.y2 = sect.y2;
    return r;
}

void convolve_components(image *model, derivs *df, fitpars *fpar, convpars *cpar, const int *flags)
{
    const int os = input.sampfac;
    image box;
    box.dp[1] = model->dp[1];
    box.dp[2] = model->dp[2];
    box.magzpt = model->magzpt;
    box.muzpt = model->muzpt;

    size_t k = 0;
    derivs *node = df;
    for (fitpars *p = fpar; p && node; p = p->next, node = node->next, k++) {
        if (!convolved(p->objtype))
            continue;
        // In output mode a component left out of the model stays empty.
        if (flags && p->outtype != 0)
            continue;
        int ia[NSLOTS + 1];
        for (int i = 0; i <= NSLOTS; i++)
            ia[i] = flags ? flags[i] : p->ia[i];

        if (boxes.nodes.size() <= k)
            boxes.nodes.resize(k + 1);
        box_node &b = boxes.nodes[k];
        convregion(&b.d, p->a, model, cpar);
        if (b.d.naxes[1] <= 0 || b.d.naxes[2] <= 0)
            continue; // wholly outside the fit region: stays unconvolved
        prepare_box(b, ia);

        section_bounds sect;
        read_section(b.d.imgsect, &sect);
        float ta[NSLOTS + 1] = {0};
        conv_box_params(p->a, p->objtype, sect.x1, sect.y1, os, cpar, ta);
        box.naxes[1] = b.d.naxes[1];
        box.naxes[2] = b.d.naxes[2];
        std::strcpy(box.imgsect, b.d.imgsect);
        box.z = b.d.dpm[0];
        objselect(ta, ia, p->objtype, &box, &b.d);

        convolve_component(p->a, ia, node, &b.d, &box, cpar);
    }
}

void conv_box_params(const float *a, const char *type, int xmin, int ymin, int os,
                     const convpars *cpar, float *ta)
{
    const component_type *t = find_component_type(type);
    for (int k = 1; k <= NSLOTS; k++)
        ta[k] = a[k];
    const double half_os = (os - 1) / 2.0;
    float fx = (a[SLOT_X] - xmin + 1) * os;
    float fy = (a[SLOT_Y] - ymin + 1) * os;
    ta[SLOT_X] = static_cast<float>(round_half_away(fx - half_os) + box_margin(cpar->psfsz[1]));
    ta[SLOT_Y] = static_cast<float>(round_half_away(fy - half_os) + box_margin(cpar->psfsz[2]));
    ta[SLOT_SIZE] = a[SLOT_SIZE] * os;
    if (!t)
        return;
    for (int k = SLOT_SIZE + 1; k <= NSLOTS; k++)
        if (t->slot[k].size)
            ta[k] = a[k] * os;
    // A pixel of the grid covers 1/os^2 of a data pixel.
    if (t->bright == brightness::surface)
        ta[SLOT_MAG] = static_cast<float>(a[SLOT_MAG] + 5 * std::log10(static_cast<double>(os)));
}

void psf_shift_fraction(float a1, float a2, int os, float *dx, float *dy)
{
    const double half_os = (os - 1) / 2.0;
    float xos = static_cast<float>(static_cast<float>(os * a1) - half_os);
    float yos = static_cast<float>(static_cast<float>(os * a2) - half_os);
    *dx = static_cast<float>(xos - round_half_away(xos));
    *dy = static_cast<float>(yos - round_half_away(yos));
}
