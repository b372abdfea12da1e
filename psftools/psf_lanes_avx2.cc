// The vector fit compiled with AVX2 (this file only), so that the four lanes
// fill one register; laneKernel() picks it where the processor has AVX2. No
// fused multiply-add is enabled, so every lane gets the numbers of the
// portable build.
#include "psftools/psf_lanes.h"

namespace psf_chi {

void fitLanesAvx2(LaneJob &job)
{
    fitLanes(job);
}

} // namespace psf_chi
