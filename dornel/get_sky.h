// The polynomial sky: a weighted 2-D polynomial fitted with iterative kappa
// clipping and circular masks around the outliers.
#ifndef DORNEL_GET_SKY_H
#define DORNEL_GET_SKY_H

#include <string>

#include "orv/MArray.h"

// sky_io holds the image on entry (x = 1..nx along dimension 1, y = 1..ny)
// and the fitted sky on return; it shares its storage with the caller's
// array. A pixel enters the fit when it is finite, differs from the blank
// marker nan, is at most tresh and has a finite error above 0. Each pass
// fits, prints its pixel count and rms, and blanks a circle of the given
// radius around every pixel at least kappa errors off the fit; the passes end
// when one removes no usable pixel, or when a pass cannot be fitted (no
// pixel, fewer pixels than coefficients, a singular system or one too
// ill-conditioned to solve accurately, a surface beyond float's range),
// which keeps the surface of the pass before. The clipped image is written to cutname.
// Throws SkyError when not even the first pass can be fitted (sky_io then
// unchanged), and the FITS writer's errors (sky_io then holds the clipped
// image, which is made in its storage).
void get_sky(orv::MArray<float, 2> sky_io, orv::MArray<float, 2> err, double nan, double kappa,
             int nx, int ny, std::string cutname, int radius, int order, double tresh);

#endif
