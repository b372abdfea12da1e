#include "torvex/model/mkmodel.h"

#include "torvex/display/quit.h"
#include "torvex/model/component_types.h"
#include "torvex/psf/convolve_components.h"

#include <cmath>
#include <cstring>

namespace {

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
    const component_type *t = find_component_type(type);
    return !t || t->render;
}

void objselect(float *a, int *ia, const char *type, image *model, derivs *df)
{
    const component_type *t = find_component_type(type);
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
        for (int i = 1; i <= NSLOTS; i++)
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
    int no_derivs[NSLOTS + 1] = {};
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

    if (with_psf)
        convolve_components(model, df, fpar, cpar, flags);

    copy_model(fpar, model, df);
}
