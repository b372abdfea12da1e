#include "torvex/input/assign_pars.h"

#include "torvex/model/pa.h"

#include <cmath>
#include <cstring>

namespace {

void unused_slots(int *ia, int from, int to)
{
    for (int k = from; k <= to; k++)
        ia[k] = -1;
}

void complete_object(fitpars *p)
{
    float *a = p->a;
    int *ia = p->ia;
    const char *type = p->objtype;

    if (objtype_is(type, "sersic")) {
        unused_slots(ia, 6, 7);
    } else if (objtype_is(type, "devauc")) {
        a[5] = 4;
        ia[5] = 0;
        unused_slots(ia, 6, 7);
    } else if (objtype_is(type, "expdisk") || objtype_is(type, "gaussian")) {
        unused_slots(ia, 5, 7);
    } else if (objtype_is(type, "psf")) {
        unused_slots(ia, 4, 10);
    } else if (objtype_is(type, "king")) {
        if (a[6] == 0) {
            a[6] = 2;
            ia[6] = 0;
        }
        ia[7] = -1;
    } else if (objtype_is(type, "moffat")) {
        unused_slots(ia, 6, 7);
    }

    if (a[8] > 1) {
        float q = 1 / a[8];
        a[4] = a[4] / q;
        a[9] = a[9] + 90;
        a[8] = q;
    }
    a[9] = pa(a[9]);
    if (ia[8] < 0.01)
        ia[8] = 0;

    // The sky plane uses slots 1 to 3 only; a free slot that no function
    // fills would make the fit singular.
    if (objtype_is(type, "sky"))
        unused_slots(ia, 4, 10);

    for (int k = 1; k <= 10; k++)
        if (ia[k] != -1 && ia[k] != 0 && ia[k] != 1)
            ia[k] = 0;
}

} // namespace

void assign_pars(inpars input, image *data, image *sigma, image *psf, image *badpix,
                 fitpars *fpar, convpars *cpar)
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
