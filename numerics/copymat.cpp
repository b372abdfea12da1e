// Copies between the 1-based float matrices of the program and the 0-based
// double matrices of the FFT.
#include "numerics/smooth.h"

void copymat(float **fmat, double **dmat, long naxes[], int op)
{
    const long rows = naxes[2], cols = 2 * naxes[1];
    if (rows <= 0 || naxes[1] <= 0)
        return;
    if (op == 1) {
        for (long i = 0; i < rows; i++)
            for (long j = 0; j < cols; j++)
                dmat[i][j] = fmat[i + 1][j + 1];
    } else if (op == -1) {
        for (long i = 0; i < rows; i++)
            for (long j = 0; j < cols; j++)
                fmat[i + 1][j + 1] = static_cast<float>(dmat[i][j]);
    }
}
