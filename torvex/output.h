// The output image block: the fitted section of the data, the model and
// the residual in one FITS file, with the run settings and the parameters
// and their uncertainties in the model's header.
#ifndef TORVEX_OUTPUT_H
#define TORVEX_OUTPUT_H

#include "torvex/structs.h"

#include <fitsio.h>

// What outblock and writeheader return when the file could not be
// written at all.
constexpr int OUTPUT_LOST = -1;

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
int outblock(fitpars *fpar, image *d, image *model, double chisq, int ndof, int offx,
             int offy);

// Writes the run settings, every component's parameters with their
// uncertainties (objects_head), chi^2, NDOF and reduced chi^2 into HDU
// number hdu of the file img->name.  A card that cannot be written is
// reported and the others are still written.  Returns the number of
// failed cards, or OUTPUT_LOST after CFITSIO's report when the file or HDU
// cannot be opened or the file not closed.
int writeheader(const image *img, const fitpars *fpar, double chisq, int ndof, int hdu,
                int offx, int offy);

// The cards of every component, in list order, into the current HDU of f.
// Returns the number of failed cards (each reported).
int objects_head(const fitpars *fpar, fitsfile *f, int offx, int offy);

// Refuses an output name (B) that resolves to one of the run's input files
// (data, sigma, PSF, kernel, mask, constraints or the parameter file),
// which writing the block would destroy, and one under which CFITSIO
// cannot create and extend a FITS file (a missing or closed folder, an
// extension or section in the name, a compressed file): that is tried on
// a scratch file beside it, named like it, so that an existing output stays
// until the new one is written.  Returns 0 when the name is safe, else 1
// after a message.
int check_output(const inpars &in);

#endif
