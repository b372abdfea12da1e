// A run that only renders the model: no fit, uncertainties 0.
#ifndef TORVEX_CREATE_ONLY_H
#define TORVEX_CREATE_ONLY_H

#include "torvex/structs.h"

// Cuts data, sigma (when one was read) and mask to the fit region of
// input.imgsect, renders the model there (without the components whose
// outtype is not 0), computes chi^2 and NDOF of the model against the data,
// and writes the output image, the restart file and the fit.log entry.
// The components end in image coordinates again.  Ends the process with
// status 2 when the fit region is empty.  Returns 0, or 1 when an output
// could not be written completely (each failure reported).
int create_only(image *data, image *sigma, image *badpix, fitpars *fpar, convpars *cpar);

#endif
