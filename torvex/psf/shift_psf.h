// The copy of the PSF moved by a fraction of a pixel.
//
// The PSF's centre pixel is column nx/2 + 1, row ny/2 + 1 (nx, ny even after
// psfcheck); every kernel that is prepared for convolution is centred the
// same way.
#ifndef TORVEX_PSF_SHIFT_PSF_H
#define TORVEX_PSF_SHIFT_PSF_H

#include "torvex/structs.h"

// Shape and half-width of the Kaiser-Bessel window of sinc, set by shift_psf.
extern float alpha_win;
extern float tau_win;

// Writes into tpsf->z (of the PSF's size) the PSF moved by +dx columns and
// +dy rows, |dx|, |dy| <= 0.5.  A PSF with an FWHM between 1.2 and 4 pixels
// is moved by a windowed-sinc convolution with its wings from the bicubic
// patches cg; a narrower or wider one by the bicubic patches alone.  Reads
// fwhmpsf and cg.
void shift_psf(image psf, image *tpsf, float dx, float dy);

// sin(pi x)/(pi x) in a Kaiser-Bessel window of alpha_win and tau_win.
float sinc(float x);

// Modified Bessel function I0(x).
float bessi0(float x);

#endif
