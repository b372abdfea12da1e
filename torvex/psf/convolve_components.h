// The PSF path of the model assembly: every component but the sky and the
// point source is rendered again on its convolution box at the PSF's
// oversampling, convolved with the PSF moved to its sub-pixel position,
// binned back to data pixels and written over its fit-region images.
#ifndef TORVEX_PSF_CONVOLVE_COMPONENTS_H
#define TORVEX_PSF_CONVOLVE_COMPONENTS_H

#include "torvex/model/render.h"
#include "torvex/structs.h"

// The PSF path of mkmodel, called after every component has been rendered
// unconvolved over the fit region.  flags are the fit flags to use (null in
// fit mode: each component's own ia; in output mode an all-zero set).  For
// every component but the sky and point sources it renders the component on its
// convolution box at the PSF's oversampling (parameters from
// conv_box_params), shifts the PSF by psf_shift_fraction, convolves the box
// image and each free derivative image, bins them back to data pixels and
// writes them over the box's part of the node's fit-region images.
void convolve_components(image *model, derivs *df, fitpars *fpar, convpars *cpar, const int *flags);

// The pixels of the fit region that convolve_components writes over for the
// component p: its convolution box, or none (x1 > x2) for a component that
// is not convolved (the sky, a point source) or whose box is empty.
render::pixel_rect convolved_box(fitpars *p, image *model, convpars *cpar);

// The parameters of a component rendered on its convolution box: a is the
// component in fit-region pixels, (xmin, ymin) the box's first fit-region
// pixel, os the oversampling factor.  The centre lands on a whole grid pixel
// (the rest of the position is carried by the shifted PSF), sizes are scaled
// by os, and a surface brightness by 5 log10(os).
void conv_box_params(const float *a, const char *type, int xmin, int ymin, int os,
                     const convpars *cpar, float *ta);

// The sub-pixel fraction of a position on the oversampled grid that the
// shifted PSF carries: xos - round(xos) with xos = os a1 - (os - 1)/2.
void psf_shift_fraction(float a1, float a2, int os, float *dx, float *dy);

#endif
