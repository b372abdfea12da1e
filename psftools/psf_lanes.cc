// The portable build of the vector fit and the choice between the builds.
#include <atomic>

#include "psftools/psf_lanes.h"

namespace psf_chi {

#if defined(PSF_LANES_AVX2)
void fitLanesAvx2(LaneJob &job);
#endif

namespace {

std::atomic<Lanes> lanes_in_use{Lanes::Best};

void fitLanesPortable(LaneJob &job)
{
    fitLanes(job);
}

} // namespace

void useLanes(Lanes l)
{
    lanes_in_use = l;
}

Lanes lanesInUse()
{
    return lanes_in_use;
}

LaneKernel laneKernel()
{
#if defined(PSF_LANES_AVX2)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && lanes_in_use == Lanes::Best)
        return fitLanesAvx2;
#endif
    return fitLanesPortable;
}

} // namespace psf_chi
