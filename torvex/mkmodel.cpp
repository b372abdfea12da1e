#include "torvex/mkmodel.h"

#include "torvex/components.h"
#include "torvex/convolve.h"
#include "torvex/psfunc.h"
#include "torvex/quit.h"
#include "torvex/render.h"

#include <cmath>
#include <cstring>

namespace {

struct type_entry {
    const char *word;
    component_function render; // null: this build cannot render the type yet
};

// Matched by the first characters of the stored word, in this order.
const type_entry component_types[] = {
    {"devauc", sersic},       {"sersic", sersic}, {"nuker", nuker},
    {"expdisk", exponential}, {"moffat", moffat}, {"gaussian", gaussian},
    {"king", king},           {"psf", psfunc},    {"sky", sky},
};

const type_entry *find_type(const char *type)
{
    for (const type_entry &t : component_types)
        if (objtype_is(type, t.word))
            return &t;
    return nullptr;
}

[[noreturn]] void refuse_type(const char *type)
{
    pfunc("\n-- The component type \"%s\" cannot be rendered by this version of torvex.\n", type);
    quit_run(1);
}

bool psf_loaded()
{
    return strncmp(psf.name, "none", 4) != 0;
}

void zero(float **m, long nx, long ny)
{
    if (m && nx > 0 && ny > 0)
        std::memset(&m[1][1], 0, sizeof(float) * nx * ny);
}

} // namespace

bool component_available(const char *type)
{
    const type_entry *t = find_type(type);
    return !t || t->render;
}

void objselect(float *a, int *ia, const char *type, image *model, derivs *df)
{
    const type_entry *t = find_type(type);
    if (!t)
        return;
    if (!t->render)
        refuse_type(type);
    t->render(a, ia, model, df);
}

void clearmodel(image *model, derivs *df, fitpars *fpar)
{
    zero(model->z, model->naxes[1], model->naxes[2]);
    for (; df && fpar; df = df->next, fpar = fpar->next) {
        zero(df->dpm[0], df->naxes[1], df->naxes[2]);
        for (int i = 1; i <= 10; i++)
            if (fpar->ia[i] == 1)
                zero(df->dpm[i], df->naxes[1], df->naxes[2]);
    }
}

void copy_model(fitpars *fpar, image *model, derivs *df)
{
    const long n = model->naxes[1] * model->naxes[2];
    if (n <= 0)
        return;
    float *sum = &model->z[1][1];
    for (; df && fpar; df = df->next, fpar = fpar->next) {
        const float *c = &df->dpm[0][1][1];
        for (long i = 0; i < n; i++)
            sum[i] += c[i];
    }
}

void mkmodel(image *model, derivs *df, fitpars *fpar, convpars *cpar, int output)
{
    clearmodel(model, df, fpar);

    // The output image needs no derivatives.
    int no_derivs[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const int *flags = output ? no_derivs : nullptr;

    const bool with_psf = psf_loaded();
    derivs *node = df;
    for (fitpars *p = fpar; p && node; p = p->next, node = node->next) {
        if (output && p->outtype != 0)
            continue; // left out of the model and the residual
        // The box part is replaced by the convolved rendering below.
        render::skip_pixels box(with_psf ? convolved_box(p, model, cpar) : render::pixel_rect{});
        objselect(p->a, output ? no_derivs : p->ia, p->objtype, model, node);
    }

    if (psf_loaded())
        convolve_components(model, df, fpar, cpar, flags);

    copy_model(fpar, model, df);
}

void conv_box_params(const float *a, const char *type, int xmin, int ymin, int os,
                     const convpars *cpar, float *ta)
{
    for (int k = 1; k <= 10; k++)
        ta[k] = a[k];
    const double half_os = (os - 1) / 2.0;
    float fx = (a[1] - xmin + 1) * os;
    float fy = (a[2] - ymin + 1) * os;
    ta[1] = static_cast<float>(round_half_away(fx - half_os) + box_margin(cpar->psfsz[1]));
    ta[2] = static_cast<float>(round_half_away(fy - half_os) + box_margin(cpar->psfsz[2]));
    ta[4] = a[4] * os;
    if (objtype_is(type, "king")) {
        ta[5] = a[5] * os;
        ta[3] = static_cast<float>(a[3] + 5 * std::log10(static_cast<double>(os)));
    } else if (objtype_is(type, "nuker")) {
        ta[3] = static_cast<float>(a[3] + 5 * std::log10(static_cast<double>(os)));
    }
}

void psf_shift_fraction(float a1, float a2, int os, float *dx, float *dy)
{
    const double half_os = (os - 1) / 2.0;
    float xos = static_cast<float>(static_cast<float>(os * a1) - half_os);
    float yos = static_cast<float>(static_cast<float>(os * a2) - half_os);
    *dx = static_cast<float>(xos - round_half_away(xos));
    *dy = static_cast<float>(yos - round_half_away(yos));
}
