// The per-component work images of a fit: one derivs node per component
// (list order) holding its image dpm[0] and one derivative image dpm[i] per
// free slot i.
#ifndef TORVEX_FIT_WORKARRAYS_H
#define TORVEX_FIT_WORKARRAYS_H

#include "torvex/structs.h"

// Gives every node of the list headed by df (one per component; the head
// is df itself, the others are allocated here) the size of model and a
// pixel matrix for dpm[0] and for each dpm[i] with ia[i] == 1; then model
// gets its own pixel matrix (unless its size is 0).
void create_work_arrays(const fitpars *fpar, image *model, derivs *df);

// The same walk for the convolution boxes: the sky gets size 0
// and no images; every other one the box that convregion gives for it in
// model, with images of the box's size (none when the box is empty).
void create_conv_arrays(fitpars *fpar, convpars *cpar, image *model, derivs *df);

// Releases the images of every node whose size is not 0 (those made by the
// allocators above), then model's pixel matrix when its size is not 0.  The
// nodes stay.
void annihilate_work_arrays(const fitpars *fpar, image *model, derivs *df);

// Releases the node and every node after it (allocated with new).
void delete_derivs(derivs *node);

// Releases the component node and every node after it (allocated with new).
void delete_fitpars(fitpars *node);

#endif
