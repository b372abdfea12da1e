// Model assembly: renders every component of the list into its work images
// and sums them into the model.
#ifndef TORVEX_MKMODEL_H
#define TORVEX_MKMODEL_H

#include "torvex/render.h"
#include "torvex/structs.h"

// Renders the components of fpar into the nodes of df (one node per
// component, list order) and sums their images into model.  output 0: fit
// mode, with a derivative image for every free slot; output 1: the model
// that is written out, without derivatives and without the components whose
// outtype is not 0.  With a PSF loaded (psf.name not "none...") each
// component's images are then convolved inside its box
// (convolve_components).
void mkmodel(image *model, derivs *df, fitpars *fpar, convpars *cpar, int output);

// Calls the component function of the type word (recognised by its first
// characters) with (a, ia, model, df).  A word that matches no type renders
// nothing; a type this build cannot render ends the run with a message.
void objselect(float *a, int *ia, const char *type, image *model, derivs *df);

// True when objselect can render the type word (an unknown word counts as
// renderable: it renders nothing).
bool component_available(const char *type);

// Sets model and, for every node with its component, dpm[0] and each dpm[i]
// with ia[i] == 1 to 0 over the node's size.
void clearmodel(image *model, derivs *df, fitpars *fpar);

// Adds every component's dpm[0] into model.
void copy_model(fitpars *fpar, image *model, derivs *df);

// The PSF path of mkmodel, called after every component has been rendered
// unconvolved over the fit region.  flags are the fit flags to use (null in
// fit mode: each component's own ia; in output mode an all-zero set).  For
// every component other than "sky" and "psf" it renders the component on its
// convolution box at the PSF's oversampling (parameters from
// conv_box_params), shifts the PSF by psf_shift_fraction, convolves the box
// image and each free derivative image, bins them back to data pixels and
// writes them over the box's part of the node's fit-region images.
void convolve_components(image *model, derivs *df, fitpars *fpar, convpars *cpar,
                         const int *flags);

// The pixels of the fit region that convolve_components writes over for the
// component p: its convolution box, or none (x1 > x2) for a component that
// is not convolved ("sky", "psf") or whose box is empty.
render::pixel_rect convolved_box(fitpars *p, image *model, convpars *cpar);

// The parameters of a component rendered on its convolution box: a is the
// component in fit-region pixels, (xmin, ymin) the box's first fit-region
// pixel, os the oversampling factor.  The centre lands on a whole grid pixel
// (the rest of the position is carried by the shifted PSF), sizes are scaled
// by os, and the surface brightness of "king" and "nuker" by 5 log10(os).
void conv_box_params(const float *a, const char *type, int xmin, int ymin, int os,
                     const convpars *cpar, float *ta);

// The sub-pixel fraction of a position on the oversampled grid that the
// shifted PSF carries: xos - round(xos) with xos = os a1 - (os - 1)/2.
void psf_shift_fraction(float a1, float a2, int os, float *dx, float *dy);

#endif
