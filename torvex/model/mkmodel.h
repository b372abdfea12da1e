// Model assembly: renders every component of the list into its work images
// and sums them into the model.
#ifndef TORVEX_MODEL_MKMODEL_H
#define TORVEX_MODEL_MKMODEL_H

#include "torvex/structs.h"

// Renders the components of fpar into the nodes of df (one node per
// component, list order) and sums their images into model.  output 0: fit
// mode, with a derivative image for every free slot; output 1: the model
// that is written out, without derivatives and without the components whose
// outtype is not 0.  With a PSF loaded (psf.name not "none...") each
// component's images are then convolved inside its box
// (convolve_components).
void mkmodel(image *model, derivs *df, fitpars *fpar, convpars *cpar, int output);

// Calls the component function of the type word (recognised by its first
// characters) with (a, ia, model, df).  A word that matches no type renders
// nothing; a type this build cannot render ends the run with a message.
void objselect(float *a, int *ia, const char *type, image *model, derivs *df);

// True when objselect can render the type word (an unknown word counts as
// renderable: it renders nothing).
bool component_available(const char *type);

// Sets model and, for every node with its component, dpm[0] and each dpm[i]
// with ia[i] == 1 to 0 over the node's size.
void clearmodel(image *model, derivs *df, fitpars *fpar);

// Adds every component's dpm[0] into model.
void copy_model(fitpars *fpar, image *model, derivs *df);

#endif
