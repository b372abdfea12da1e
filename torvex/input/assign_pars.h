#ifndef TORVEX_INPUT_ASSIGN_PARS_H
#define TORVEX_INPUT_ASSIGN_PARS_H

#include "torvex/structs.h"

// Completes the component list as the fit needs it: slots a type does not
// use get flag -1, prescribed values are set, q > 1 is turned into q < 1,
// PA is brought into (-90, 90] and flags other than -1, 0, 1 become 0.  Also
// copies the file names into the image records, the convolution settings
// into cpar and the zeropoints and plate scale into the data image.
void assign_pars(inpars input, image *data, image *sigma, image *psf, image *badpix, fitpars *fpar,
                 convpars *cpar);

#endif
