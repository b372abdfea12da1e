// The per-component work images of the fit region (one derivs node per
// component, in list order) and their release.
#ifndef TORVEX_WORKARRAYS_H
#define TORVEX_WORKARRAYS_H

#include "torvex/structs.h"

// Gives every component a node of model's size, df itself being the first,
// with dpm[0] and a dpm[i] for every slot whose flag is 1; then gives
// model its pixel matrix (when its size is not 0).  Pixels are not set.
void create_work_arrays(fitpars *fpar, image *model, derivs *df);

// Releases what create_work_arrays made: the images of every node whose
// size is not 0 (as the flags say they exist), then img's pixel matrix
// when its size is not 0.  The nodes themselves stay (delete_derivs).
void annihilate_work_arrays(fitpars *fpar, image *img, derivs *df);

// Releases node and every node after it.
void delete_derivs(derivs *node);

#endif
