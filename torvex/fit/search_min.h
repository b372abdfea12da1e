// The fit driver: from the images and the component list of start-up to the
// output image block, the restart file and the fit.log entry.
#ifndef TORVEX_FIT_SEARCH_MIN_H
#define TORVEX_FIT_SEARCH_MIN_H

#include "torvex/structs.h"

// Clips the fit region input->imgsect to the data image (with a warning
// when it had to) and copies it into the sections of data, badpix and
// sigma; warns when the convolution box is smaller than the PSF.  Ends the
// run with status 2 when the region is empty or outside the image (or not
// given), and with status 1 when a sigma image was read whose size differs
// from the data's.
void errorcheck(inpars *input, image *data, image *badpix, image *psf, image *sigma);

// The fit and all outputs.  Cuts data, sigma (or estimates it from the data
// when none was read, sigma->err 1) and mask to the fit region, holds the
// component positions in fit-region coordinates during the fit, runs the
// fit (LevMar) unless the run only creates the model, scales the
// uncertainties by sqrt(chi^2/NDOF), writes the output image block, moves
// the positions back, writes the restart file and appends the fit.log
// entry, and releases everything it made.  Absolute position ranges of
// the constraints move with the positions.  Returns 0, or 1 when an output
// could not be written completely (each failure has been reported); an
// output image that could not be written is removed, and the restart file
// and the log entry, which names it as not written, are still written.
int search_min(image *data, image *sigma, image *psf, image *badpix, fitpars *fpar, cons *constr,
               convpars *cpar);

#endif
