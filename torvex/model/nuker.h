// The Nuker profile, and the polar-cell integration of a function over a
// rectangle.  The component renders with the calling convention of
// torvex/model/ellipse.h: (a, ia, model, df).
#ifndef TORVEX_MODEL_NUKER_H
#define TORVEX_MODEL_NUKER_H

#include "torvex/model/ellipse.h"
#include "torvex/structs.h"

// Nuker: a[3] surface brightness at the break radius, a[4] Rb, a[5] alpha
// (raised to at least 0.01, also in the caller's a), a[6] beta, a[7] gamma.
// Pixels within 5 pixels of the grid from the centre are integrated over
// their area, their derivatives too, so closely that both follow every
// parameter smoothly wherever the centre lies in its pixel.
void nuker(float *a, int *ia, image *model, derivs *df);

// The Nuker intensity at (x, y) for parameters ta whose slot 3 holds I0
// (counts per pixel at the break radius) and slot 9 the position angle in
// radians.
float nukefunc(float *ta, float x, float y);

// Integral of func(a, x, y) over the rectangle [xmin, xmax] x [ymin, ymax],
// summed over polar cells around the centre a[1], a[2].  On entry a[9]
// holds theta = pi/2 - PA in radians (as the component functions keep it);
// it is restored (to float rounding) before the return.
float egrid(float (*func)(float *, float, float), float xmin, float xmax, float ymin, float ymax,
            float *a);

#endif
