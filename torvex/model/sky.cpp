// The tilted sky plane.
#include "torvex/model/sky.h"

void sky(float a[], int ia[], image *model, derivs *df)
{
    // The caller gives model and df the same size; never run past either.
    const long nx = model->naxes[1] < df->naxes[1] ? model->naxes[1] : df->naxes[1];
    const long ny = model->naxes[2] < df->naxes[2] ? model->naxes[2] : df->naxes[2];
    for (long y = 1; y <= ny; y++) {
        for (long x = 1; x <= nx; x++) {
            const float ox = x - xskycent, oy = y - yskycent;
            df->dpm[0][y][x] += a[1] + ox * a[2] + oy * a[3];
            if (ia[1] == 1)
                df->dpm[1][y][x] = 1;
            if (ia[2] == 1)
                df->dpm[2][y][x] = ox;
            if (ia[3] == 1)
                df->dpm[3][y][x] = oy;
        }
    }
}
