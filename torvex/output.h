// The output image block: the fitted section of the data, the model and
// the residual in one FITS file, with the run settings and the parameters
// and their uncertainties in the model's header.
#ifndef TORVEX_OUTPUT_H
#define TORVEX_OUTPUT_H

#include "torvex/structs.h"

#include <fitsio.h>

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
// primary HDU.  Returns the number of header cards that failed.
int outblock(fitpars *fpar, image *d, image *model, double chisq, int ndof, int offx,
             int offy);

// Writes the run settings, every component's parameters with their
// uncertainties (objects_head), chi^2, NDOF and reduced chi^2 into HDU
// number hdu of the file img->name.  A file or HDU that cannot be opened
// ends the process through printerror; a card that cannot be written is
// reported and the others are still written.  Returns the number of
// failed cards.
int writeheader(const image *img, const fitpars *fpar, double chisq, int ndof, int hdu,
                int offx, int offy);

// The cards of every component, in list order, into the current HDU of f.
// Returns the number of failed cards (each reported).
int objects_head(const fitpars *fpar, fitsfile *f, int offx, int offy);

// Refuses an output name (B) that resolves to one of the run's input files
// (data, sigma, PSF, kernel, mask, constraints or the parameter file),
// which writing the block would destroy.  Returns 0 when the name is safe,
// else 1 after a message.
int check_output(const inpars &in);

#endif
