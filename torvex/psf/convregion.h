// The convolution box of a component: where it lies in the fit region, and
// the binning of a convolved box back into the fit region.
#ifndef TORVEX_PSF_CONVREGION_H
#define TORVEX_PSF_CONVREGION_H

#include "torvex/structs.h"

// Sets the convolution box of one component centred at (a[1], a[2]) in the
// fit region d: the section "[xmin:xmax,ymin:ymax]" in df->imgsect and the
// size of its oversampled work grid (the box at sampfac times the
// resolution with half a padded PSF of margin on every side) in df->naxes.
// A box wholly outside the region, or of no width, is "[0:0,0:0]" of size
// 0 x 0.  The box size is input.convbox.
void convregion(derivs *df, float a[], image *d, convpars *cpar);

// The margin of zeros on either side of a box's work grid along an axis
// whose padded PSF size is psfsz: half of it, rounded.  The box is placed,
// rendered and binned back with this one margin.
long box_margin(long psfsz);

// Bins the convolved work grid of one box (convolved_img.z, section in
// convolved_img.imgsect) to data pixels, convolves it with the
// charge-diffusion kernel when one is loaded, and writes it over the box's
// part of the fit-region image model.
void copy_convregion(convpars *cpar, float **model, image convolved_img, int os);

// Convolves the box images of one component with the PSF moved to the
// component's sub-pixel position and writes them, binned to data pixels,
// over its fit-region images: dpm[0] always, dpm[i] where ia[i] is 1.  a
// holds the component's parameters in fit-region pixels; boximg is the box
// image record (plate scale and zeropoints of the model), given the box's
// size, section and pixel matrices in turn.
void convolve_component(const float a[], const int ia[], derivs *fitnode, derivs *boxnode,
                        image *boximg, convpars *cpar);

#endif
