// The portable build of the vector code and the choice between the builds.
#include <atomic>

#include "psftools/psf_lanes.h"

namespace psf_chi {

#if defined(PSF_LANES_AVX2)
extern const Kernels kernelsAvx2;
#endif

namespace {

std::atomic<Lanes> lanes_in_use{Lanes::Best};

const Kernels kernelsPortable = {fitLanes, firstLanes, firstInsideRow,
                                 chiAbove, smoothRow,  minimaRow};

} // namespace

void useLanes(Lanes l)
{
    lanes_in_use = l;
}

Lanes lanesInUse()
{
    return lanes_in_use;
}

const Kernels &kernels()
{
#if defined(PSF_LANES_AVX2)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && lanes_in_use == Lanes::Best)
        return kernelsAvx2;
#endif
    return kernelsPortable;
}

} // namespace psf_chi
