// n-dimensional complex FFT: per dimension a bit-reversal reordering and
// Danielson-Lanczos butterflies.  The twiddles follow a recurrence in double
// precision; the butterflies work in single precision.
#include "numerics/fft.h"

#include "numerics/nrutil.h"

#include <cmath>
#include <utility>

void fourn(float data[], unsigned long nn[], int ndim, int isign)
{
    if (ndim < 1)
        nrerror("fourn: ndim must be at least 1");
    if (isign != 1 && isign != -1)
        nrerror("fourn: isign must be 1 or -1");
    unsigned long ntot = 1;
    for (int idim = 1; idim <= ndim; idim++) {
        const unsigned long n = nn[idim];
        if (n == 0 || (n & (n - 1)) != 0)
            nrerror("fourn: every length must be a power of two");
        ntot *= n;
    }
    // Dimension idim, counted in floats: ip1 = 2*(product of the faster
    // dimensions) is the step between its points, ip2 = ip1*n the span of
    // one transform, ip3 = 2*ntot the whole array.
    unsigned long nprev = 1;
    for (int idim = ndim; idim >= 1; idim--) {
        const unsigned long n = nn[idim];
        const unsigned long nrem = ntot / (n * nprev);
        const unsigned long ip1 = nprev << 1, ip2 = ip1 * n, ip3 = ip2 * nrem;
        // Bit reversal along this dimension; i2rev counts in reversed order.
        unsigned long i2rev = 1;
        for (unsigned long i2 = 1; i2 <= ip2; i2 += ip1) {
            if (i2 < i2rev) {
                for (unsigned long i1 = i2; i1 <= i2 + ip1 - 2; i1 += 2) {
                    for (unsigned long i3 = i1; i3 <= ip3; i3 += ip2) {
                        const unsigned long i3rev = i2rev + i3 - i2;
                        std::swap(data[i3], data[i3rev]);
                        std::swap(data[i3 + 1], data[i3rev + 1]);
                    }
                }
            }
            unsigned long ibit = ip2 >> 1;
            while (ibit >= ip1 && i2rev > ibit) {
                i2rev -= ibit;
                ibit >>= 1;
            }
            i2rev += ibit;
        }
        // Butterflies over spans that double from 2 points to n.
        for (unsigned long ifp1 = ip1; ifp1 < ip2; ifp1 <<= 1) {
            const unsigned long ifp2 = ifp1 << 1;
            const double theta = isign * 6.28318530717959 / static_cast<double>(ifp2 / ip1);
            const double sh = std::sin(0.5 * theta);
            const double wpr = -2.0 * sh * sh, wpi = std::sin(theta);
            double wr = 1.0, wi = 0.0;
            for (unsigned long i3 = 1; i3 <= ifp1; i3 += ip1) {
                const float fwr = static_cast<float>(wr);
                const float fwi = static_cast<float>(wi);
                for (unsigned long i1 = i3; i1 <= i3 + ip1 - 2; i1 += 2) {
                    for (unsigned long k1 = i1; k1 <= ip3; k1 += ifp2) {
                        const unsigned long k2 = k1 + ifp1;
                        const float tr = fwr * data[k2] - fwi * data[k2 + 1];
                        const float ti = fwr * data[k2 + 1] + fwi * data[k2];
                        data[k2] = data[k1] - tr;
                        data[k2 + 1] = data[k1 + 1] - ti;
                        data[k1] += tr;
                        data[k1 + 1] += ti;
                    }
                }
                const double wt = wr;
                wr = wt * wpr - wi * wpi + wr;
                wi = wi * wpr + wt * wpi + wi;
            }
        }
        nprev *= n;
    }
}
