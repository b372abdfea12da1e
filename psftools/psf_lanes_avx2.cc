// The vector code compiled with AVX2 (this file only), so that four lanes
// fill one register; kernels() picks it where the processor has AVX2. No
// fused multiply-add is enabled, so every lane gets the numbers of the
// portable build.
#include "psftools/psf_lanes.h"

namespace psf_chi {

extern const Kernels kernelsAvx2;
const Kernels kernelsAvx2 = {fitLanes, firstLanes, firstInsideRow, chiAbove, smoothRow, minimaRow};

} // namespace psf_chi
