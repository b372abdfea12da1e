// Gaussian smoothing with a truncated, renormalised kernel.
#include "numerics/smooth.h"

#include "numerics/nrutil.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

void smooth(float **in, float **out, long naxes[], float sigma, float radius)
{
    // Sigma 0 or a negative radius would only fill out with NaN.
    if (!(sigma > 0.0f) || !std::isfinite(sigma) || !(radius >= 0.0f) || !std::isfinite(radius))
        nrerror("smooth: sigma must be positive and radius not negative");
    const long nx = naxes[1], ny = naxes[2];
    if (nx <= 0 || ny <= 0)
        return;
    // Half-width: radius rounded half away from zero; beyond the image size
    // a wider window adds nothing.
    const long f = static_cast<long>(std::min<double>(std::floor(radius + 0.5), std::max(nx, ny)));
    // The weight of every offset of the window, the same for every pixel;
    // 0 marks the corners outside the disc.
    const long side = 2 * f + 1;
    std::vector<float> kernel(side * side);
    for (long dy = -f; dy <= f; dy++) {
        for (long dx = -f; dx <= f; dx++) {
            const float d = static_cast<float>(std::sqrt(static_cast<double>(dy * dy + dx * dx)));
            float w = 0.0f;
            if (!(d > radius)) {
                const float e = -d * d * 0.5f / sigma / sigma;
                w = static_cast<float>(std::exp(static_cast<double>(e)));
            }
            kernel[(dy + f) * side + dx + f] = w;
        }
    }
    for (long i = 1; i <= ny; i++) {
        const long k0 = std::max(1L, i - f), k1 = std::min(ny, i + f);
        for (long j = 1; j <= nx; j++) {
            const long x0 = std::max(1L, j - f), x1 = std::min(nx, j + f);
            double wsum = 0.0, fsum = 0.0;
            for (long k = k0; k <= k1; k++) {
                const float *row = in[k];
                const long base = (k - i + f) * side + f - j;
                for (long x = x0; x <= x1; x++) {
                    const float w = kernel[base + x];
                    if (w > 0.0f && std::isfinite(row[x])) {
                        wsum += w;
                        fsum += static_cast<double>(w) * row[x];
                    }
                }
            }
            out[i][j] = wsum > 0.0 ? static_cast<float>(fsum / wsum)
                                   : std::numeric_limits<float>::quiet_NaN();
        }
    }
}
