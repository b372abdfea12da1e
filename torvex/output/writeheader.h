// The header of the model in the output image block: the run settings and
// every component's parameters with their uncertainties.
#ifndef TORVEX_OUTPUT_WRITEHEADER_H
#define TORVEX_OUTPUT_WRITEHEADER_H

#include "torvex/structs.h"

#include <fitsio.h>

// What outblock and writeheader return when the file could not be
// written at all.
constexpr int OUTPUT_LOST = -1;

// Writes the run settings, every component's parameters with their
// uncertainties (objects_head), chi^2, NDOF and reduced chi^2 into HDU
// number hdu of the file img->name.  A card that cannot be written is
// reported and the others are still written.  Returns the number of
// failed cards, or OUTPUT_LOST after CFITSIO's report when the file or HDU
// cannot be opened or the file not closed.
int writeheader(const image *img, const fitpars *fpar, double chisq, int ndof, int hdu, int offx,
                int offy);

// The cards of every component, in list order, into the current HDU of f.
// Returns the number of failed cards (each reported).
int objects_head(const fitpars *fpar, fitsfile *f, int offx, int offy);

#endif
