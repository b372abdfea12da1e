// The four-lane kernels of fftsg_kernels.h compiled with AVX2 (this file
// only), so that four lanes fill one vector register; fftsg.cpp calls them
// where the processor has AVX2.  No fused multiply-add is enabled, so every
// lane gets the numbers of the baseline build.
#include "numerics/fftsg_core.h"
#include "numerics/fftsg_kernels.h"

namespace fftcore {

void cftfsub4_avx2(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub<false, 4>(n, a, ip, nw, w);
}

void cftbsub4_avx2(int n, double *a, const int *ip, int nw, const double *w)
{
    cftsub<true, 4>(n, a, ip, nw, w);
}

void rftfsub4_avx2(int n, double *a, int nc, const double *c)
{
    rftsub<false, 4>(n, a, nc, c);
}

void rftbsub4_avx2(int n, double *a, int nc, const double *c)
{
    rftsub<true, 4>(n, a, nc, c);
}

} // namespace fftcore
