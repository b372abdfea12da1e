// Evaluation of a bicubic patch and its two partial derivatives.
#include "numerics/spline.h"

#include "numerics/nrutil.h"

void bcuint(float **c, float x1l, float x1u, float x2l, float x2u, float x1, float x2, float *ansy,
            float *ansy1, float *ansy2)
{
    if (x1u == x1l || x2u == x2l)
        nrerror("Bad input in routine bcuint");
    const float t = (x1 - x1l) / (x1u - x1l);
    const float u = (x2 - x2l) / (x2u - x2l);
    *ansy = *ansy2 = *ansy1 = 0.0f;
    for (int i = 4; i >= 1; i--) {
        *ansy = t * (*ansy) + ((c[i][4] * u + c[i][3]) * u + c[i][2]) * u + c[i][1];
        *ansy2 = t * (*ansy2) + (3.0 * c[i][4] * u + 2.0 * c[i][3]) * u + c[i][2];
        *ansy1 = u * (*ansy1) + (3.0 * c[4][i] * t + 2.0 * c[3][i]) * t + c[2][i];
    }
    *ansy1 /= (x1u - x1l);
    *ansy2 /= (x2u - x2l);
}
