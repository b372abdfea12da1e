// The tilted sky plane, rendered straight onto the fit region and never
// convolved.  It follows the calling convention of every component
// function: a[1..10] the parameters, ia[1..10] the fit flags, model the
// image record, df the node whose dpm[0] receives the image and dpm[k] the
// derivative by a[k] for every k with ia[k] = 1.
#ifndef TORVEX_MODEL_SKY_H
#define TORVEX_MODEL_SKY_H

#include "torvex/model/ellipse.h"
#include "torvex/structs.h"

// a[1] the level at (xskycent, yskycent), a[2] and a[3] the slopes along x
// and y per pixel.  Adds the plane to dpm[0], which the caller has cleared.
void sky(float a[], int ia[], image *model, derivs *df);

#endif
