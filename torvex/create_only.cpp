#include "torvex/create_only.h"

#include "torvex/fitlog.h"
#include "torvex/fitsimg.h"
#include "torvex/mkmodel.h"
#include "torvex/output.h"
#include "torvex/workarrays.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// chi^2 of the model against the data over the pixels the mask lets
// through (mask below 1), and NDOF = those pixels - free parameters.
// Without a sigma image chi^2 stays 0.
double model_chi2(const fitpars *fpar, const image *d, const image *s, const image *m,
                  const image *mod, int *ndof)
{
    double chisq = 0;
    long usable = 0;
    for (long y = 1; y <= mod->naxes[2]; y++)
        for (long x = 1; x <= mod->naxes[1]; x++) {
            if (!(m->z[y][x] < 1))
                continue;
            usable++;
            if (s) {
                float dy = d->z[y][x] - mod->z[y][x];
                float s2 = s->z[y][x] * s->z[y][x];
                chisq += dy * dy / s2;
            }
        }
    long nfree = 0;
    for (const fitpars *p = fpar; p; p = p->next)
        for (int j = 1; j <= 10; j++)
            nfree += p->ia[j] == 1;
    *ndof = static_cast<int>(usable - nfree);
    return chisq;
}

} // namespace

int create_only(image *data, image *sigma, image *badpix, fitpars *fpar, convpars *cpar)
{
    strcpy(data->imgsect, input.imgsect);
    strcpy(sigma->imgsect, input.imgsect);
    strcpy(badpix->imgsect, input.imgsect);
    image *d = to_mini(data);
    if (d->naxes[1] < 1 || d->naxes[2] < 1) {
        pfunc("\nThe fitting region has either zero width or is completely outside of image.\n");
        pfunc("Quitting now.\n\n");
        exit(2);
    }
    image *s = sigma->err == 0 ? to_mini(sigma) : nullptr;
    // Pixels of the region that the mask does not cover are left out.
    image *m = to_mini(badpix, 1.0f);

    // Components move into fit-region coordinates for rendering.
    int lowx = 0, highx = 0, lowy = 0, highy = 0;
    sscanf(d->imgsect, "[%d:%d,%d:%d]", &lowx, &highx, &lowy, &highy);
    offset_center(fpar, cpar, 1.0f - lowx, 1.0f - lowy);
    xskycent = (d->naxes[1] + 1) * 0.5f;
    yskycent = (d->naxes[2] + 1) * 0.5f;

    model = *d;
    model.z = nullptr;
    create_work_arrays(fpar, &model, &df);
    mkmodel(&model, &df, fpar, cpar, 1);

    // chi^2 and NDOF go into the header, so they come before it.
    int ndof = 0;
    double chisq = model_chi2(fpar, d, s, m, &model, &ndof);
    if (!s)
        pfunc("-- No sigma image: the chi^2 of the model is not computed.\n");
    for (fitpars *p = fpar; p; p = p->next)
        for (int j = 1; j <= 10; j++)
            p->sig[j] = 0;

    pfunc("\n\nFit summary is now being saved into `fit.log'.\n\n");
    int failed = outblock(fpar, d, &model, chisq, ndof, lowx - 1, lowy - 1) != 0;

    xskycent += lowx - 1;
    yskycent += lowy - 1;
    offset_center(fpar, cpar, lowx - 1.0f, lowy - 1.0f);
    char restart[RESTART_NAME_SIZE];
    failed |= outmenu(fpar, restart, 0, 0, static_cast<float>(chisq), ndof);

    long nsig = 0;
    for (const fitpars *p = fpar; p; p = p->next)
        nsig += 10;
    double *sig = dvector(1, nsig);
    for (long k = 1; k <= nsig; k++)
        sig[k] = 0;
    failed |= fitlog(1, 1, fpar, restart, sig, chisq, ndof);

    free_dvector(sig, 1, nsig);
    annihilate_work_arrays(fpar, &model, &df);
    delete_derivs(df.next);
    df.next = nullptr;
    free_mini(d);
    free_mini(s);
    free_mini(m);
    return failed;
}
