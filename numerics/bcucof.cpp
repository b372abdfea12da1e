// Coefficients of a bicubic patch from values and derivatives at its corners.
#include "numerics/spline.h"

#include "numerics/nrutil.h"

#include <cmath>
#include <utility>

namespace {

// The weight table W maps the 16 corner quantities
// x = (p, dp/dt, dp/du, d2p/dtdu at the corners (0,0), (1,0), (1,1), (0,1))
// to the coefficients c[i][j] flattened as 4*(i-1) + (j-1).  It is the
// inverse of the map M from coefficients to corner quantities, built here
// from the polynomial itself and inverted once; its entries are integers.
struct Weights {
    int w[16][16];
};

// d^dt/dt^dt d^du/du^du of t^a u^b at (t, u), t and u being 0 or 1.
int term(int a, int b, int dt, int du, int t, int u)
{
    int f = 1;
    if (dt) {
        if (a == 0)
            return 0;
        f *= a;
        a--;
    }
    if (du) {
        if (b == 0)
            return 0;
        f *= b;
        b--;
    }
    if ((t == 0 && a > 0) || (u == 0 && b > 0))
        return 0;
    return f;
}

Weights derive_weights()
{
    static const int corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    static const int deriv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    int m[16][16];
    for (int r = 0; r < 16; r++) {
        const int q = r / 4, k = r % 4;
        for (int l = 0; l < 16; l++)
            m[r][l] = term(l / 4, l % 4, deriv[q][0], deriv[q][1], corner[k][0], corner[k][1]);
    }
    // Gauss-Jordan on [M | I] with partial pivoting; the entries are small
    // integers, so rounding the result recovers the exact inverse.
    double aug[16][32];
    for (int r = 0; r < 16; r++)
        for (int l = 0; l < 32; l++)
            aug[r][l] = l < 16 ? m[r][l] : (l - 16 == r ? 1.0 : 0.0);
    for (int col = 0; col < 16; col++) {
        int piv = col;
        for (int r = col + 1; r < 16; r++)
            if (std::fabs(aug[r][col]) > std::fabs(aug[piv][col]))
                piv = r;
        for (int l = 0; l < 32; l++)
            std::swap(aug[col][l], aug[piv][l]);
        const double p = aug[col][col];
        for (int l = 0; l < 32; l++)
            aug[col][l] /= p;
        for (int r = 0; r < 16; r++) {
            if (r == col)
                continue;
            const double f = aug[r][col];
            for (int l = 0; l < 32; l++)
                aug[r][l] -= f * aug[col][l];
        }
    }
    Weights wt;
    for (int r = 0; r < 16; r++)
        for (int l = 0; l < 16; l++)
            wt.w[r][l] = static_cast<int>(std::lround(aug[r][16 + l]));
    // W*M must be the identity exactly.
    for (int r = 0; r < 16; r++) {
        for (int l = 0; l < 16; l++) {
            int s = 0;
            for (int k = 0; k < 16; k++)
                s += wt.w[r][k] * m[k][l];
            if (s != (r == l ? 1 : 0))
                nrerror("bcucof: the weight table is not the inverse of the patch map");
        }
    }
    return wt;
}

} // namespace

void bcucof(float y[], float y1[], float y2[], float y12[], float d1, float d2, float **c)
{
    static const Weights wt = derive_weights();
    const float d1d2 = d1 * d2;
    float x[16];
    for (int i = 1; i <= 4; i++) {
        x[i - 1] = y[i];
        x[i + 3] = y1[i] * d1;
        x[i + 7] = y2[i] * d2;
        x[i + 11] = y12[i] * d1d2;
    }
    float cl[16];
    for (int i = 0; i < 16; i++) {
        float xx = 0.0f;
        for (int k = 0; k < 16; k++)
            xx += wt.w[i][k] * x[k];
        cl[i] = xx;
    }
    int l = 0;
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 4; j++)
            c[i][j] = cl[l++];
}
