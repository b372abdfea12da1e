// The tilted sky plane.
#include "torvex/model/sky.h"

#include "torvex/model/component_types.h"

void sky(float a[], int ia[], image *model, derivs *df)
{
    // The caller gives model and df the same size; never run past either.
    const long nx = model->naxes[1] < df->naxes[1] ? model->naxes[1] : df->naxes[1];
    const long ny = model->naxes[2] < df->naxes[2] ? model->naxes[2] : df->naxes[2];
    for (long y = 1; y <= ny; y++) {
        for (long x = 1; x <= nx; x++) {
            const float ox = x - xskycent, oy = y - yskycent;
            df->dpm[0][y][x] += a[SLOT_SKY] + ox * a[SLOT_DSKY_DX] + oy * a[SLOT_DSKY_DY];
            if (ia[SLOT_SKY] == 1)
                df->dpm[1][y][x] = 1;
            if (ia[SLOT_DSKY_DX] == 1)
                df->dpm[2][y][x] = ox;
            if (ia[SLOT_DSKY_DY] == 1)
                df->dpm[3][y][x] = oy;
        }
    }
}
