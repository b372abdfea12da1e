// The output image block: the fitted section of the data, the model and
// the residual in one FITS file, with the run settings and the parameters
// and their uncertainties in the model's header.
#ifndef TORVEX_OUTPUT_OUTMODEL_H
#define TORVEX_OUTPUT_OUTMODEL_H

#include "torvex/output/writeheader.h"
#include "torvex/structs.h"

// Renders the model in output mode (components whose outtype is not 0 left
// out) and writes the block with outblock.  Component positions are in
// fit-region coordinates; offx, offy are the fit region's first column
// and row minus 1.  Returns the number of header cards that could not be
// written (each one reported).
int outmodel(fitpars *fpar, convpars *cpar, image *d, image *model, derivs *df, double chisq,
             int ndof, int offx, int offy);

// Writes the block named input.output from images already made.  Fit run
// (input.create not 1): an empty primary image, the data section d with
// the data file's header, the model with the header cards of writeheader,
// and the residual d - model.  Create-only run: the model alone in the
// primary HDU.  Returns the number of header cards that failed, or
// OUTPUT_LOST when the file could not be written: what was written of it
// is then removed, after a message.
int outblock(fitpars *fpar, image *d, image *model, double chisq, int ndof, int offx, int offy);

// Refuses an output name (B) that is empty or names a folder, one that
// resolves to one of the run's input files (data, sigma, PSF, kernel, mask,
// constraints or the parameter file), which writing the block would
// destroy, or to FIT_LOG, which the run appends to after it, and one under
// which CFITSIO cannot create and extend a FITS file (a missing or closed
// folder, an extension or section in the name, a compressed file): that is
// tried on a scratch file beside it, named like it, so that an existing
// output stays until the new one is written.
// Returns 0 when the name is safe, else 1 after a message.
int check_output(const inpars &in);

#endif
