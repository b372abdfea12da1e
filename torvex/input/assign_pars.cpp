#include "torvex/input/assign_pars.h"

#include "torvex/model/component_types.h"
#include "torvex/model/pa.h"

#include <cmath>
#include <cstring>

namespace {

void complete_object(fitpars *p)
{
    float *a = p->a;
    int *ia = p->ia;

    if (a[SLOT_Q] > 1) {
        float q = 1 / a[SLOT_Q];
        a[SLOT_SIZE] = a[SLOT_SIZE] / q;
        a[SLOT_PA] = a[SLOT_PA] + 90;
        a[SLOT_Q] = q;
    }
    a[SLOT_PA] = pa(a[SLOT_PA]);
    if (ia[SLOT_Q] < 0.01)
        ia[SLOT_Q] = 0;

    // A free slot that no function fills would make the fit singular: the
    // slots a type does not use are marked.
    if (const component_type *t = find_component_type(p->objtype)) {
        for (int k = 1; k <= NSLOTS; k++) {
            const slot_desc &s = t->slot[k];
            switch (s.use) {
            case slot_use::parameter:
                if (s.value != 0 && a[k] == 0) {
                    a[k] = s.value;
                    ia[k] = 0;
                }
                break;
            case slot_use::unused:
                ia[k] = -1;
                break;
            case slot_use::fixed:
                ia[k] = 0;
                break;
            case slot_use::preset:
                a[k] = s.value;
                ia[k] = 0;
                break;
            }
        }
    }

    for (int k = 1; k <= NSLOTS; k++)
        if (ia[k] != -1 && ia[k] != 0 && ia[k] != 1)
            ia[k] = 0;
}

} // namespace

void assign_pars(inpars input, image *data, image *sigma, image *psf, image *badpix, fitpars *fpar,
                 convpars *cpar)
{
    strcpy(data->name, input.data);
    strcpy(sigma->name, input.sigma);
    strcpy(psf->name, input.psf);
    strcpy(badpix->name, input.badpix);

    for (fitpars *p = fpar; p; p = p->next)
        if (!objtype_is(p->objtype, "none"))
            complete_object(p);

    cpar->boxsz[1] = input.convbox[1];
    cpar->boxsz[2] = input.convbox[2];
    cpar->sampfac = input.sampfac;

    data->magzpt = input.magzpt;
    data->dp[1] = input.d[1];
    data->dp[2] = input.d[2];
    float area = input.d[1] * input.d[2];
    data->muzpt = static_cast<float>(input.magzpt + 2.5 * log10(static_cast<double>(area)));
}
