// The point source, rendered straight onto the fit region and never
// convolved per component.  It follows the calling convention of every
// component function: a[1..10] the parameters, ia[1..10] the fit flags,
// model the image record whose zeropoints convert magnitudes, df the node
// whose dpm[0] receives the image and dpm[k] the derivative by a[k] for
// every k with ia[k] = 1.
#ifndef TORVEX_PSF_PSFUNC_H
#define TORVEX_PSF_PSFUNC_H

#include "torvex/model/ellipse.h"
#include "torvex/structs.h"

// a[1], a[2] the position in fit-region pixels, a[3] the total magnitude:
// the PSF moved to the sub-pixel position, scaled so that the moved copy
// sums to the flux of that magnitude, binned to data pixels and convolved
// with the charge-diffusion kernel when one is loaded.  Light beyond the
// fit region is dropped.
void psfunc(float a[], int ia[], image *model, derivs *df);

#endif
